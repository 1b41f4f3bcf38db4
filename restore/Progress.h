#pragma once
// Progress as a fact of the restore: how much of the input the server has
// taken, against the input's size, and the phase the server's own lines
// tell, with the figures a front end prints derived once, here.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "restore/RestoreEvents.h"

namespace restore {

// Says when fresh figures are due, a few times a second at most, however
// often it is asked: a wait may turn thousands of times a second.
class ProgressMeter {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kInterval{250};

    explicit ProgressMeter(Clock::time_point start = Clock::now()) : last_(start) {}
    bool Due(Clock::time_point now);

  private:
    Clock::time_point last_;
};

class ProgressTracker {
  public:
    using Clock = std::chrono::steady_clock;

    explicit ProgressTracker(Clock::time_point start = Clock::now())
        : start_(start), phaseStart_(start) {}

    // Follows the phase, the index being built and the rows restored from
    // one line of the server's output.
    void Line(const std::string& line, Clock::time_point now);
    // The server has taken the whole input.
    void InputEnded(Clock::time_point now);
    Phase CurrentPhase() const { return phase_; }

    // The figures at `now`, for `inputBytes` of the input taken so far of
    // `inputTotal` (-1 and nothing when the server reads the backup
    // itself), and the target's size (-1 when unknown).
    ProgressFigures Figures(Clock::time_point now, std::int64_t inputBytes,
                            std::optional<std::int64_t> inputTotal, std::int64_t targetBytes);

  private:
    void Enter(Phase phase, Clock::time_point now);

    Clock::time_point start_;
    Clock::time_point phaseStart_;
    Phase phase_ = Phase::Reading;
    bool inputEnded_ = false;
    std::string index_;
    std::int64_t recordsDone_ = 0;
    std::int64_t recordsCurrent_ = 0;
    bool recordsKnown_ = false;
    double percent_ = 0;
};

}  // namespace restore
