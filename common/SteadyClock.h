// Whole seconds of the monotonic clock: for idle and stall checks, which
// must not jump when the wall clock is set.
#pragma once

#include <chrono>
#include <cstdint>

inline int64_t SteadySeconds()
{
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::steady_clock::now().time_since_epoch()).count();
}
