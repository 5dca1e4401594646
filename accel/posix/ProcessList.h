// The POSIX pieces under CServerProcess and FindServerOf.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Starts `path` with no arguments in `directory`, in a session of its own,
// with its standard streams on /dev/null and `environment` ("NAME=value")
// added to the client's, each replacing the client's variable of its name. The child stays the caller's to reap (so its pid
// cannot be reused while the caller holds it). 0 when it could not start,
// with errno saying why.
pid_t WinExec(const std::string& path, const std::string& directory,
              const std::vector<std::string>& environment = {});

// The first live process (zombies do not count), in ascending pid order,
// whose executable's file name is exactly `name` (also while it shows as
// deleted after an upgrade) and, when `argument` is given, whose command
// line holds it as one of its words; 0 when there is none.
pid_t FindProcessByName(const std::string& name, const std::string& argument = std::string());
