#pragma once
// A request to stop a restore, raised from any thread (the thread that
// takes the signals, say) and read by the job and whichever wait it runs.
// The first request asks the restore to stop as cleanly as the server
// allows; the second asks to leave at once.

#include <atomic>
#include <functional>
#include <mutex>

namespace restore {

enum class StopLevel : int {
    None,  // go on
    Soft,  // stop the restore if the server can be made to, else wait for its end
    Hard,  // stop waiting now, whatever the server goes on doing
};

class StopToken {
  public:
    StopLevel Level() const noexcept { return static_cast<StopLevel>(level_.load()); }

    // One level further (none, then soft, then hard); the level reached.
    // Wakes whoever listens, from the caller's thread.
    StopLevel Escalate() {
        int level = level_.load();
        while (level < static_cast<int>(StopLevel::Hard) &&
               !level_.compare_exchange_weak(level, level + 1)) {
        }
        const std::lock_guard<std::mutex> lock(mutex_);
        if (wake_)
            wake_();
        return Level();
    }

    // While it lives, `wake` runs at every escalation: for a wait that may
    // block where the level is not looked at (a read from a pipe).
    class Listening {
      public:
        Listening(const StopToken& token, std::function<void()> wake) : token_(token) {
            const std::lock_guard<std::mutex> lock(token_.mutex_);
            token_.wake_ = std::move(wake);
        }
        ~Listening() {
            const std::lock_guard<std::mutex> lock(token_.mutex_);
            token_.wake_ = nullptr;
        }
        Listening(const Listening&) = delete;
        Listening& operator=(const Listening&) = delete;

      private:
        const StopToken& token_;
    };

  private:
    std::atomic<int> level_{0};
    mutable std::mutex mutex_;
    mutable std::function<void()> wake_;
};

}  // namespace restore
