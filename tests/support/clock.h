#pragma once

#include <chrono>
#include <functional>

namespace TestSupport {

using Clock = std::chrono::steady_clock;

inline double secondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// Polls `condition` every 20 ms until it holds (true) or `timeoutMs` passed (false).
bool waitFor(const std::function<bool()>& condition, int timeoutMs);

}  // namespace TestSupport
