#include "tests/support/Wait.h"

#include <signal.h>
#include <sys/wait.h>

#include <thread>

namespace test_support {

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit,
               std::chrono::milliseconds step) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(step);
    }
    return true;
}

std::optional<int> ReapChild(pid_t pid, std::chrono::milliseconds limit) {
    int status = 0;
    if (WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, limit,
                  std::chrono::milliseconds(2)))
        return status;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return std::nullopt;
}

}  // namespace test_support
