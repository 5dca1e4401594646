// The processes of the acceleration service: launching the web server from
// the program directory, finding it by its executable name, terminating it.
#pragma once

#include <string>
#include <sys/types.h>

// True when a 32-bit build of the client runs on a 64-bit kernel.
bool IsWow64();

// "caddy_64" under IsWow64, else "caddy".
const char* AccelerationServerName();

// Starts `path` with no arguments in `directory`, in a session of its own,
// with its standard streams on /dev/null; it is reaped when it exits, so no
// zombie keeps its name in the process list. 0 when it could not start.
pid_t WinExec(const std::string& path, const std::string& directory);

// The first process, in ascending pid order, whose executable's file name
// is exactly `name`; 0 when there is none.
pid_t FindProcessByName(const std::string& name);

// Terminates the first process of the service's name. False when none was
// found or it could not be killed; `lastError` then holds the errno.
bool StopAccelerationService(int& lastError);
