#pragma once
// What a running restore tells its front end, and what became of the
// database file it replaced.

#include <chrono>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>

namespace restore {

// What became of the original target database when a restore ended.
enum class OriginalFate {
    None,       // there was no file at the target
    Untouched,  // it was never moved (the restore stopped before)
    PutBack,    // moved aside, and back under its own name after the failure
    KeptAside,  // moved aside and could not be put back: it waits at the aside path
    Replaced,   // the restore succeeded and the aside copy was deleted
};

const char* FateName(OriginalFate fate);

// Where the restore stands, as far as the server's lines and the input tell.
enum class Phase {
    Reading,  // the server reads the backup: metadata and rows
    Indexes,  // the backup is all read; the server builds the indexes and finishes
};

// "reading", "indexes".
const char* PhaseName(Phase phase);

struct ProgressFigures {
    std::chrono::milliseconds elapsed{0};
    // The size the target file has reached so far, or -1 while it is absent
    // or not ours to look at (a target on another machine).
    std::int64_t targetBytes = -1;
    // For a backup this process reads: the bytes of the file as stored
    // (compressed or not) read and handed to the server so far, and the
    // file's size when it has one (not for a pipe). -1 and nothing when the
    // server reads the backup itself.
    std::int64_t inputBytes = -1;
    std::optional<std::int64_t> inputTotal;
    // The share of the input taken: never goes down, 100 once the input is
    // all taken; nothing without a total.
    std::optional<double> percent;
    // Time left until the input is all taken, when a rate is known.
    std::optional<std::chrono::milliseconds> eta;
    // Input bytes a second for a backup read here; else the target's growth.
    double bytesPerSecond = 0;
    Phase phase = Phase::Reading;
    std::chrono::milliseconds phaseElapsed{0};
    // The index the server builds, when its lines name one.
    std::string index;
    // Rows restored so far, when the server's lines count them; else -1.
    std::int64_t records = -1;
};

// What a first request to stop did.
enum class StopEffect {
    EndingInput,  // the input ends: the server abandons the restore, the original comes back
    CannotStop,   // the server cannot be stopped now: the restore is waited for to its end
};

struct FailureFacts {
    // The error that ended the restore, for a front end that words the
    // restore's own refusals itself; `message` is its English text.
    std::exception_ptr error{};
    std::string message{};
    OriginalFate fate = OriginalFate::Untouched;
    // Where the original now is (the target, or the aside copy when it
    // could not be put back; empty when there was none).
    std::string originalPath{};
    // Stopped on request, with the original back or never touched.
    bool cancelled = false;
    // The request itself was refused before anything was touched.
    bool refused = false;
};

// Receives the events of a restore in this order: Connected, TargetMovedAside
// (only when there was a target), Started, any number of OutputLine and
// Progress and at most one Stopping, Checked, then Finished or, at any
// point, Failed.
class IProgressSink {
  public:
    virtual ~IProgressSink() = default;
    virtual void Connected() {}
    virtual void TargetMovedAside(const std::string& /*target*/, const std::string& /*aside*/) {}
    virtual void Started() {}
    virtual void OutputLine(const std::string& /*line*/) {}
    virtual void Progress(const ProgressFigures& /*figures*/) {}
    virtual void Stopping(StopEffect /*effect*/) {}
    virtual void Checked(const std::string& /*attributes*/) {}
    // `fate` is Replaced or None; `leftoverPath` names an aside copy that
    // could not be deleted (empty when none was left).
    virtual void Finished(OriginalFate /*fate*/, const std::string& /*leftoverPath*/) {}
    virtual void Failed(const FailureFacts& /*facts*/) {}
};

}  // namespace restore
