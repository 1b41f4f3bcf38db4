#pragma once
// The restore, shared by every front end: first contact with the server,
// the swap of the existing target, the start, the wait (or the feed of a
// backup read here), the check of the restored database, and then commit
// or roll back.

#include <string>

#include "restore/RestoreEvents.h"
#include "restore/RestoreRequest.h"
#include "restore/StopToken.h"

class TpFIBRestoreService;

namespace restore {

class IWaitStrategy;

class RestoreJob {
  public:
    // The service carries the connection settings and the restore options;
    // its BackupFile and DatabaseName are filled by Run. `wait` serves a
    // backup the server reads itself; one read here is fed by the job.
    // `stop` is looked at before the target is moved, before the start and
    // at every turn of the wait.
    RestoreJob(TpFIBRestoreService& service, IWaitStrategy& wait, IProgressSink& sink,
               const StopToken& stop = NeverStop());

    // Restores and confirms, or raises the first error once the original is
    // back where it can be (the sink has heard Failed by then). A target
    // that is a symbolic link is restored where the link leads.
    void Run(const RestoreRequest& request);

    // After Run: what became of the original, and where it is.
    OriginalFate Fate() const { return fate_; }
    const std::string& OriginalPath() const { return originalPath_; }
    // The file the server restored into (the link's target for a link).
    const std::string& RestoredPath() const { return restoredPath_; }
    // After a Run that raised: what the sink heard in Failed.
    const FailureFacts& Failure() const { return failure_; }

    // A token nobody raises, for front ends that never stop a restore.
    static const StopToken& NeverStop();

  private:
    void Attempt(const RestoreRequest& request);
    // Raises EServerTooOld for an option the connected server is too old for.
    void CheckServer(const RestoreRequest& request);

    TpFIBRestoreService& service_;
    IWaitStrategy& wait_;
    IProgressSink& sink_;
    const StopToken& stop_;
    OriginalFate fate_ = OriginalFate::Untouched;
    std::string originalPath_;
    std::string restoredPath_;
    FailureFacts failure_;
};

}  // namespace restore
