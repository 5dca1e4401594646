// Where the running program lies: its path and its directory (the program
// directory holds assets/, the web server launcher and its Caddyfile).
#pragma once

#include <string>

std::string GetModuleFileNameA();
std::string GetModuleDirectory();
// File name of the executable; also the application's name.
std::string GetModuleBaseName();
