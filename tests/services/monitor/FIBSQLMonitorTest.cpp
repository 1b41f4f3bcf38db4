#include "services/FIBSQLMonitor.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/Component.h"
#include "platform/Process.h"
#include "platform/ipc/NamedObjects.h"
#include "services/FIBSQLMonitorTransport.h"
#include "services/fib.h"
#include "tests/support/Wait.h"

extern char** environ;

using namespace std::chrono_literals;
namespace tt = trace_transport;
using Clock = std::chrono::steady_clock;
using platform::ipc::NamedEvent;
using platform::ipc::NamedMutex;
using platform::ipc::SharedMemory;
using test_support::WaitUntil;

namespace {

// The test's own view of the shared area, as a monitor program has it.
class AreaView {
  public:
    AreaView() : area_(SharedMemory::CreateOrOpen(tt::kSharedMemName, tt::kAreaSize)) {}
    std::int32_t Get(std::size_t offset) const { return Ref(offset).load(); }
    void Put(std::size_t offset, std::int32_t value) { Ref(offset).store(value); }
    const unsigned char* Data() const { return area_.Data(); }

  private:
    std::atomic_ref<std::int32_t> Ref(std::size_t offset) const {
        return std::atomic_ref<std::int32_t>(
            *reinterpret_cast<std::int32_t*>(area_.Data() + offset));
    }
    SharedMemory area_;
};

struct Record {
    int category = 0;
    double timestamp = 0;
    std::string bytes;
};

// The trace-monitor program in a process of its own, its output piped to us.
class MonitorProgram {
  public:
    explicit MonitorProgram(const std::vector<std::string>& extra) {
        std::vector<std::string> args{TRACE_MONITOR_PATH, "--prefix", platform::ipc::NamePrefix(),
                                      "--records"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        if (pipe(out) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        fd_ = out[0];
    }
    ~MonitorProgram() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (fd_ >= 0)
            close(fd_);
    }
    bool Started() const { return pid_ > 0; }

    // Reads until the program ends (or `limit` passes) and reaps it.
    std::vector<Record> Finish(std::chrono::milliseconds limit) {
        const auto deadline = Clock::now() + limit;
        std::string output;
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
                break;
            char buffer[4096];
            ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n <= 0)
                break;
            output.append(buffer, static_cast<std::size_t>(n));
        }
        int status = 0;
        if (WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; },
                      std::chrono::milliseconds(2000))) {
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            pid_ = -1;
        }
        return Parse(output);
    }
    int ExitCode() const { return exitCode_; }

  private:
    static std::vector<Record> Parse(const std::string& output) {
        std::vector<Record> records;
        std::size_t pos = 0;
        while (pos < output.size()) {
            std::size_t eol = output.find('\n', pos);
            if (eol == std::string::npos)
                break;
            Record r;
            int length = 0;
            if (std::sscanf(output.substr(pos, eol - pos).c_str(), "chunk %d %lf %d", &r.category,
                            &r.timestamp, &length) != 3)
                break;
            r.bytes = output.substr(eol + 1, static_cast<std::size_t>(length));
            records.push_back(r);
            pos = eol + 1 + static_cast<std::size_t>(length) + 1;
        }
        return records;
    }
    pid_t pid_ = -1;
    int fd_ = -1;
    int exitCode_ = -2;
};

const char* const kAllNames[] = {tt::kMutexName,      tt::kSharedMemName,
                                 tt::kWriteEventName, tt::kWriteFinishedEventName,
                                 tt::kReadEventName,  tt::kReadFinishedEventName};

// The named mutex can be had at once: nobody left it held.
bool MutexIsFree() {
    NamedMutex mutex = NamedMutex::CreateOrOpen(tt::kMutexName);
    if (mutex.Lock(100ms) != NamedMutex::LockResult::Acquired)
        return false;
    mutex.Unlock();
    return true;
}

std::string Header() {
    return "\r\n[Application:" + platform::ExecutableFileName() + "]\r\n";
}

bool Reaped(pid_t pid, std::chrono::milliseconds limit) {
    return test_support::ReapChild(pid, limit).has_value();
}

// Registers a child's monitor as the document says, and says it is ready to
// read; a child that cannot take the mutex ends with 1.
void RegisterInChild(TraceTransport& t) {
    if (t.mutex.Lock(1000ms) != NamedMutex::LockResult::Acquired)
        _exit(1);
    t.Counter(tt::kMonitorCountOffset).fetch_add(1);
    t.mutex.Unlock();
    t.readEvent.Set();
}

// A monitor program of our own in a child process that registers as the
// document says, counts itself in as a reader of the first chunk announced
// and dies there, before it has read a byte.
pid_t ForkReaderThatDiesMidChunk() {
    pid_t pid = fork();
    if (pid == 0) {
        TraceTransport t;
        RegisterInChild(t);
        if (!t.writeEvent.Wait(5000ms))
            _exit(2);
        t.Counter(tt::kReaderCountOffset).fetch_add(1);
        _exit(0);
    }
    return pid;
}

// A monitor program of our own in a child process that reads two chunks as
// the document says, but holds its reader count for `hold` on the first
// (descheduled, stopped in a debugger). It ends with 0 once both arrived.
pid_t ForkSlowReader(std::chrono::milliseconds hold) {
    pid_t pid = fork();
    if (pid == 0) {
        TraceTransport t;
        RegisterInChild(t);
        for (int chunk = 0; chunk < 2; ++chunk) {
            if (!t.writeEvent.Wait(5000ms))
                _exit(2);
            t.Counter(tt::kReaderCountOffset).fetch_add(1);
            std::this_thread::sleep_for(chunk == 0 ? hold : 0ms);
            t.readEvent.Reset();
            if (t.Counter(tt::kReaderCountOffset).fetch_sub(1) - 1 == 0)
                t.readFinishedEvent.Set();
            if (!t.writeFinishedEvent.Wait(5000ms))
                _exit(3);
            t.readEvent.Set();
        }
        _exit(0);
    }
    return pid;
}

bool HandOverOpen() {
    return NamedEvent::CreateOrOpen(tt::kWriteEventName, false).IsSet() &&
           !NamedEvent::CreateOrOpen(tt::kWriteFinishedEventName, true).IsSet();
}

class TraceMonitorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static int run = 0;
        processPrefix_ = platform::ipc::NamePrefix();
        platform::ipc::SetNamePrefix(processPrefix_ + "montest." + std::to_string(++run) + ".");
        ResetTraceMonitorForTests();
    }
    void TearDown() override {
        ResetTraceMonitorForTests();
        for (const char* name : kAllNames) platform::ipc::RemoveNamedObject(name);
        platform::ipc::SetNamePrefix(processPrefix_);
    }
    // Starts a monitor program and waits until it has registered.
    static void StartMonitor(MonitorProgram& program, AreaView& area) {
        ASSERT_TRUE(program.Started());
        ASSERT_TRUE(WaitUntil([&] { return area.Get(tt::kMonitorCountOffset) == 1; }, 3000ms));
    }

  private:
    std::string processPrefix_;
};

TEST(TraceText, ControlBytesAreEscapedAndLayoutCharactersKept) {
    const std::string raw("a\x01\tb\r\n\x0b\x0c\x0e\x1f\x00 \x7f\xc8~", 15);
    EXPECT_EQ(EscapeTraceText(raw), std::string("a#$01\tb\r\n#$0B#$0C#$0E#$1F#$00 \x7f\xc8~"));
}

TEST(TraceText, TimestampCountsLocalDaysSince18991230) {
    std::tm local{};
    local.tm_year = 100;  // 2000-01-01 12:00:00 local
    local.tm_mday = 1;
    local.tm_hour = 12;
    local.tm_isdst = -1;
    auto when = std::chrono::system_clock::from_time_t(std::mktime(&local)) + 250ms;
    EXPECT_NEAR(TraceTimestamp(when), 36526.5 + 0.25 / 86400.0, 1e-9);
}

TEST_F(TraceMonitorTest, ConcurrentFirstUsesShareOneMonitor) {
    std::vector<std::thread> threads;
    std::atomic<TFIBSQLMonitorHook*> seen[4] = {};
    for (auto& slot : seen) threads.emplace_back([&slot] { slot = TraceMonitor(); });
    for (auto& t : threads) t.join();
    ASSERT_NE(seen[0].load(), nullptr);
    for (auto& slot : seen) EXPECT_EQ(slot.load(), seen[0].load());
}

TEST_F(TraceMonitorTest, WithoutMonitorsAnEventOpensTheObjectsAndWritesNothing) {
    TComponent service;
    service.SetName("pFIBRestoreService1");
    TFIBSQLMonitorHook* monitor = TraceMonitor();
    ASSERT_NE(monitor, nullptr);
    EXPECT_TRUE(monitor->Active());
    EXPECT_TRUE(monitor->EventsCreated());
    for (const char* name : kAllNames) {
        struct stat st {};
        EXPECT_EQ(stat(("/dev/shm" + platform::ipc::SegmentName(name)).c_str(), &st), 0) << name;
    }
    monitor->ServiceAttach(&service);
    monitor->ServiceQuery(&service);
    EXPECT_FALSE(monitor->HasWriter());

    AreaView area;
    for (std::size_t i = 0; i < tt::kAreaSize; ++i) ASSERT_EQ(area.Data()[i], 0) << "byte " << i;
    EXPECT_FALSE(NamedEvent::CreateOrOpen(tt::kWriteEventName, false).IsSet());
    EXPECT_TRUE(NamedEvent::CreateOrOpen(tt::kWriteFinishedEventName, false).IsSet());
}

TEST_F(TraceMonitorTest, ServiceEventsReachAMonitorInAnotherProcess) {
    AreaView area;
    MonitorProgram program({"--chunks", "4", "--timeout", "5000"});
    StartMonitor(program, area);

    TComponent service;
    service.SetName("pFIBRestoreService1");
    const double before = TraceTimestamp(std::chrono::system_clock::now());
    TraceMonitor()->ServiceAttach(&service);
    TraceMonitor()->ServiceStart(&service);
    TraceMonitor()->ServiceQuery(&service);
    TraceMonitor()->ServiceDetach(&service);

    std::vector<Record> records = program.Finish(5000ms);
    EXPECT_EQ(program.ExitCode(), 0);
    ASSERT_EQ(records.size(), 4u);
    const char* events[] = {":[Attach]", ":[Start]", ":[Query]", ":[Detach]"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(records[i].bytes, Header() + "pFIBRestoreService1" + events[i]);
        EXPECT_EQ(records[i].category, 5);
        EXPECT_GE(records[i].timestamp, before);
        EXPECT_LT(records[i].timestamp, before + 10.0 / 86400.0);
    }
    // It left again.
    EXPECT_EQ(area.Get(tt::kMonitorCountOffset), 0);
    EXPECT_EQ(area.Get(tt::kConnectListenersOffset), 0);
}

TEST_F(TraceMonitorTest, ControlBytesArriveEscapedWithLayoutCharactersIntact) {
    AreaView area;
    MonitorProgram program({"--chunks", "1", "--timeout", "5000"});
    StartMonitor(program, area);

    TraceMonitor()->WriteTrace(
        "a\x01"
        "b\tc\r\nd",
        tt::kServiceCategory);
    std::vector<Record> records = program.Finish(5000ms);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].bytes, Header() + "a#$01b\tc\r\nd");
}

TEST_F(TraceMonitorTest, LongTextArrivesAsChunksWithOneCategoryAndTimestamp) {
    AreaView area;
    MonitorProgram program({"--chunks", "2", "--timeout", "5000"});
    StartMonitor(program, area);

    // Escaped, header included, exactly one byte more than a chunk holds.
    const std::size_t fill = 2003 - Header().size() - 4;
    const std::string text = "\x02" + std::string(fill, 'x');
    TraceMonitor()->WriteTrace(text, tt::kConnectCategory);

    std::vector<Record> records = program.Finish(5000ms);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].bytes.size(), 2002u);
    EXPECT_EQ(records[1].bytes.size(), 1u);
    EXPECT_EQ(records[0].bytes + records[1].bytes, Header() + "#$02" + std::string(fill, 'x'));
    EXPECT_EQ(records[0].category, 3);
    EXPECT_EQ(records[1].category, 3);
    EXPECT_EQ(records[0].timestamp, records[1].timestamp);
}

TEST_F(TraceMonitorTest, SilentMonitorsAreWrittenOffOncePerSecondWhileThePosterGoesOn) {
    TFIBSQLMonitorHook* monitor = TraceMonitor();
    AreaView area;
    // Two monitors registered that will never read.
    area.Put(tt::kMonitorCountOffset, 2);

    const auto start = Clock::now();
    auto slowest = Clock::duration::zero();
    for (int i = 0; i < 3; ++i) {
        const auto before = Clock::now();
        monitor->WriteTrace("text " + std::to_string(i), tt::kServiceCategory);
        slowest = std::max(slowest, Clock::now() - before);
    }
    EXPECT_TRUE(monitor->HasWriter());

    ASSERT_TRUE(WaitUntil([&] { return area.Get(tt::kMonitorCountOffset) == 1; }, 3000ms));
    const auto firstWriteOff = Clock::now() - start;
    for (int i = 3; i < 6; ++i) {
        const auto before = Clock::now();
        monitor->WriteTrace("text " + std::to_string(i), tt::kServiceCategory);
        slowest = std::max(slowest, Clock::now() - before);
    }
    // The first write-off let the first text through; the second text finds
    // the other silent monitor.
    ASSERT_TRUE(WaitUntil([&] { return area.Get(tt::kMonitorCountOffset) == 0; }, 4000ms));
    const auto secondWriteOff = Clock::now() - start;
    EXPECT_GE(firstWriteOff, 900ms);
    EXPECT_GE(secondWriteOff - firstWriteOff, 900ms);
    // The poster only queues; the hand-over's waits are the writer's alone.
    EXPECT_LT(slowest, 500ms);

    // With nobody left the writer goes on: the queue is dropped, and the next
    // text ends the writer.
    EXPECT_TRUE(WaitUntil([&] { return monitor->PendingCount() == 0; }, 3000ms));
    monitor->WriteTrace("nobody listens", tt::kServiceCategory);
    EXPECT_FALSE(monitor->HasWriter());
    EXPECT_TRUE(WaitUntil(MutexIsFree, 3000ms));
}

TEST_F(TraceMonitorTest, FullQueueMakesRoomWithItsOldestQueriesOnly) {
    constexpr std::size_t kBound = TMonitorWriterThread::kMaxPending;
    AreaView area;
    MonitorProgram program({"--chunks", std::to_string(kBound), "--timeout", "8000"});
    StartMonitor(program, area);
    // Holding the mutex, as a stalled monitor program could, keeps the
    // writer from taking anything out of the queue.
    NamedMutex held = NamedMutex::CreateOrOpen(tt::kMutexName);
    ASSERT_EQ(held.Lock(1000ms), NamedMutex::LockResult::Acquired);

    TComponent service;
    service.SetName("svc");
    TFIBSQLMonitorHook* monitor = TraceMonitor();
    monitor->ServiceAttach(&service);
    for (std::size_t i = 0; i < kBound + 76; ++i) monitor->ServiceQuery(&service);
    monitor->ServiceStart(&service);
    for (int i = 0; i < 100; ++i) monitor->ServiceQuery(&service);
    monitor->ServiceDetach(&service);
    EXPECT_EQ(monitor->PendingCount(), kBound);
    held.Unlock();

    std::vector<Record> records = program.Finish(8000ms);
    ASSERT_EQ(records.size(), kBound);
    const std::size_t start = kBound - 102;
    for (std::size_t i = 0; i < kBound; ++i) {
        const char* event = i == 0            ? "svc:[Attach]"
                            : i == start      ? "svc:[Start]"
                            : i == kBound - 1 ? "svc:[Detach]"
                                              : "svc:[Query]";
        ASSERT_EQ(records[i].bytes, Header() + event) << i;
    }
}

TEST_F(TraceMonitorTest, NameTakenBySomethingElseSwitchesTheMonitorOff) {
    int fd = shm_open(platform::ipc::SegmentName(tt::kSharedMemName).c_str(),
                      O_CREAT | O_EXCL | O_RDWR, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 100), 0);
    close(fd);

    TComponent service;
    service.SetName("svc");
    TFIBSQLMonitorHook* monitor = TraceMonitor();
    ASSERT_NE(monitor, nullptr);
    EXPECT_FALSE(monitor->Active());
    EXPECT_FALSE(monitor->EventsCreated());
    EXPECT_NO_THROW(monitor->ServiceAttach(&service));
    EXPECT_NO_THROW(monitor->WriteTrace("x", tt::kServiceCategory));
    EXPECT_FALSE(monitor->HasWriter());
    // What the monitor keeps to itself: the services client's own error.
    try {
        TraceTransport transport;
        ADD_FAILURE() << "opened a name taken by something else";
    } catch (const EFIBClientError& e) {
        EXPECT_EQ(e.ClientErrorCode(), 54);
    }

    // The same when a later object's name is taken (a folder cannot be mapped).
    ResetTraceMonitorForTests();
    platform::ipc::RemoveNamedObject(tt::kSharedMemName);
    const std::string folder = "/dev/shm" + platform::ipc::SegmentName(tt::kReadEventName);
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    monitor = TraceMonitor();
    EXPECT_FALSE(monitor->Active());
    EXPECT_NO_THROW(monitor->ServiceDetach(&service));
    rmdir(folder.c_str());
}

TEST_F(TraceMonitorTest, GarbageInTheAreaNeitherCrashesNorHangs) {
    AreaView area;
    area.Put(tt::kMonitorCountOffset, INT_MAX);
    area.Put(tt::kReaderCountOffset, -7);
    TComponent service;
    service.SetName("svc");
    TFIBSQLMonitorHook* monitor = TraceMonitor();
    // Counts nobody could have produced are taken as nobody.
    EXPECT_EQ(area.Get(tt::kMonitorCountOffset), 0);
    EXPECT_EQ(area.Get(tt::kReaderCountOffset), 0);
    monitor->ServiceAttach(&service);
    EXPECT_FALSE(monitor->HasWriter());

    area.Put(tt::kMonitorCountOffset, -3);
    monitor->ServiceAttach(&service);
    EXPECT_FALSE(monitor->HasWriter());

    // A monitor that is ready but leaves a reader count of a billion behind.
    area.Put(tt::kMonitorCountOffset, 1);
    NamedEvent::CreateOrOpen(tt::kReadEventName, false).Set();
    monitor->ServiceAttach(&service);
    ASSERT_TRUE(WaitUntil(
        [&] { return NamedEvent::CreateOrOpen(tt::kWriteEventName, false).IsSet(); }, 2000ms));
    area.Put(tt::kReaderCountOffset, 1000000000);
    EXPECT_TRUE(WaitUntil([&] { return monitor->PendingCount() == 0; }, 3000ms));
    EXPECT_EQ(area.Get(tt::kReaderCountOffset), 0);

    // And the monitor program survives a chunk length out of range.
    area.Put(tt::kMonitorCountOffset, 0);
    MonitorProgram program({"--chunks", "1", "--timeout", "3000"});
    StartMonitor(program, area);
    area.Put(tt::kChunkLengthOffset, 99999);
    NamedEvent::CreateOrOpen(tt::kWriteFinishedEventName, false).Reset();
    NamedEvent::CreateOrOpen(tt::kWriteEventName, false).Set();
    std::vector<Record> records = program.Finish(4000ms);
    EXPECT_EQ(program.ExitCode(), 0);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_TRUE(records[0].bytes.empty());
}

TEST_F(TraceMonitorTest, SecondProcessOpensTheObjectsAndKeepsTheCounters) {
    pid_t pid = fork();
    if (pid == 0) {
        // The first process: creates everything, then a monitor registers.
        int code = 1;
        if (TraceMonitor() && TraceMonitor()->EventsCreated()) {
            AreaView area;
            area.Put(tt::kConnectListenersOffset, 3);
            area.Put(tt::kTransactionListenersOffset, 2);
            area.Put(tt::kPrepareListenersOffset, 1);
            code = 0;
        }
        ResetTraceMonitorForTests();
        _exit(code);
    }
    int status = 0;
    ASSERT_TRUE(WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 5000ms));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    TFIBSQLMonitorHook* monitor = TraceMonitor();
    ASSERT_TRUE(monitor->EventsCreated());
    AreaView area;
    EXPECT_EQ(area.Get(tt::kConnectListenersOffset), 3);
    EXPECT_EQ(area.Get(tt::kTransactionListenersOffset), 2);
    EXPECT_EQ(area.Get(tt::kPrepareListenersOffset), 1);
}

TEST_F(TraceMonitorTest, ConnectEventsNeedAConnectListener) {
    AreaView area;
    area.Put(tt::kMonitorCountOffset, 1);
    TComponent database;
    database.SetName("db");
    TFIBSQLMonitorHook* monitor = TraceMonitor();
    monitor->Connect(&database);
    EXPECT_FALSE(monitor->HasWriter());
    area.Put(tt::kConnectListenersOffset, 1);
    monitor->Disconnect(&database);
    EXPECT_TRUE(monitor->HasWriter());
    monitor->SetActive(false);
    EXPECT_FALSE(monitor->HasWriter());
    monitor->Connect(&database);
    EXPECT_FALSE(monitor->HasWriter());
}

TEST_F(TraceMonitorTest, AStuckMonitorCannotHoldTheProgramAtItsEnd) {
    AreaView area;
    NamedMutex mutex = NamedMutex::CreateOrOpen(tt::kMutexName);
    // Registered but silent, then holding the mutex for good.
    for (bool holdsMutex : {false, true}) {
        SCOPED_TRACE(holdsMutex ? "holds the mutex" : "silent");
        area.Put(tt::kMonitorCountOffset, 1);
        if (holdsMutex) {
            ASSERT_EQ(mutex.Lock(1000ms), NamedMutex::LockResult::Acquired);
        }
        const auto start = Clock::now();
        pid_t pid = fork();
        if (pid == 0) {
            TraceMonitor()->WriteTrace("last words", tt::kServiceCategory);
            std::this_thread::sleep_for(100ms);  // the writer is stuck by now
            std::exit(TraceMonitor()->HasWriter() ? 0 : 3);
        }
        int status = 0;
        const bool ended = WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 4000ms);
        if (!ended) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        ASSERT_TRUE(ended);
        EXPECT_LT(Clock::now() - start, tt::kDrainLimit + 700ms);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        if (holdsMutex)
            mutex.Unlock();
        // It let go of the mutex and left no chunk announced.
        EXPECT_TRUE(MutexIsFree());
        EXPECT_FALSE(NamedEvent::CreateOrOpen(tt::kWriteEventName, false).IsSet());
    }

    // In this process: after the end-of-program step there is no monitor.
    TraceMonitor()->WriteTrace("in flight", tt::kServiceCategory);
    ShutdownTraceMonitor();
    EXPECT_TRUE(TraceShutdown());
    EXPECT_EQ(TraceMonitor(), nullptr);
}

// A second for its chunk, then a second at the next one, where it sets no
// ReadEvent: then it is written off, and the rest of the text with it.
TEST_F(TraceMonitorTest, ReaderThatDiesMidChunkCostsTwoSecondsOnceNotPerChunk) {
    AreaView area;
    const pid_t reader = ForkReaderThatDiesMidChunk();
    ASSERT_TRUE(WaitUntil([&] { return area.Get(tt::kMonitorCountOffset) == 1; }, 3000ms));

    TFIBSQLMonitorHook* monitor = TraceMonitor();
    const auto start = Clock::now();
    monitor->WriteTrace(std::string(7 * tt::kChunkCapacity + 500, 'x'), tt::kServiceCategory);
    ASSERT_TRUE(Reaped(reader, 3000ms));
    // A monitor that comes while the writer is still stuck on the dead one.
    MonitorProgram program({"--chunks", "1", "--timeout", "8000"});
    ASSERT_TRUE(program.Started());

    ASSERT_TRUE(WaitUntil([&] { return monitor->PendingCount() == 0; }, 8000ms));
    EXPECT_LT(Clock::now() - start, 2700ms);
    // The newcomer got in at once, and the next text is its.
    ASSERT_TRUE(WaitUntil([&] { return area.Get(tt::kMonitorCountOffset) == 1; }, 1500ms));
    EXPECT_EQ(area.Get(tt::kReaderCountOffset), 0);
    monitor->WriteTrace("next", tt::kServiceCategory);
    std::vector<Record> records = program.Finish(5000ms);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].bytes, Header() + "next");
}

TEST_F(TraceMonitorTest, ReaderSlowerThanASecondKeepsItsPlaceAndTheNextTextGoesAtOnce) {
    AreaView area;
    const pid_t reader = ForkSlowReader(1500ms);
    ASSERT_TRUE(WaitUntil([&] { return area.Get(tt::kMonitorCountOffset) == 1; }, 3000ms));
    NamedEvent readEvent = NamedEvent::CreateOrOpen(tt::kReadEventName, false);

    TFIBSQLMonitorHook* monitor = TraceMonitor();
    monitor->WriteTrace("slow", tt::kServiceCategory);
    // The writer gave up waiting after a second; the reader is ready again
    // once it is done with its chunk.
    ASSERT_TRUE(
        WaitUntil([&] { return monitor->PendingCount() == 0 && readEvent.IsSet(); }, 5000ms));
    EXPECT_EQ(area.Get(tt::kMonitorCountOffset), 1);

    // Its late count-out must not hold up the chunk after it.
    const auto start = Clock::now();
    monitor->WriteTrace("next", tt::kServiceCategory);
    ASSERT_TRUE(WaitUntil([&] { return monitor->PendingCount() == 0; }, 3000ms));
    EXPECT_LT(Clock::now() - start, 900ms);
    // A wait status of 0: the reader ended with 0, both chunks read.
    EXPECT_EQ(test_support::ReapChild(reader, 3000ms), std::optional<int>(0));
}

TEST_F(TraceMonitorTest, BurstLosesOnlyTheOldestQueriesAtALiveMonitor) {
    AreaView area;
    MonitorProgram program({"--timeout", "3000"});
    StartMonitor(program, area);

    TComponent service;
    service.SetName("svc");
    TFIBSQLMonitorHook* monitor = TraceMonitor();
    // A restore's shape: one query text per poll turn between start and detach.
    constexpr int kBurst = 3000;
    monitor->ServiceAttach(&service);
    monitor->ServiceStart(&service);
    for (int i = 0; i < kBurst - 3; ++i) monitor->ServiceQuery(&service);
    monitor->ServiceDetach(&service);
    EXPECT_LE(monitor->PendingCount(), TMonitorWriterThread::kMaxPending);

    std::vector<Record> records = program.Finish(5000ms);
    std::printf("burst of %d texts: %zu arrived\n", kBurst, records.size());
    ASSERT_GE(records.size(), 3u);
    EXPECT_EQ(records.front().bytes, Header() + "svc:[Attach]");
    EXPECT_EQ(records[1].bytes, Header() + "svc:[Start]");
    EXPECT_EQ(records.back().bytes, Header() + "svc:[Detach]");
    for (std::size_t i = 2; i + 1 < records.size(); ++i)
        ASSERT_EQ(records[i].bytes, Header() + "svc:[Query]") << i;
}

TEST_F(TraceMonitorTest, WriterKilledInTheHandOverLeavesNoTrapForTheNext) {
    AreaView area;
    MonitorProgram program({"--chunks", "4", "--timeout", "6000"});
    StartMonitor(program, area);
    // A second reader, busy and slow, keeps the doomed writer inside its
    // hand-over long enough to be killed there.
    area.Put(tt::kReaderCountOffset, 1);
    const pid_t writer = fork();
    if (writer == 0) {
        TraceMonitor()->WriteTrace("doomed", tt::kServiceCategory);
        std::this_thread::sleep_for(10s);
        _exit(0);
    }
    ASSERT_TRUE(WaitUntil(HandOverOpen, 3000ms));
    std::this_thread::sleep_for(100ms);  // the live monitor reads the chunk meanwhile
    kill(writer, SIGKILL);
    ASSERT_TRUE(Reaped(writer, 2000ms));
    ASSERT_TRUE(HandOverOpen());
    area.Put(tt::kReaderCountOffset, 0);

    TFIBSQLMonitorHook* monitor = TraceMonitor();
    const auto start = Clock::now();
    for (int i = 0; i < 3; ++i) monitor->WriteTrace("after " + std::to_string(i), 5);
    ASSERT_TRUE(WaitUntil([&] { return monitor->PendingCount() == 0; }, 6000ms));
    EXPECT_LT(Clock::now() - start, 500ms);
    std::vector<Record> records = program.Finish(5000ms);
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].bytes, Header() + "doomed");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(records[i + 1].bytes, Header() + "after " + std::to_string(i));
}

TEST_F(TraceMonitorTest, QueuedTextsReachAListeningMonitorBeforeSwitchOffAndProgramEnd) {
    constexpr int kTexts = 200;
    AreaView area;
    MonitorProgram program({"--chunks", std::to_string(2 * kTexts), "--timeout", "8000"});
    StartMonitor(program, area);

    for (int i = 0; i < kTexts; ++i) TraceMonitor()->WriteTrace("on " + std::to_string(i), 5);
    TraceMonitor()->SetActive(false);

    const pid_t ending = fork();
    if (ending == 0) {
        ResetTraceMonitorForTests();
        for (int i = 0; i < kTexts; ++i) TraceMonitor()->WriteTrace("end " + std::to_string(i), 5);
        std::exit(0);
    }
    ASSERT_TRUE(Reaped(ending, 4000ms));
    std::vector<Record> records = program.Finish(8000ms);
    ASSERT_EQ(records.size(), 2u * kTexts);
    EXPECT_EQ(records[kTexts - 1].bytes, Header() + "on " + std::to_string(kTexts - 1));
    EXPECT_EQ(records.back().bytes, Header() + "end " + std::to_string(kTexts - 1));
}

}  // namespace
