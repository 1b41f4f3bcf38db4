#include "restore/TargetSwap.h"

#include <cerrno>
#include <cstring>

#include "restore/FileOps.h"
#include "restore/RestoreErrors.h"

namespace restore {

namespace {

// How long a rollback gives the server to let go of the file a failed
// restore left behind: the server may still be cleaning up when its error
// reaches us.
constexpr auto kReleaseWait = std::chrono::seconds(2);
constexpr auto kReleaseTurn = std::chrono::milliseconds(50);

}  // namespace

TargetSwap::TargetSwap(std::string target, PauseFn pause, bool removeNewLeftover)
    : target_(std::move(target)), pause_(std::move(pause)) {
    if (target_.empty())
        return;
    if (!FileExists(target_)) {
        removeNewLeftover_ = removeNewLeftover;
        return;
    }
    const HoldProbe probe = ProbeHold(target_);
    if (probe.state == HoldState::Held)
        throw ETargetInUse(target_);
    if (probe.state == HoldState::Unknown)
        throw ETargetNotExamined(target_, probe.reason);
    aside_ = MoveAside(target_);
    if (aside_.empty())
        throw ETargetNotMoved(target_, std::strerror(errno));
}

TargetSwap::~TargetSwap() {
    if (!settled_)
        Rollback(ServerEnd::Unknown);
}

bool TargetSwap::Commit() {
    settled_ = true;
    fate_ = HadOriginal() ? OriginalFate::Replaced : OriginalFate::None;
    return !HadOriginal() || DeleteFile(aside_);
}

bool TargetSwap::RemoveLeftover() {
    auto waited = std::chrono::milliseconds(0);
    while (IsHeldOpen(target_) && waited < kReleaseWait) {
        pause_(kReleaseTurn);
        waited += kReleaseTurn;
    }
    return !IsHeldOpen(target_) && DeleteFile(target_);
}

OriginalFate TargetSwap::Rollback(ServerEnd end) {
    if (settled_)
        return fate_;
    settled_ = true;
    const bool leftover = !target_.empty() && FileExists(target_);
    if (!HadOriginal()) {
        // What a failed restore leaves is a database in maintenance mode.
        if (leftover && removeNewLeftover_ && end == ServerEnd::Ended)
            RemoveLeftover();
        return fate_ = OriginalFate::None;
    }
    if (leftover && (end == ServerEnd::Unknown || !RemoveLeftover()))
        return fate_ = OriginalFate::KeptAside;
    return fate_ = MoveBack(aside_, target_) ? OriginalFate::PutBack : OriginalFate::KeptAside;
}

OriginalFate TargetSwap::Abandon() {
    if (!settled_) {
        settled_ = true;
        fate_ = HadOriginal() ? OriginalFate::KeptAside : OriginalFate::None;
    }
    return fate_;
}

std::string TargetSwap::OriginalPath() const {
    if (!HadOriginal())
        return {};
    return fate_ == OriginalFate::KeptAside ? aside_ : target_;
}

}  // namespace restore
