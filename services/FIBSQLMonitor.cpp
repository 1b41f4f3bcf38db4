#include "services/FIBSQLMonitor.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <exception>

#include "core/Component.h"
#include "platform/Process.h"
#include "platform/ipc/NamedObjects.h"
#include "services/FIBSQLMonitorTransport.h"

namespace tt = trace_transport;
using platform::ipc::NamedEvent;
using platform::ipc::NamedMutex;

namespace {

// How often a waiting writer looks whether it has been told to stop.
constexpr std::chrono::milliseconds kStopPoll{50};
// The writer's idle turn.
constexpr std::chrono::milliseconds kIdlePoll{50};

struct MonitorState {
    std::mutex creationLock;
    std::unique_ptr<TFIBSQLMonitorHook> owned;
    std::atomic<TFIBSQLMonitorHook*> monitor{nullptr};
    std::atomic<bool> shutdown{false};
    std::atomic<bool> monitoringEnabled{true};
};

// Never destroyed: objects torn down after the end-of-program step may still
// ask for the monitor and must find "none" rather than a destroyed state.
MonitorState& State() {
    static MonitorState* state = new MonitorState;
    return *state;
}

}  // namespace

std::string EscapeTraceText(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 32 && byte != '\t' && byte != '\n' && byte != '\r') {
            escaped += "#$";
            escaped += kHex[byte >> 4];
            escaped += kHex[byte & 0x0F];
        } else {
            escaped += c;
        }
    }
    return escaped;
}

double TraceTimestamp(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto wholeSeconds = floor<seconds>(when);
    const std::time_t t = system_clock::to_time_t(wholeSeconds);
    std::tm local{};
    localtime_r(&t, &local);
    const year_month_day date{year{local.tm_year + 1900},
                              month{static_cast<unsigned>(local.tm_mon + 1)},
                              day{static_cast<unsigned>(local.tm_mday)}};
    const auto days = (sys_days{date} - sys_days{year{1899} / December / 30}).count();
    const double secondsOfDay = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec +
                                duration<double>(when - wholeSeconds).count();
    return static_cast<double>(days) + secondsOfDay / 86400.0;
}

// ---------------------------------------------------------------------------
// Writer thread

TMonitorWriterThread::TMonitorWriterThread(TraceTransport& transport)
    : transport_(transport), thread_([this] { Execute(); }) {}

TMonitorWriterThread::~TMonitorWriterThread() {
    RequestStop();
    Terminate();
    WaitFor();
}

bool TMonitorWriterThread::Post(TFIBTraceObject message) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (pending_.size() + (writing_ ? 1 : 0) >= kMaxPending) {
            // A burst of polls must not push out the texts that say what
            // happened (attach, start, detach), and the newest queries say
            // more about a running action than the oldest.
            auto victim = std::find_if(pending_.begin(), pending_.end(),
                                       [](const TFIBTraceObject& m) { return m.expendable; });
            if (victim != pending_.end())
                pending_.erase(victim);
            else
                return false;
        }
        pending_.push_back(std::move(message));
    }
    wake_.notify_all();
    return true;
}

void TMonitorWriterThread::Terminate() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        terminated_ = true;
    }
    wake_.notify_all();
}

void TMonitorWriterThread::RequestStop() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopRequested_ = true;
    }
    wake_.notify_all();
}

void TMonitorWriterThread::WaitFor() {
    if (thread_.joinable())
        thread_.join();
}

bool TMonitorWriterThread::WaitFor(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> guard(lock_);
    return ended_.wait_for(guard, limit, [this] { return finished_; });
}

std::size_t TMonitorWriterThread::PendingCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return pending_.size() + (writing_ ? 1 : 0);
}

bool TMonitorWriterThread::KeepRunning() {
    std::lock_guard<std::mutex> guard(lock_);
    return ((!terminated_ && !TraceShutdown()) || !pending_.empty()) && !stopRequested_;
}

void TMonitorWriterThread::IdleWait() {
    std::unique_lock<std::mutex> guard(lock_);
    wake_.wait_for(guard, kIdlePoll,
                   [this] { return !pending_.empty() || terminated_ || stopRequested_; });
}

bool TMonitorWriterThread::TakeOldest() {
    std::lock_guard<std::mutex> guard(lock_);
    if (pending_.empty())
        return false;
    current_ = std::move(pending_.front());
    pending_.pop_front();
    writing_ = true;
    return true;
}

void TMonitorWriterThread::Execute() {
    while (KeepRunning()) {
        if (transport_.RepairAndReadCount(tt::kMonitorCountOffset) > 0) {
            if (!TakeOldest()) {
                IdleWait();
                continue;
            }
            WriteMessage(current_);
            std::lock_guard<std::mutex> guard(lock_);
            writing_ = false;
        } else {
            {
                std::lock_guard<std::mutex> guard(lock_);
                pending_.clear();
            }
            IdleWait();
        }
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        finished_ = true;
    }
    ended_.notify_all();
}

bool TMonitorWriterThread::AcquireMutex() {
    // Without limit, as long as nobody wants us to stop: a monitor program
    // that holds the mutex must not keep the process from ending.
    for (;;) {
        switch (transport_.mutex.Lock(kStopPoll)) {
            case NamedMutex::LockResult::Acquired:
                return true;
            case NamedMutex::LockResult::OwnerDied:
                transport_.RestoreIdleEvents();
                return true;
            case NamedMutex::LockResult::TimedOut:
                if (stopRequested_)
                    return false;
                break;
            case NamedMutex::LockResult::Failed:
                return false;
        }
    }
}

void TMonitorWriterThread::WriteMessage(const TFIBTraceObject& message) {
    if (!AcquireMutex())
        return;
    const std::string escaped = EscapeTraceText(message.text);
    for (std::size_t start = 0; start < escaped.size(); start += tt::kChunkCapacity) {
        // Also before every later chunk: once the last monitor is written
        // off the rest of the text has no reader, and each chunk would cost
        // another second.
        if (transport_.RepairAndReadCount(tt::kMonitorCountOffset) <= 0 || !AcquireMutex())
            break;
        transport_.WriteChunk(message, escaped.data() + start,
                              std::min(tt::kChunkCapacity, escaped.size() - start));
        if (HandOverChunk() != HandOver::Delivered)
            break;
    }
    transport_.mutex.Unlock();
}

TMonitorWriterThread::WaitResult TMonitorWriterThread::WaitOrStop(bool readEvent) {
    const NamedEvent& event = readEvent ? transport_.readEvent : transport_.readFinishedEvent;
    const auto deadline = std::chrono::steady_clock::now() + tt::kHandOverTimeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (event.Wait(std::clamp(left, std::chrono::milliseconds(0), kStopPoll)))
            return WaitResult::Signalled;
        if (stopRequested_)
            return WaitResult::Stopped;
        if (std::chrono::steady_clock::now() >= deadline)
            return WaitResult::TimedOut;
    }
}

bool TMonitorWriterThread::WriteOffMonitor() {
    std::int32_t monitors = transport_.RepairAndReadCount(tt::kMonitorCountOffset);
    if (monitors > 0)
        monitors = transport_.Counter(tt::kMonitorCountOffset).fetch_sub(1) - 1;
    return monitors > 0;
}

// Called holding the mutex once for the chunk (besides the message's own
// acquisition); releases the chunk's.
TMonitorWriterThread::HandOver TMonitorWriterThread::HandOverChunk() {
    TraceTransport& t = transport_;
    // Wait until the monitors are ready for a chunk. Each silent second
    // writes one off: it has probably ended without unregistering.
    for (;;) {
        WaitResult result = WaitOrStop(true);
        if (result == WaitResult::Signalled)
            break;
        // Nothing announced yet: the readers have nothing to finish.
        if (result == WaitResult::Stopped) {
            t.mutex.Unlock();
            return HandOver::Stopped;
        }
        if (!WriteOffMonitor()) {
            t.mutex.Unlock();
            return HandOver::NobodyLeft;
        }
        if (t.RepairAndReadCount(tt::kMonitorCountOffset) ==
            t.RepairAndReadCount(tt::kReaderCountOffset) + 1)
            t.readEvent.Set();
    }

    t.writeFinishedEvent.Reset();
    t.readFinishedEvent.Reset();
    // The readiness is used up by this chunk. Left set, it would let every
    // later chunk through at once, and a monitor that vanished as the last
    // one registered would never be written off: each chunk would then cost
    // a full time-out below, for as long as the process runs.
    t.readEvent.Reset();
    // A reader we counted out below for being slow counts itself out too,
    // later, and leaves the count below 0: its next chunk would then never
    // reach 0 and cost a full time-out.
    t.RepairAndReadCount(tt::kReaderCountOffset);
    t.writeEvent.Set();

    // Wait until every reader is done. A reader that stays silent for a
    // second is counted out of the readers only, never out of the monitors:
    // it may just be slow (descheduled, stopped in a debugger) and still be
    // registered. One that died there never sets ReadEvent again, so the
    // wait for it at the next chunk writes its monitor off.
    for (;;) {
        WaitResult result = WaitOrStop(false);
        if (result != WaitResult::TimedOut)
            break;  // when stopping, still close the chunk
        if (t.RepairAndReadCount(tt::kReaderCountOffset) == 0 ||
            t.Counter(tt::kReaderCountOffset).fetch_sub(1) - 1 <= 0)
            t.readFinishedEvent.Set();
    }

    t.writeEvent.Reset();
    t.writeFinishedEvent.Set();
    t.mutex.Unlock();
    return stopRequested_ ? HandOver::Stopped : HandOver::Delivered;
}

// ---------------------------------------------------------------------------
// The hook

TFIBSQLMonitorHook::TFIBSQLMonitorHook() : applicationName_(platform::ExecutableFileName()) {
    std::lock_guard<std::mutex> guard(postLock_);
    active_ = true;
    if (!OpenSharedObjects())
        SetActiveLocked(false);
}

TFIBSQLMonitorHook::~TFIBSQLMonitorHook() {
    std::lock_guard<std::mutex> guard(postLock_);
    DestroyWriterLocked(true);
    eventsCreated_ = false;
    transport_.reset();
}

bool TFIBSQLMonitorHook::OpenSharedObjects() {
    if (eventsCreated_)
        return true;
    try {
        transport_ = std::make_unique<TraceTransport>();
    } catch (const std::exception&) {
        // The monitor is a bystander: whatever holds the names (an object of
        // another kind, an account we may not use), the service operation
        // that got us here goes on without it, and nobody is told.
        return false;
    }
    eventsCreated_.store(true, std::memory_order_release);
    return true;
}

void TFIBSQLMonitorHook::SetActive(bool value) {
    std::lock_guard<std::mutex> guard(postLock_);
    SetActiveLocked(value);
}

void TFIBSQLMonitorHook::SetActiveLocked(bool value) {
    active_ = value;
    if (!value)
        DestroyWriterLocked(true);
}

void TFIBSQLMonitorHook::DestroyWriterLocked(bool drain) {
    if (!writer_)
        return;
    // What is queued still happened: a monitor that listens gets it, as the
    // writer's loop does for every other text (when nobody listens the loop
    // drops the queue at once). A monitor that stalls the hand-over must not
    // hold the program, hence the limit; destroying the writer drops the rest.
    if (drain) {
        writer_->Terminate();
        writer_->WaitFor(tt::kDrainLimit);
    }
    writer_.reset();
}

std::int32_t TFIBSQLMonitorHook::MonitorCount() const {
    if (!EventsCreated())
        return 0;
    return transport_->RepairAndReadCount(tt::kMonitorCountOffset);
}

bool TFIBSQLMonitorHook::HasWriter() const {
    std::lock_guard<std::mutex> guard(postLock_);
    return writer_ != nullptr;
}

std::size_t TFIBSQLMonitorHook::PendingCount() const {
    std::lock_guard<std::mutex> guard(postLock_);
    return writer_ ? writer_->PendingCount() : 0;
}

void TFIBSQLMonitorHook::WriteTrace(const std::string& text, std::uint8_t category) {
    Post(text, category, false);
}

void TFIBSQLMonitorHook::Post(const std::string& text, std::uint8_t category, bool expendable) {
    std::lock_guard<std::mutex> guard(postLock_);
    if (!active_)
        return;
    if (!OpenSharedObjects()) {
        SetActiveLocked(false);
        return;
    }
    if (MonitorCount() <= 0) {
        // Nobody listens: whatever is queued would be dropped anyway.
        DestroyWriterLocked(false);
        return;
    }
    TFIBTraceObject message;
    message.text = "\r\n[Application:" + applicationName_ + "]\r\n" + text;
    message.category = category;
    message.expendable = expendable;
    message.timestamp = TraceTimestamp(std::chrono::system_clock::now());
    try {
        if (!writer_)
            writer_ = std::make_unique<TMonitorWriterThread>(*transport_);
        writer_->Post(std::move(message));
    } catch (const std::exception&) {
        // No thread to be had (or no memory for the text): the text is lost,
        // but the service operation that reported it has succeeded and must
        // not be told otherwise.
    }
}

bool TFIBSQLMonitorHook::AnyoneListens() const {
    return active_ && MonitoringEnabled() && MonitorCount() > 0;
}

void TFIBSQLMonitorHook::PostEvent(TComponent* component, const char* event, std::uint8_t category,
                                   bool expendable) {
    Post((component ? component->Name() : std::string()) + event, category, expendable);
}

void TFIBSQLMonitorHook::PostServiceEvent(TComponent* component, const char* event,
                                          bool expendable) {
    // The common case, nobody listening, costs this one test.
    if (AnyoneListens())
        PostEvent(component, event, tt::kServiceCategory, expendable);
}

void TFIBSQLMonitorHook::PostConnectEvent(TComponent* database, const char* event) {
    if (AnyoneListens() && transport_->RepairAndReadCount(tt::kConnectListenersOffset) > 0)
        PostEvent(database, event, tt::kConnectCategory, false);
}

void TFIBSQLMonitorHook::ServiceAttach(TComponent* service) {
    PostServiceEvent(service, ":[Attach]");
}
void TFIBSQLMonitorHook::ServiceDetach(TComponent* service) {
    PostServiceEvent(service, ":[Detach]");
}
void TFIBSQLMonitorHook::ServiceQuery(TComponent* service) {
    PostServiceEvent(service, ":[Query]", true);
}
void TFIBSQLMonitorHook::ServiceStart(TComponent* service) {
    PostServiceEvent(service, ":[Start]");
}

void TFIBSQLMonitorHook::Connect(TComponent* database) {
    PostConnectEvent(database, ":[Connect]");
}
void TFIBSQLMonitorHook::Disconnect(TComponent* database) {
    PostConnectEvent(database, ":[Disconnect]");
}

// ---------------------------------------------------------------------------
// Process-wide state

TFIBSQLMonitorHook* TraceMonitor() {
    MonitorState& state = State();
    TFIBSQLMonitorHook* monitor = state.monitor.load(std::memory_order_acquire);
    if (monitor || state.shutdown)
        return monitor;
    std::lock_guard<std::mutex> guard(state.creationLock);
    monitor = state.monitor.load(std::memory_order_acquire);
    if (monitor || state.shutdown)
        return monitor;
    // The writer thread must be stopped before the process ends, whichever
    // way main is left.
    static const bool stopsAtExit = std::atexit(ShutdownTraceMonitor) == 0;
    (void)stopsAtExit;
    state.owned = std::make_unique<TFIBSQLMonitorHook>();
    state.monitor.store(state.owned.get(), std::memory_order_release);
    return state.owned.get();
}

bool TraceShutdown() {
    return State().shutdown.load();
}

bool MonitoringEnabled() {
    return State().monitoringEnabled.load();
}

void ShutdownTraceMonitor() {
    MonitorState& state = State();
    std::unique_ptr<TFIBSQLMonitorHook> doomed;
    {
        std::lock_guard<std::mutex> guard(state.creationLock);
        state.shutdown = true;
        state.monitor.store(nullptr, std::memory_order_release);
        doomed = std::move(state.owned);
    }
    // Outside the creation lock: the writer's loop looks at the shutdown flag.
    doomed.reset();
}

void ResetTraceMonitorForTests() {
    ShutdownTraceMonitor();
    MonitorState& state = State();
    std::lock_guard<std::mutex> guard(state.creationLock);
    state.shutdown = false;
    state.monitoringEnabled = true;
}
