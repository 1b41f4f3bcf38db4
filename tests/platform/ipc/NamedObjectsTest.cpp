#include "platform/ipc/NamedObjects.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/Exceptions.h"
#include "tests/support/Wait.h"

using namespace std::chrono_literals;
using platform::ipc::NamedEvent;
using platform::ipc::NamedMutex;
using platform::ipc::SharedMemory;

namespace {

// Runs `body` in a forked process and returns its exit code; a child that
// outlives `limit` is killed and reported as -1.
int RunInChild(const std::function<int()>& body, std::chrono::milliseconds limit = 5000ms) {
    pid_t pid = fork();
    if (pid == 0) {
        int code = 97;
        try {
            code = body();
        } catch (...) {
            code = 98;
        }
        _exit(code);
    }
    const std::optional<int> status = test_support::ReapChild(pid, limit);
    if (!status)
        return -1;
    return WIFEXITED(*status) ? WEXITSTATUS(*status) : -2;
}

std::uint32_t ErrorOf(const std::function<void()>& open) {
    try {
        open();
    } catch (const EOSError& e) {
        return e.ErrorCode();
    }
    return 0;
}

class NamedObjects : public ::testing::Test {
  protected:
    void SetUp() override {
        static int run = 0;
        processPrefix_ = platform::ipc::NamePrefix();
        platform::ipc::SetNamePrefix(processPrefix_ + "ipctest." + std::to_string(++run) + ".");
    }
    void TearDown() override {
        for (const char* name : {"Area", "Mutex", "Event"}) platform::ipc::RemoveNamedObject(name);
        platform::ipc::SetNamePrefix(processPrefix_);
    }
    static std::string Path(const char* name) {
        return "/dev/shm" + platform::ipc::SegmentName(name);
    }

  private:
    std::string processPrefix_;
};

// Test programs must never meet real programs or each other through the
// real names; their main sets the prefix before any test runs.
TEST(TestProgram, RunsBehindANamePrefixOfItsOwn) {
    EXPECT_NE(platform::ipc::NamePrefix().find(std::to_string(getpid())), std::string::npos)
        << platform::ipc::NamePrefix();
}

TEST_F(NamedObjects, NamesLiveBehindTheProcessPrefix) {
    EXPECT_EQ(platform::ipc::SegmentName("Event"), "/" + platform::ipc::NamePrefix() + "Event");
    EXPECT_EQ(ErrorOf([] { platform::ipc::SegmentName("a/b"); }),
              static_cast<std::uint32_t>(EINVAL));
    platform::ipc::SetNamePrefix("");
    EXPECT_EQ(platform::ipc::SegmentName("FIB.SQL.MONITOR.Mutex"), "/FIB.SQL.MONITOR.Mutex");
}

TEST_F(NamedObjects, AreaIsCreatedZeroFilledAndOpenForEveryAccount) {
    mode_t old = umask(077);
    SharedMemory area = SharedMemory::CreateOrOpen("Area", 2048);
    umask(old);
    EXPECT_FALSE(area.Existed());
    ASSERT_EQ(area.Size(), 2048u);
    for (std::size_t i = 0; i < area.Size(); ++i) ASSERT_EQ(area.Data()[i], 0) << i;

    struct stat st {};
    ASSERT_EQ(stat(Path("Area").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u);
}

TEST_F(NamedObjects, SecondOpenSharesTheSameBytes) {
    SharedMemory first = SharedMemory::CreateOrOpen("Area", 2048);
    first.Data()[2047] = 0x5A;
    int code = RunInChild([] {
        SharedMemory second = SharedMemory::CreateOrOpen("Area", 2048);
        if (!second.Existed())
            return 1;
        if (second.Data()[2047] != 0x5A)
            return 2;
        second.Data()[0] = 0xA5;
        return 0;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(first.Data()[0], 0xA5);
}

TEST_F(NamedObjects, NameTakenBySomethingElseIsRefused) {
    int fd = shm_open(platform::ipc::SegmentName("Area").c_str(), O_CREAT | O_RDWR, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 100), 0);
    close(fd);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ErrorOf([] { SharedMemory::CreateOrOpen("Area", 2048); }),
              static_cast<std::uint32_t>(EEXIST));
    // A wrong size is final: no waiting for a creator.
    EXPECT_LT(std::chrono::steady_clock::now() - start, platform::ipc::kSetUpWait);

    ASSERT_EQ(mkdir(Path("Mutex").c_str(), 0700), 0);
    EXPECT_NE(ErrorOf([] { NamedMutex::CreateOrOpen("Mutex"); }), 0u);
    rmdir(Path("Mutex").c_str());

    // Right size but someone else's contents.
    fd = shm_open(platform::ipc::SegmentName("Event").c_str(), O_CREAT | O_RDWR, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, platform::ipc::kEventSegmentSize), 0);
    std::uint32_t garbage[2] = {7, 0xDEADBEEF};
    ASSERT_EQ(write(fd, garbage, sizeof garbage), static_cast<ssize_t>(sizeof garbage));
    close(fd);
    EXPECT_EQ(ErrorOf([] { NamedEvent::CreateOrOpen("Event", false); }),
              static_cast<std::uint32_t>(EEXIST));
}

TEST_F(NamedObjects, OpenerWaitsForTheCreatorButNotForever) {
    const std::string segment = platform::ipc::SegmentName("Area");
    int fd = shm_open(segment.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
    ASSERT_GE(fd, 0);
    std::thread creator([fd] {
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(ftruncate(fd, 2048), 0);
    });
    SharedMemory area = SharedMemory::CreateOrOpen("Area", 2048);
    creator.join();
    close(fd);
    EXPECT_TRUE(area.Existed());

    // A creator that died before its marker: the opener gives up in bounded time.
    fd = shm_open(platform::ipc::SegmentName("Event").c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, platform::ipc::kEventSegmentSize), 0);
    close(fd);
    EXPECT_EQ(ErrorOf([] { NamedEvent::CreateOrOpen("Event", false); }),
              static_cast<std::uint32_t>(ETIMEDOUT));
}

TEST_F(NamedObjects, SimultaneousCreatorsAgreeOnOneObject) {
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < 4; ++i) {
        pid_t pid = fork();
        if (pid == 0) {
            close(gate[1]);
            char c;
            if (read(gate[0], &c, 1) != 0)
                _exit(96);  // released when the pipe closes
            try {
                NamedEvent event = NamedEvent::CreateOrOpen("Event", true);
                NamedMutex mutex = NamedMutex::CreateOrOpen("Mutex");
                if (!event.IsSet())
                    _exit(95);
                if (mutex.Lock(1000ms) != NamedMutex::LockResult::Acquired)
                    _exit(94);
                mutex.Unlock();
                _exit(event.Existed() ? 10 : 0);
            } catch (...) {
                _exit(98);
            }
        }
        children.push_back(pid);
    }
    close(gate[0]);
    close(gate[1]);
    int created = 0, opened = 0;
    for (pid_t pid : children) {
        const std::optional<int> status = test_support::ReapChild(pid, 5s);
        ASSERT_TRUE(status && WIFEXITED(*status));
        int code = WEXITSTATUS(*status);
        if (code == 0)
            ++created;
        else if (code == 10)
            ++opened;
        else
            ADD_FAILURE() << "child exit code " << code;
    }
    EXPECT_EQ(created, 1);
    EXPECT_EQ(opened, 3);
}

TEST_F(NamedObjects, EventKeepsItsStateAcrossOpensAndWakesOtherProcesses) {
    NamedEvent event = NamedEvent::CreateOrOpen("Event", true);
    EXPECT_TRUE(event.IsSet());
    EXPECT_TRUE(event.Wait(0ms));
    event.Reset();
    // The initial state only matters to the creator.
    NamedEvent again = NamedEvent::CreateOrOpen("Event", true);
    EXPECT_TRUE(again.Existed());
    EXPECT_FALSE(again.IsSet());
    EXPECT_FALSE(again.Wait(20ms));

    // Another process sets it while we wait.
    std::thread setter([] {
        int code = RunInChild([] {
            std::this_thread::sleep_for(50ms);
            NamedEvent::CreateOrOpen("Event", false).Set();
            return 0;
        });
        EXPECT_EQ(code, 0);
    });
    EXPECT_TRUE(event.Wait(3000ms));
    setter.join();
    // Manual reset: it stays set for every later waiter.
    EXPECT_TRUE(again.Wait(0ms));

    // And the other way round: a waiting process wakes when we set it.
    event.Reset();
    pid_t pid = fork();
    if (pid == 0) {
        NamedEvent child = NamedEvent::CreateOrOpen("Event", false);
        _exit(child.Wait(3000ms) ? 0 : 1);
    }
    std::this_thread::sleep_for(50ms);
    event.Set();
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(NamedObjects, MutexExcludesOtherProcessesAndAdmitsItsOwnerAgain) {
    NamedMutex mutex = NamedMutex::CreateOrOpen("Mutex");
    ASSERT_EQ(mutex.Lock(100ms), NamedMutex::LockResult::Acquired);
    EXPECT_EQ(mutex.Lock(0ms), NamedMutex::LockResult::Acquired);
    mutex.Unlock();
    // Still held once: another process must time out.
    EXPECT_EQ(RunInChild([] {
                  auto result = NamedMutex::CreateOrOpen("Mutex").Lock(50ms);
                  return result == NamedMutex::LockResult::TimedOut ? 0 : 1;
              }),
              0);
    mutex.Unlock();
    EXPECT_EQ(RunInChild([] {
                  NamedMutex other = NamedMutex::CreateOrOpen("Mutex");
                  if (other.Lock(50ms) != NamedMutex::LockResult::Acquired)
                      return 1;
                  other.Unlock();
                  return 0;
              }),
              0);
}

TEST_F(NamedObjects, MutexOfADeadOwnerPassesOnInsteadOfHanging) {
    NamedMutex mutex = NamedMutex::CreateOrOpen("Mutex");
    EXPECT_EQ(RunInChild([] {
                  // Dies holding it, its mapping still in place, as a killed
                  // process would.
                  NamedMutex doomed = NamedMutex::CreateOrOpen("Mutex");
                  _exit(doomed.Lock(100ms) == NamedMutex::LockResult::Acquired ? 0 : 1);
                  return 2;
              }),
              0);
    EXPECT_EQ(mutex.Lock(1000ms), NamedMutex::LockResult::OwnerDied);
    mutex.Unlock();
    // Made consistent again: usable by everyone afterwards.
    EXPECT_EQ(mutex.Lock(100ms), NamedMutex::LockResult::Acquired);
    mutex.Unlock();
    EXPECT_EQ(RunInChild([] {
                  NamedMutex other = NamedMutex::CreateOrOpen("Mutex");
                  if (other.Lock(100ms) != NamedMutex::LockResult::Acquired)
                      return 1;
                  other.Unlock();
                  return 0;
              }),
              0);
}

}  // namespace
