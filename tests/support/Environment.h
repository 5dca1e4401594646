// Setting the test process's environment on every system.
#pragma once

void SetEnv(const char* name, const char* value);
void UnsetEnv(const char* name);
