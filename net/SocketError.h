// The socket's own error number of a failed connection, as libcurl reports
// it (CURLINFO_OS_ERRNO): errno on POSIX, a Winsock code on Windows.
// posix/SocketError.cpp and win32/SocketError.cpp name it.
#pragma once

#include <string>

bool IsConnectionRefused(long osError);

// In English, as the C library of Linux names errno values ("Connection
// timed out").
std::string SocketErrorText(long osError);
