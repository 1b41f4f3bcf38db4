#pragma once
// Waiting in tests for something another thread or process does.

#include <chrono>
#include <functional>

namespace test_support {

// Polls `condition` every `step` until it holds (true) or `limit` has
// passed (false).
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit,
               std::chrono::milliseconds step = std::chrono::milliseconds(5));

}  // namespace test_support
