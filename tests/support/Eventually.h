// Waiting for a condition another thread brings about, with a deadline, so
// a test that fails ends with its assertion instead of hanging.
#pragma once

#include <chrono>
#include <thread>

// Whether `condition` came to hold within `limit` (checked every 10 ms).
template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(30))
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}
