#pragma once
// Waiting in tests for something another thread or process does.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>

namespace test_support {

// Polls `condition` every `step` until it holds (true) or `limit` has
// passed (false).
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit,
               std::chrono::milliseconds step = std::chrono::milliseconds(5));

// Waits up to `limit` for the child process `pid` to end and returns its
// wait status; a child that outlives the limit is killed, and there is none.
std::optional<int> ReapChild(pid_t pid, std::chrono::milliseconds limit);

}  // namespace test_support
