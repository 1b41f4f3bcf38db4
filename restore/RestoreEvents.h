#pragma once
// What a running restore tells its front end, and what became of the
// database file it replaced.

#include <chrono>
#include <cstdint>
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

struct ProgressFigures {
    std::chrono::milliseconds elapsed{0};
    // The size the target file has reached so far, or -1 while it is absent.
    std::int64_t targetBytes = -1;
};

// Receives the events of a restore in this order: Connected, TargetMovedAside
// (only when there was a target), Started, any number of OutputLine and
// Progress, Checked, then Finished or, at any point, Failed.
class IProgressSink {
  public:
    virtual ~IProgressSink() = default;
    virtual void Connected() {}
    virtual void TargetMovedAside(const std::string& /*target*/, const std::string& /*aside*/) {}
    virtual void Started() {}
    virtual void OutputLine(const std::string& /*line*/) {}
    virtual void Progress(const ProgressFigures& /*figures*/) {}
    virtual void Checked(const std::string& /*attributes*/) {}
    // `fate` is Replaced or None; `leftoverPath` names an aside copy that
    // could not be deleted (empty when none was left).
    virtual void Finished(OriginalFate /*fate*/, const std::string& /*leftoverPath*/) {}
    // `originalPath` is where the original now is (the target, or the aside
    // copy when it could not be put back; empty when there was none).
    virtual void Failed(const std::string& /*message*/, OriginalFate /*fate*/,
                        const std::string& /*originalPath*/) {}
};

}  // namespace restore
