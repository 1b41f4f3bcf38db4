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

// What is known of the server's restore when a restore fails.
enum class ServerEnd {
    Ended,    // the server reported its end, or never started
    Unknown,  // it may still run: the connection was lost
};

class TargetSwap {
  public:
    using PauseFn = std::function<void(std::chrono::milliseconds)>;

    // Moves `target` aside when a file is there (an empty target: nothing
    // to look after). Raises ETargetInUse when a database engine holds it
    // open, ETargetNotExamined when that cannot be told, and ETargetNotMoved
    // when it cannot be moved; in each case nothing has changed. `pause`
    // lets time pass while a rollback waits for the server to let go of the
    // target. With `removeNewLeftover`, a target that was absent is cleared
    // again by a rollback after a failure the server reported.
    TargetSwap(std::string target, PauseFn pause, bool removeNewLeftover = false);
    // Rolls back, not knowing the server's end, unless settled; never raises.
    ~TargetSwap();
    TargetSwap(const TargetSwap&) = delete;
    TargetSwap& operator=(const TargetSwap&) = delete;

    bool HadOriginal() const { return !aside_.empty(); }
    const std::string& Target() const { return target_; }
    const std::string& Aside() const { return aside_; }

    // The new database is good: the aside copy goes. A copy that cannot be
    // deleted is left where it is, named in the result's false.
    bool Commit();
    // The restore failed. When the server has ended it (it said so, or it
    // never started), whatever it left at the target goes once the server
    // lets go of it, and the original takes its name back. When its end is
    // unknown (the connection was lost), a file at the target may still be
    // the server's: it stays, and so does the original, aside; only with no
    // file at the target does the original come back. Says where the
    // original ended up; a second call repeats the first answer.
    OriginalFate Rollback(ServerEnd end);
    // Leaves everything where it is: the server still works on the target.
    // The original, if any, stays aside.
    OriginalFate Abandon();
    // Where the original is now: the target unless it had to stay aside.
    std::string OriginalPath() const;

  private:
    // Deletes what the server left at the target once it lets go of it.
    bool RemoveLeftover();

    std::string target_;
    std::string aside_;
    // No file was at the target, and one found there after a failure that
    // the server reported, which is what the server left, is to go.
    bool removeNewLeftover_ = false;
    PauseFn pause_;
    bool settled_ = false;
    OriginalFate fate_ = OriginalFate::None;
};

}  // namespace restore
