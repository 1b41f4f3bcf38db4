#include "restore/Progress.h"

#include <algorithm>
#include <cstdlib>

#include "core/Ascii.h"

namespace restore {

namespace {

using std::chrono::duration_cast;
using std::chrono::milliseconds;

// Early rates swing widely: no time left is promised before this much input.
constexpr milliseconds kSteadyAfter{1000};

// The number just before `at` in `line`, or -1.
std::int64_t NumberBefore(const std::string& line, std::size_t at) {
    std::size_t begin = at;
    while (begin > 0 && line[begin - 1] >= '0' && line[begin - 1] <= '9') --begin;
    return begin == at ? -1 : std::strtoll(line.c_str() + begin, nullptr, 10);
}

}  // namespace

const char* PhaseName(Phase phase) {
    return phase == Phase::Indexes ? "indexes" : "reading";
}

bool ProgressMeter::Due(Clock::time_point now) {
    if (now - last_ < kInterval)
        return false;
    last_ = now;
    return true;
}

void ProgressTracker::Enter(Phase phase, Clock::time_point now) {
    if (phase_ == phase)
        return;
    phase_ = phase;
    phaseStart_ = now;
}

void ProgressTracker::Line(const std::string& line, Clock::time_point now) {
    if (line.find("creating indexes") != std::string::npos) {
        Enter(Phase::Indexes, now);
        return;
    }
    if (line.find("restoring data for table") != std::string::npos) {
        recordsDone_ += recordsCurrent_;
        recordsCurrent_ = 0;
        return;
    }
    // Each table counts its rows up from zero.
    const std::size_t at = line.find(" records restored");
    if (at != std::string::npos) {
        const std::int64_t count = NumberBefore(line, at);
        if (count >= 0) {
            recordsCurrent_ = count;
            recordsKnown_ = true;
        }
        return;
    }
    if (phase_ == Phase::Indexes) {
        // "activating and creating deferred index NAME": the name ends the line.
        const std::string text = core::Trim(line);
        const std::size_t index = text.rfind("index ");
        if (index != std::string::npos && text.find(' ', index + 6) == std::string::npos)
            index_ = text.substr(index + 6);
    }
}

void ProgressTracker::InputEnded(Clock::time_point now) {
    inputEnded_ = true;
    Enter(Phase::Indexes, now);
}

ProgressFigures ProgressTracker::Figures(Clock::time_point now, std::int64_t inputBytes,
                                         std::optional<std::int64_t> inputTotal,
                                         std::int64_t targetBytes) {
    ProgressFigures figures;
    figures.elapsed = duration_cast<milliseconds>(now - start_);
    figures.phase = phase_;
    figures.phaseElapsed = duration_cast<milliseconds>(now - phaseStart_);
    figures.index = index_;
    figures.targetBytes = targetBytes;
    figures.inputBytes = inputBytes;
    figures.inputTotal = inputTotal;
    if (recordsKnown_)
        figures.records = recordsDone_ + recordsCurrent_;

    const double seconds = static_cast<double>(figures.elapsed.count()) / 1000.0;
    const std::int64_t measured = inputBytes >= 0 ? inputBytes : targetBytes;
    if (seconds > 0 && measured > 0)
        figures.bytesPerSecond = static_cast<double>(measured) / seconds;

    if (inputTotal && *inputTotal > 0 && inputBytes >= 0) {
        double share = 100.0 * static_cast<double>(inputBytes) / static_cast<double>(*inputTotal);
        if (inputEnded_ || phase_ == Phase::Indexes)
            share = 100;
        percent_ = std::clamp(share, percent_, 100.0);
        figures.percent = percent_;
        if (phase_ == Phase::Reading && figures.elapsed >= kSteadyAfter &&
            figures.bytesPerSecond > 0) {
            const double left =
                static_cast<double>(std::max<std::int64_t>(*inputTotal - inputBytes, 0)) /
                figures.bytesPerSecond;
            figures.eta = milliseconds(static_cast<std::int64_t>(left * 1000.0));
        }
    }
    return figures;
}

}  // namespace restore
