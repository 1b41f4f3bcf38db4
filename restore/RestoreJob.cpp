#include "restore/RestoreJob.h"

#include <optional>

#include "core/Exceptions.h"
#include "restore/FileOps.h"
#include "restore/RestoreErrors.h"
#include "restore/TargetSwap.h"
#include "restore/WaitStrategy.h"
#include "services/IB_Services.h"
#include "services/RestoredDatabaseCheck.h"

namespace restore {

const char* FateName(OriginalFate fate) {
    switch (fate) {
        case OriginalFate::None:
            return "none";
        case OriginalFate::Untouched:
            return "untouched";
        case OriginalFate::PutBack:
            return "put_back";
        case OriginalFate::KeptAside:
            return "kept_aside";
        case OriginalFate::Replaced:
            return "replaced";
    }
    return "none";
}

ProgressMeter::ProgressMeter(std::string path, Clock::time_point start)
    : path_(std::move(path)), start_(start), last_(start) {}

bool ProgressMeter::Due(Clock::time_point now, ProgressFigures& figures) {
    if (now - last_ < kInterval)
        return false;
    last_ = now;
    figures.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - start_);
    figures.targetBytes = FileSize(path_);
    return true;
}

namespace {

// Hands the wait's output and turns on to the sink.
class JobContext : public IWaitContext {
  public:
    JobContext(IProgressSink& sink, const std::string& target) : sink_(sink), meter_(target) {}
    void OutputLine(const std::string& line) override { sink_.OutputLine(line); }
    void Turn() override {
        ProgressFigures figures;
        if (meter_.Due(ProgressMeter::Clock::now(), figures))
            sink_.Progress(figures);
    }

  private:
    IProgressSink& sink_;
    ProgressMeter meter_;
};

void DetachQuietly(TpFIBRestoreService& service) {
    try {
        if (service.Active())
            service.Detach();
    } catch (...) {
        // The first error is the one the operator needs to read.
    }
}

}  // namespace

RestoreJob::RestoreJob(TpFIBRestoreService& service, IWaitStrategy& wait, IProgressSink& sink)
    : service_(service), wait_(wait), sink_(sink) {}

void RestoreJob::Run(const RestoreRequest& request) {
    fate_ = OriginalFate::Untouched;
    originalPath_.clear();
    restoredPath_.clear();
    try {
        Attempt(request);
    } catch (const std::exception& error) {
        // Attempt has detached by now: every way out of it does.
        sink_.Failed(error.what(), fate_, originalPath_);
        throw;
    }
}

void RestoreJob::Attempt(const RestoreRequest& request) {
    // First contact: a missing library, a stopped server or refused
    // credentials stop the restore before any file is touched.
    service_.Attach();
    service_.SetActive(false);
    sink_.Connected();

    service_.BackupFile().Clear();
    service_.BackupFile().Add(request.backupPath);
    service_.DatabaseName().Clear();

    // A link in Data may lead to a database kept on another disk: the
    // restore goes there, with the aside copy beside it, and the link stays.
    restoredPath_ = request.localTarget ? FollowLinks(request.targetPath) : request.targetPath;
    if (request.localTarget && !request.replaceExisting && FileExists(restoredPath_))
        throw ETargetExists(restoredPath_);
    if (cancelled_ && cancelled_())
        throw ERestoreCancelled(restoredPath_);
    // A remote target gets a swap over nothing, which never touches a file.
    TargetSwap swap(request.localTarget ? restoredPath_ : std::string(),
                    [this](std::chrono::milliseconds d) { wait_.Pause(d); });
    if (swap.HadOriginal()) {
        fate_ = OriginalFate::PutBack;  // what a failure from here on will make of it
        originalPath_ = swap.Target();
        sink_.TargetMovedAside(swap.Target(), swap.Aside());
    } else {
        fate_ = OriginalFate::None;
    }

    try {
        service_.DatabaseName().Add(restoredPath_);
        if (cancelled_ && cancelled_())
            throw ERestoreCancelled(restoredPath_);
        service_.SetActive(true);
        service_.ServiceStart();
        sink_.Started();
        JobContext context(sink_, request.localTarget ? restoredPath_ : std::string());
        wait_.Wait(service_, context);
        if (service_.Active())
            service_.Detach();

        TRestoredDatabaseCheck check;
        check.ConnectLike(service_);
        check.SetDatabaseName(restoredPath_);
        const std::optional<std::string> attributes = check.HeaderAttributes();
        if (!TRestoredDatabaseCheck::IsOnline(attributes))
            throw ERestoreUnfinished(restoredPath_, attributes.value_or(""));
        sink_.Checked(*attributes);
    } catch (const ERestoreAbandoned&) {
        // Detaching does not stop the server, and the target is its file now.
        DetachQuietly(service_);
        fate_ = swap.Abandon();
        originalPath_ = swap.OriginalPath();
        throw;
    } catch (...) {
        DetachQuietly(service_);
        fate_ = swap.Rollback();
        originalPath_ = swap.OriginalPath();
        throw;
    }
    fate_ = swap.HadOriginal() ? OriginalFate::Replaced : OriginalFate::None;
    // The new database is good either way; a copy that will not go is named.
    originalPath_ = swap.Commit() ? std::string() : swap.Aside();
    sink_.Finished(fate_, originalPath_);
}

}  // namespace restore
