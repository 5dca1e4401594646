// The monotonic clock in whole seconds or milliseconds: for idle and stall checks, which
// must not jump when the wall clock is set.
#pragma once

#include <chrono>
#include <cstdint>

inline int64_t SteadySeconds()
{
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::steady_clock::now().time_since_epoch()).count();
}

inline int64_t SteadyMilliseconds()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch()).count();
}
