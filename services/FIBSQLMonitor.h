#pragma once
// The process-wide trace monitor: every successful service operation reports
// here, and the text reaches external monitor programs when any listen.
//
// The texts travel through objects shared by name: a 2048-byte area, a mutex
// and four manual-reset events (docs/trace-monitor.md describes them for
// authors of monitor programs). A writer thread does all the writing, so the
// thread that runs the service operation never waits for a monitor program.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

class TComponent;

// What monitor programs and this writer agree on.
namespace trace_transport {

inline constexpr char kMutexName[] = "FIB.SQL.MONITOR.Mutex";
inline constexpr char kSharedMemName[] = "FIB.SQL.MONITOR.SharedMem";
inline constexpr char kWriteEventName[] = "FIB.SQL.MONITOR.WriteEvent";
inline constexpr char kWriteFinishedEventName[] = "FIB.SQL.MONITOR.WriteFinishedEvent";
inline constexpr char kReadEventName[] = "FIB.SQL.MONITOR.ReadEvent";
inline constexpr char kReadFinishedEventName[] = "FIB.SQL.MONITOR.ReadFinishedEvent";

// Layout of the shared area: byte offsets; integers are little-endian 32-bit
// signed, the timestamp a little-endian IEEE double.
inline constexpr std::size_t kAreaSize = 2048;
inline constexpr std::size_t kChunkOffset = 0;
inline constexpr std::size_t kChunkCapacity = 2002;
inline constexpr std::size_t kChunkTimestampOffset = 2004;
inline constexpr std::size_t kTransactionListenersOffset = 2012;
inline constexpr std::size_t kConnectListenersOffset = 2016;
inline constexpr std::size_t kFetchListenersOffset = 2020;
inline constexpr std::size_t kExecuteListenersOffset = 2024;
inline constexpr std::size_t kPrepareListenersOffset = 2028;
inline constexpr std::size_t kChunkLengthOffset = 2032;
inline constexpr std::size_t kChunkCategoryOffset = 2036;
inline constexpr std::size_t kReaderCountOffset = 2040;
inline constexpr std::size_t kMonitorCountOffset = 2044;

inline constexpr std::uint8_t kConnectCategory = 3;
inline constexpr std::uint8_t kServiceCategory = 5;

// Each wait of the hand-over; a monitor that lets it pass is written off.
inline constexpr std::chrono::milliseconds kHandOverTimeout{1000};
// How long switching the monitor off, or the end of the program, waits for
// the queued texts to reach a listening monitor before dropping the rest.
inline constexpr std::chrono::milliseconds kDrainLimit{2000};
// No machine runs more monitor programs than this at once; a count outside
// 0..kMaxMonitors was written by something else and is taken as 0.
inline constexpr std::int32_t kMaxMonitors = 64;

}  // namespace trace_transport

// One queued trace text.
struct TFIBTraceObject {
    std::string text;
    std::uint8_t category = 0;
    // Local time when the text was queued, in days since 1899-12-30.
    double timestamp = 0;
    // A query text: a restore posts one per poll turn, so when the queue is
    // full these make room, oldest first; every other text is kept.
    bool expendable = false;
};

struct TraceTransport;

// Hands queued texts to the monitor programs, one at a time, oldest first.
class TMonitorWriterThread {
  public:
    // Starts at once.
    explicit TMonitorWriterThread(TraceTransport& transport);
    // Stops (pending texts are dropped) and waits for the thread to end.
    ~TMonitorWriterThread();
    TMonitorWriterThread(const TMonitorWriterThread&) = delete;
    TMonitorWriterThread& operator=(const TMonitorWriterThread&) = delete;

    // Queues a text. With the queue full, the oldest queued expendable text
    // makes room; false when there is none and `message` was dropped.
    bool Post(TFIBTraceObject message);
    // Ends the thread once the queue is written out (or nobody listens).
    void Terminate();
    // Ends the thread at its next look, dropping what is still queued.
    void RequestStop();
    void WaitFor();
    // False when the thread is still running after `limit`.
    bool WaitFor(std::chrono::milliseconds limit);
    // Queued texts, the one being written included.
    std::size_t PendingCount() const;

    // The queue's bound, the text being written included, so that a monitor
    // program that stalls the hand-over cannot make it grow without end.
    static constexpr std::size_t kMaxPending = 1024;

  private:
    enum class WaitResult { Signalled, TimedOut, Stopped };
    enum class HandOver { Delivered, NobodyLeft, Stopped };

    void Execute();
    bool KeepRunning();
    void IdleWait();
    // Takes the oldest text out of the queue; false when it is empty.
    bool TakeOldest();
    void WriteMessage(const TFIBTraceObject& message);
    bool AcquireMutex();
    HandOver HandOverChunk();
    WaitResult WaitOrStop(bool readEvent);
    // One silent second has passed: counts a monitor out; false when that
    // was the last one.
    bool WriteOffMonitor();

    TraceTransport& transport_;
    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::condition_variable ended_;
    std::deque<TFIBTraceObject> pending_;
    // Only the writer thread touches the text itself; `writing_` (under
    // lock_) keeps it in the count and out of reach of Post's eviction.
    TFIBTraceObject current_;
    bool writing_ = false;
    bool finished_ = false;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> stopRequested_{false};
    std::thread thread_;  // last: starts once everything above is ready
};

class TFIBSQLMonitorHook {
  public:
    TFIBSQLMonitorHook();
    virtual ~TFIBSQLMonitorHook();
    TFIBSQLMonitorHook(const TFIBSQLMonitorHook&) = delete;
    TFIBSQLMonitorHook& operator=(const TFIBSQLMonitorHook&) = delete;

    // Database events (category 3); the dataset layer would call these.
    virtual void Connect(TComponent* database);
    virtual void Disconnect(TComponent* database);
    // Service events (category 5).
    virtual void ServiceAttach(TComponent* service);
    virtual void ServiceDetach(TComponent* service);
    virtual void ServiceQuery(TComponent* service);
    virtual void ServiceStart(TComponent* service);

    // Texts are produced only while active. Switching off stops the writer,
    // once a listening monitor has had what is queued (kDrainLimit at most).
    bool Active() const { return active_.load(); }
    void SetActive(bool value);
    // The shared objects are open and mapped.
    bool EventsCreated() const { return eventsCreated_.load(std::memory_order_acquire); }

    // Queues `text` for the monitor programs, behind the application line.
    // Never raises: a transport that cannot be opened switches the monitor off.
    void WriteTrace(const std::string& text, std::uint8_t category);

    // Registered monitor programs, as the shared area says (0 when not open).
    std::int32_t MonitorCount() const;
    bool HasWriter() const;
    std::size_t PendingCount() const;

  private:
    bool OpenSharedObjects();
    void SetActiveLocked(bool value);
    // Ends the writer; with `drain`, a listening monitor first gets what is
    // queued, for at most kDrainLimit.
    void DestroyWriterLocked(bool drain);
    void Post(const std::string& text, std::uint8_t category, bool expendable);
    // Active, monitoring on and a monitor program registered.
    bool AnyoneListens() const;
    void PostEvent(TComponent* component, const char* event, std::uint8_t category,
                   bool expendable);
    void PostServiceEvent(TComponent* component, const char* event, bool expendable = false);
    // Connect texts also need a monitor that asked for them.
    void PostConnectEvent(TComponent* database, const char* event);

    std::atomic<bool> active_{false};
    std::atomic<bool> eventsCreated_{false};
    const std::string applicationName_;
    mutable std::mutex postLock_;  // the transport's opening and the writer's life
    std::unique_ptr<TraceTransport> transport_;
    std::unique_ptr<TMonitorWriterThread> writer_;
};

// The process's trace monitor, created at first use; none once the program
// has begun to shut down.
TFIBSQLMonitorHook* TraceMonitor();

// Set at program end; from then on no trace monitor is created.
bool TraceShutdown();
// The end-of-program step (run automatically at exit once a monitor exists):
// stops the writer as switching off does, closes the shared objects, frees
// the monitor.
void ShutdownTraceMonitor();
// Process-wide switch; on from program start.
bool MonitoringEnabled();
// Back to the state of program start: no monitor, not shut down.
void ResetTraceMonitorForTests();

// The text as it is written to the shared area: bytes 0-8, 11, 12 and 14-31
// become "#$" and two upper-case hex digits.
std::string EscapeTraceText(std::string_view text);
// Local time as days since 1899-12-30, the time of day as the fraction.
double TraceTimestamp(std::chrono::system_clock::time_point when);
