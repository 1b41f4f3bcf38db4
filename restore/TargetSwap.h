#pragma once
// Owns the existing target database for the length of a restore: moves it
// aside in its own folder before the server writes, and either deletes the
// aside copy once the new database is confirmed (Commit) or puts the
// original back (Rollback, or the destructor).

#include <chrono>
#include <functional>
#include <string>

#include "restore/RestoreEvents.h"

namespace restore {

class TargetSwap {
  public:
    using PauseFn = std::function<void(std::chrono::milliseconds)>;

    // Moves `target` aside when a file is there. Raises ETargetInUse when a
    // database engine holds it open, ETargetNotExamined when that cannot be
    // told, and ETargetNotMoved when it cannot be moved; in each case
    // nothing has changed. `pause` lets time pass while
    // a rollback waits for the server to let go of the target.
    TargetSwap(std::string target, PauseFn pause);
    // Rolls back unless committed; never raises.
    ~TargetSwap();
    TargetSwap(const TargetSwap&) = delete;
    TargetSwap& operator=(const TargetSwap&) = delete;

    bool HadOriginal() const { return !aside_.empty(); }
    const std::string& Target() const { return target_; }
    const std::string& Aside() const { return aside_; }

    // The new database is good: the aside copy goes. A copy that cannot be
    // deleted is left where it is, named in the result's false.
    bool Commit();
    // The restore failed: whatever it left at the target goes (once the
    // server has let go of it) and the original takes its name back. Says
    // where the original ended up; a second call repeats the first answer.
    OriginalFate Rollback();
    // Leaves everything where it is: the server still works on the target.
    // The original, if any, stays aside.
    OriginalFate Abandon();
    // Where the original is now: the target unless it had to stay aside.
    std::string OriginalPath() const;

  private:
    std::string target_;
    std::string aside_;
    PauseFn pause_;
    bool settled_ = false;
    OriginalFate fate_ = OriginalFate::None;
};

}  // namespace restore
