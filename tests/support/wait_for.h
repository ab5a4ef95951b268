#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace perchwell::testing {

// Polls `condition` until it holds or `limit` has passed; whether it held.
inline bool waitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace perchwell::testing
