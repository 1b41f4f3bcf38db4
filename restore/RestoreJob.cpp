#include "restore/RestoreJob.h"

#include <optional>

#include "core/Exceptions.h"
#include "restore/ConnectionLoss.h"
#include "restore/FileOps.h"
#include "restore/Progress.h"
#include "restore/RestoreErrors.h"
#include "restore/StreamFeed.h"
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

namespace {

using Clock = ProgressTracker::Clock;

// Follows the wait for the job: hands output and figures to the sink,
// carries the stop request to the wait, and keeps what the wait learnt of
// the input and of the server's end.
class JobContext : public IWaitContext {
  public:
    JobContext(IProgressSink& sink, const StopToken& stop, std::string restoredPath,
               bool targetIsOurs, const IBackupSource* source)
        : sink_(sink),
          stop_(stop),
          restoredPath_(std::move(restoredPath)),
          targetIsOurs_(targetIsOurs),
          source_(source) {}

    void OutputLine(const std::string& line) override {
        const Phase before = tracker_.CurrentPhase();
        tracker_.Line(line, Clock::now());
        sink_.OutputLine(line);
        if (tracker_.CurrentPhase() != before)
            sink_.Progress(Figures(Clock::now()));
    }
    void Turn() override {
        if (stop_.Level() == StopLevel::Hard)
            throw ERestoreAbandoned(restoredPath_);
        const auto now = Clock::now();
        if (meter_.Due(now))
            sink_.Progress(Figures(now));
    }
    StopLevel Stop() const override { return stop_.Level(); }
    void Stopping(StopEffect effect) override {
        if (!stoppingTold_) {
            stoppingTold_ = true;
            sink_.Stopping(effect);
        }
    }
    void InputEnded(InputEnd how) override {
        if (how == InputEnd::Stopped) {
            inputStopped_ = true;
            return;
        }
        if (how == InputEnd::Complete) {
            tracker_.InputEnded(Clock::now());
            sink_.Progress(Figures(Clock::now()));
        }
    }
    void ServerEnded() override { serverEnded_ = true; }

    bool InputStopped() const { return inputStopped_; }
    bool ServerHasEnded() const { return serverEnded_; }

  private:
    ProgressFigures Figures(Clock::time_point now) {
        return tracker_.Figures(now, source_ ? source_->Consumed() : -1,
                                source_ ? source_->Total() : std::nullopt,
                                targetIsOurs_ ? FileSize(restoredPath_) : -1);
    }

    IProgressSink& sink_;
    const StopToken& stop_;
    std::string restoredPath_;
    bool targetIsOurs_;
    const IBackupSource* source_;
    ProgressTracker tracker_;
    ProgressMeter meter_;
    bool stoppingTold_ = false;
    bool inputStopped_ = false;
    bool serverEnded_ = false;
};

void DetachQuietly(TpFIBRestoreService& service) {
    try {
        if (service.Active())
            service.Detach();
    } catch (...) {
        // The first error is the one the operator needs to read.
    }
}

// Whether the error in flight is the server's own account of its end.
bool ServerReportedIt() {
    try {
        throw;
    } catch (const std::exception& error) {
        return IsServerReport(error);
    } catch (...) {
        return false;
    }
}

}  // namespace

void RestoreJob::CheckServer(const RestoreRequest& request) {
    if (request.needs.empty())
        return;
    const std::string version = service_.ServerVersion();
    const int major = ServerMajorVersion(version);
    for (const ServerNeed& need : request.needs)
        if (major < need.majorVersion)
            throw EServerTooOld(request.targetPath, version, need.option, need.majorVersion);
}

const StopToken& RestoreJob::NeverStop() {
    static const StopToken never;
    return never;
}

RestoreJob::RestoreJob(TpFIBRestoreService& service, IWaitStrategy& wait, IProgressSink& sink,
                       const StopToken& stop)
    : service_(service), wait_(wait), sink_(sink), stop_(stop) {}

void RestoreJob::Run(const RestoreRequest& request) {
    fate_ = OriginalFate::Untouched;
    originalPath_.clear();
    restoredPath_.clear();
    failure_ = {};
    try {
        Attempt(WithAbsolutePaths(request));
    } catch (const std::exception& error) {
        // Attempt has detached by now: every way out of it does.
        failure_ = {.error = std::current_exception(),
                    .message = error.what(),
                    .fate = fate_,
                    .originalPath = originalPath_,
                    .cancelled = dynamic_cast<const ERestoreCancelled*>(&error) != nullptr &&
                                 fate_ != OriginalFate::KeptAside,
                    .refused = dynamic_cast<const ERequestRefused*>(&error) != nullptr};
        sink_.Failed(failure_);
        throw;
    }
}

void RestoreJob::Attempt(const RestoreRequest& request) {
    // First contact: a missing library, a stopped server or refused
    // credentials stop the restore before any file is touched.
    service_.Attach();
    try {
        CheckServer(request);
    } catch (...) {
        DetachQuietly(service_);
        throw;
    }
    service_.SetActive(false);
    sink_.Connected();
    CheckRequest(request);

    const auto* stream = std::get_if<ClientStream>(&request.backup);
    service_.BackupFile().Clear();
    // The server takes a backup named so as the restore's standard input.
    service_.BackupFile().Add(stream ? TpFIBRestoreService::kBackupFromInput
                                     : std::get<ServerFile>(request.backup).path);
    service_.DatabaseName().Clear();

    const bool targetIsOurs = !request.targetIsRemote;
    // A link in Data may lead to a database kept on another disk: the
    // restore goes there, with the aside copy beside it, and the link stays.
    restoredPath_ = targetIsOurs ? FollowLinks(request.targetPath) : request.targetPath;
    if (stop_.Level() != StopLevel::None)
        throw ERestoreCancelled(restoredPath_, false);
    // A remote target gets a swap over nothing, which never touches a file.
    TargetSwap swap(
        targetIsOurs ? restoredPath_ : std::string(),
        [this](std::chrono::milliseconds d) { wait_.Pause(d); }, request.removeFailedNewTarget);
    JobContext context(sink_, stop_, restoredPath_, targetIsOurs,
                       stream ? stream->source : nullptr);
    bool startSent = false;
    try {
        if (swap.HadOriginal())
            sink_.TargetMovedAside(swap.Target(), swap.Aside());
        service_.DatabaseName().Add(restoredPath_);
        if (stop_.Level() != StopLevel::None)
            throw ERestoreCancelled(restoredPath_, false);
        service_.SetActive(true);
        startSent = true;
        service_.ServiceStart();
        sink_.Started();
        if (stream) {
            // A stop must not wait for a pipe that has nothing to give.
            const StopToken::Listening wake(stop_, [stream] { stream->source->Interrupt(); });
            StreamFeed feed(*stream->source);
            feed.Wait(service_, context);
        } else {
            wait_.Wait(service_, context);
        }
        context.ServerEnded();
        // Asked to stop, the restore is not kept even if the server got to
        // its end with what it had.
        if (context.InputStopped())
            throw ERestoreCancelled(restoredPath_, true);
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
        const bool ended = !startSent || context.ServerHasEnded() || ServerReportedIt();
        fate_ = swap.Rollback(ended ? ServerEnd::Ended : ServerEnd::Unknown);
        originalPath_ = swap.OriginalPath();
        if (context.InputStopped() && ended)
            throw ERestoreCancelled(restoredPath_, true);
        throw;
    }
    fate_ = swap.HadOriginal() ? OriginalFate::Replaced : OriginalFate::None;
    // The new database is good either way; a copy that will not go is named.
    originalPath_ = swap.Commit() ? std::string() : swap.Aside();
    sink_.Finished(fate_, originalPath_);
}

}  // namespace restore
