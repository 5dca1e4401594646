#include "net/SocketError.h"

#include <cerrno>
#include <cstring>

bool IsConnectionRefused(long osError)
{
    return osError == ECONNREFUSED;
}

std::string SocketErrorText(long osError)
{
    return std::strerror(static_cast<int>(osError));
}
