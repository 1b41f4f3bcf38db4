#pragma once
// The restore, shared by every front end: first contact with the server,
// the swap of the existing target, the start, the wait, the check of the
// restored database, and then commit or roll back.

#include <chrono>
#include <functional>
#include <string>

#include "restore/RestoreEvents.h"

class TpFIBRestoreService;

namespace restore {

class IWaitStrategy;

struct RestoreRequest {
    std::string backupPath;
    std::string targetPath;
    // An existing target is moved aside and replaced; without this it is
    // refused before anything is touched.
    bool replaceExisting = true;
    // False when the target lies on another machine's server: its files are
    // not ours to look at or move, so the server alone decides.
    bool localTarget = true;
};

// Takes the target's size a few times a second at most, however often it
// is asked: a wait may turn thousands of times a second.
class ProgressMeter {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kInterval{250};

    explicit ProgressMeter(std::string path, Clock::time_point start = Clock::now());
    // Fresh figures when the last were taken at least kInterval ago.
    bool Due(Clock::time_point now, ProgressFigures& figures);

  private:
    std::string path_;
    Clock::time_point start_;
    Clock::time_point last_;
};

class RestoreJob {
  public:
    // The service carries the connection settings; its BackupFile and
    // DatabaseName are filled by Run.
    RestoreJob(TpFIBRestoreService& service, IWaitStrategy& wait, IProgressSink& sink);

    // Restores and confirms, or raises the first error once the original is
    // back where it can be (the sink has heard Failed by then). A target
    // that is a symbolic link is restored where the link leads.
    void Run(const RestoreRequest& request);

    // Asked before the target is moved and again before the start: true
    // stops the restore there (ERestoreCancelled), with the original back.
    void SetCancelCheck(std::function<bool()> check) { cancelled_ = std::move(check); }

    // After Run: what became of the original, and where it is.
    OriginalFate Fate() const { return fate_; }
    const std::string& OriginalPath() const { return originalPath_; }
    // The file the server restored into (the link's target for a link).
    const std::string& RestoredPath() const { return restoredPath_; }

  private:
    void Attempt(const RestoreRequest& request);

    TpFIBRestoreService& service_;
    IWaitStrategy& wait_;
    IProgressSink& sink_;
    std::function<bool()> cancelled_;
    OriginalFate fate_ = OriginalFate::Untouched;
    std::string originalPath_;
    std::string restoredPath_;
};

}  // namespace restore
