#include "restore/FileOps.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/Descriptors.h"
#include "tests/support/Files.h"

namespace fs = std::filesystem;
using test_support::ReadFile;

namespace {

class FileOpsTest : public ::testing::Test {
  protected:
    std::string Write(const std::string& name, const std::string& content) {
        return folder_.File(name, content);
    }

    test_support::TempFolder folder_{"fileops"};
    fs::path dir_ = folder_.Root();
};

// Holds a lock on a file the way a database engine does while it has it open.
class HeldLock {
  public:
    HeldLock(const std::string& path, int operation) : fd_(::open(path.c_str(), O_RDWR)) {
        if (operation == LOCK_EX) {
            ok_ = fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
        } else {
            struct flock range {};
            range.l_type = F_WRLCK;
            range.l_whence = SEEK_SET;
            ok_ = fd_ >= 0 && ::fcntl(fd_, F_OFD_SETLK, &range) == 0;
        }
    }
    ~HeldLock() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool ok() const { return ok_; }

  private:
    int fd_;
    bool ok_ = false;
};

}  // namespace

TEST_F(FileOpsTest, MoveAsideKeepsTheContentUnderAFreshNameInTheSameFolder) {
    std::string target = Write("data.fdb", "old database");
    std::string aside = restore::MoveAside(target);
    ASSERT_FALSE(aside.empty());
    EXPECT_EQ(fs::path(aside).parent_path(), dir_);
    EXPECT_FALSE(restore::FileExists(target));
    EXPECT_EQ(ReadFile(aside), "old database");
}

TEST_F(FileOpsTest, MoveAsideNeverReplacesAnEarlierAsideCopy) {
    std::string target = Write("data.fdb", "first");
    std::string first = restore::MoveAside(target);
    Write("data.fdb", "second");
    std::string second = restore::MoveAside(target);
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    EXPECT_NE(first, second);
    EXPECT_EQ(ReadFile(first), "first");
    EXPECT_EQ(ReadFile(second), "second");
}

TEST_F(FileOpsTest, MoveAsideOfAMissingFileFails) {
    EXPECT_EQ(restore::MoveAside((dir_ / "none.fdb").string()), "");
}

TEST_F(FileOpsTest, MoveBackRestoresTheNameButNeverOverwrites) {
    std::string target = Write("data.fdb", "old");
    std::string aside = restore::MoveAside(target);
    Write("data.fdb", "left behind");
    EXPECT_FALSE(restore::MoveBack(aside, target));
    EXPECT_EQ(ReadFile(target), "left behind");
    EXPECT_EQ(ReadFile(aside), "old");

    ASSERT_TRUE(restore::DeleteFile(target));
    EXPECT_TRUE(restore::MoveBack(aside, target));
    EXPECT_EQ(ReadFile(target), "old");
    EXPECT_FALSE(restore::FileExists(aside));
}

TEST_F(FileOpsTest, DeleteCountsAMissingFileAsGone) {
    std::string target = Write("data.fdb", "x");
    EXPECT_TRUE(restore::DeleteFile(target));
    EXPECT_FALSE(restore::FileExists(target));
    EXPECT_TRUE(restore::DeleteFile(target));
}

TEST_F(FileOpsTest, FolderIsNotAFile) {
    EXPECT_FALSE(restore::FileExists(dir_.string()));
}

TEST_F(FileOpsTest, FileWithoutLocksIsNotHeld) {
    std::string target = Write("data.fdb", "x");
    EXPECT_FALSE(restore::IsHeldOpen(target));
    // The probe gives its own lock back: a second probe sees the file free.
    EXPECT_FALSE(restore::IsHeldOpen(target));
    EXPECT_FALSE(restore::IsHeldOpen((dir_ / "none.fdb").string()));
}

TEST_F(FileOpsTest, ExclusiveWholeFileLockCountsAsHeld) {
    std::string target = Write("data.fdb", "x");
    HeldLock lock(target, LOCK_EX);
    ASSERT_TRUE(lock.ok());
    EXPECT_TRUE(restore::IsHeldOpen(target));
}

TEST_F(FileOpsTest, ByteRangeLockCountsAsHeld) {
    std::string target = Write("data.fdb", "x");
    HeldLock lock(target, 0);
    ASSERT_TRUE(lock.ok());
    EXPECT_TRUE(restore::IsHeldOpen(target));
}

TEST_F(FileOpsTest, AFileThatCannotBeExaminedIsToldApartFromAHeldOne) {
#if defined(__SANITIZE_ADDRESS__)
    // The undefined-behaviour checker needs a free descriptor of its own for
    // its type checks: with none left it reports every virtual call.
    GTEST_SKIP() << "the sanitizer runtime cannot check types without a free descriptor";
#endif
    // With no descriptor left, neither the file nor the kernel's table opens.
    std::string target = Write("data.fdb", "x");
    restore::HoldProbe probe;
    {
        test_support::DescriptorsUsedUp full;
        probe = restore::ProbeHold(target);
        EXPECT_TRUE(restore::IsHeldOpen(target));  // a rollback still leaves it alone
    }
    EXPECT_EQ(probe.state, restore::HoldState::Unknown);
    EXPECT_EQ(probe.reason, "Too many open files");
    HeldLock lock(target, LOCK_EX);
    ASSERT_TRUE(lock.ok());
    EXPECT_EQ(restore::ProbeHold(target).state, restore::HoldState::Held);
}

TEST_F(FileOpsTest, LockIsSeenWithoutPermissionToReadTheFile) {
    // An operator who may not read the server's database file still must not
    // move it away while it is open: the probe then reads the kernel's table.
    std::string target = Write("data.fdb", "x");
    std::string unlocked = Write("free.fdb", "x");
    ::chmod(dir_.c_str(), 0755);
    ::chmod(target.c_str(), 0);
    ::chmod(unlocked.c_str(), 0);
    HeldLock lock(target, LOCK_EX);
    ASSERT_TRUE(lock.ok());
    if (::geteuid() != 0) {
        EXPECT_TRUE(restore::IsHeldOpen(target));
        EXPECT_FALSE(restore::IsHeldOpen(unlocked));
        return;
    }
    // As root every file is readable, so probe from an unprivileged child.
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(10);
        if (::access(target.c_str(), R_OK) == 0)
            ::_exit(11);
        int code = (restore::IsHeldOpen(target) ? 0 : 1) | (restore::IsHeldOpen(unlocked) ? 2 : 0);
        ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: held file missed, 2: free file counted as held";
}
