// The swap of an existing target on a real file system.

#include "restore/TargetSwap.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>

#include "restore/FileOps.h"
#include "restore/RestoreErrors.h"
#include "tests/support/Files.h"

namespace fs = std::filesystem;
using restore::OriginalFate;
using restore::TargetSwap;
using test_support::ReadFile;

namespace {

class TargetSwapTest : public ::testing::Test {
  protected:
    std::string Write(const std::string& name, const std::string& content) {
        return folder_.File(name, content);
    }
    std::size_t Entries() const {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
    }

    test_support::TempFolder folder_{"swap"};
    fs::path dir_ = folder_.Root();
    TargetSwap::PauseFn noPause_ = [](std::chrono::milliseconds) {};
};

// 80 three-byte syllables and ".fdb": 244 bytes, legal, but 259 with the
// plain aside suffix.
std::string LongKoreanName() {
    std::string name;
    for (int i = 0; i < 80; ++i) name += "가";
    return name + ".fdb";
}

}  // namespace

TEST(AsideName, FitsTheNameLimitWithoutCuttingACharacter) {
    struct Case {
        std::string path;
        int n;
        std::size_t limit;
        std::string expected;
    } cases[] = {
        {"/d/a.fdb", 0, 255, "/d/a.fdb.before-restore"},
        {"/d/a.fdb", 2, 255, "/d/a.fdb.before-restore.2"},
        {"/d/abcdef", 0, 20, "/d/abcde.before-restore"},
        {"/d/abcdef", 1, 20, "/d/abc.before-restore.1"},
        // "가" is three bytes: a cut inside it backs up to its start.
        {"/d/x가나", 0, 20, "/d/x가.before-restore"},
    };
    for (const Case& c : cases) {
        const std::string name = restore::AsideName(c.path, c.n, c.limit);
        EXPECT_EQ(name, c.expected);
        EXPECT_LE(name.size() - 3, c.limit) << c.expected;
    }
}

TEST_F(TargetSwapTest, ALongNameIsMovedAsideAndBackUnchanged) {
    const std::string target = Write(LongKoreanName(), "original");
    ASSERT_EQ(fs::path(target).filename().string().size(), 244u);
    {
        TargetSwap swap(target, noPause_);
        ASSERT_TRUE(swap.HadOriginal());
        EXPECT_EQ(fs::path(swap.Aside()).parent_path(), dir_);
        EXPECT_LE(fs::path(swap.Aside()).filename().string().size(), 255u);
        EXPECT_FALSE(fs::exists(target));
        Write(LongKoreanName(), "half-restored");
        EXPECT_EQ(swap.Rollback(restore::ServerEnd::Ended), OriginalFate::PutBack);
    }
    EXPECT_EQ(ReadFile(target), "original");
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(TargetSwapTest, CommitDropsTheAsideCopyAndKeepsTheNewFile) {
    const std::string target = Write("a.fdb", "original");
    Write("a.fdb.before-restore", "a stale copy from long ago");
    TargetSwap swap(target, noPause_);
    EXPECT_NE(swap.Aside(), (dir_ / "a.fdb.before-restore").string());
    Write("a.fdb", "restored");
    EXPECT_TRUE(swap.Commit());
    EXPECT_EQ(ReadFile(target), "restored");
    EXPECT_EQ(ReadFile((dir_ / "a.fdb.before-restore").string()), "a stale copy from long ago");
    EXPECT_EQ(Entries(), 2u);
}

TEST_F(TargetSwapTest, NoTargetMeansNothingToPutBackAndALeftoverGoesOnlyWhenAskedAndEnded) {
    struct Case {
        bool removeNewLeftover;
        restore::ServerEnd end;
        bool leftoverStays;
    } cases[] = {
        {false, restore::ServerEnd::Ended, true},   // not ours to delete: there was no original
        {true, restore::ServerEnd::Unknown, true},  // the server may still write it
        {true, restore::ServerEnd::Ended, false},
    };
    for (const Case& c : cases) {
        const std::string target = (dir_ / "new.fdb").string();
        TargetSwap swap(target, noPause_, c.removeNewLeftover);
        EXPECT_FALSE(swap.HadOriginal());
        Write("new.fdb", "restored by a failed run");
        EXPECT_EQ(swap.Rollback(c.end), OriginalFate::None);
        EXPECT_EQ(fs::exists(target), c.leftoverStays);
        fs::remove(target);
    }
}

TEST_F(TargetSwapTest, AFileHeldOpenIsRefusedAndLeftAlone) {
    const std::string target = Write("held.fdb", "open");
    const int fd = ::open(target.c_str(), O_RDWR);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_THROW(TargetSwap(target, noPause_), restore::ETargetInUse);
    ::close(fd);
    EXPECT_EQ(ReadFile(target), "open");
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(TargetSwapTest, ATargetThatCannotBeMovedStopsBeforeAnythingChanges) {
    // As another account, in a folder that account may not write.
    const std::string target = Write("a.fdb", "original");
    ::chmod(dir_.c_str(), 0755);
    ::chmod(target.c_str(), 0644);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(10);
        try {
            TargetSwap swap(target, [](std::chrono::milliseconds) {});
        } catch (const restore::ETargetNotMoved& error) {
            ::_exit(error.Reason().empty() ? 12 : 0);
        } catch (...) {
            ::_exit(13);
        }
        ::_exit(11);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "11: moved, 12: no reason, 13: another error";
    EXPECT_EQ(ReadFile(target), "original");
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(TargetSwapTest, RollbackWaitsThroughThePauseForAHeldLeftoverThenKeepsTheOriginalAside) {
    const std::string target = Write("a.fdb", "original");
    int pauses = 0;
    TargetSwap swap(target, [&](std::chrono::milliseconds d) {
        ++pauses;
        std::this_thread::sleep_for(d);
    });
    Write("a.fdb", "left by the server");
    const int fd = ::open(target.c_str(), O_RDWR);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(swap.Rollback(restore::ServerEnd::Ended), OriginalFate::KeptAside);
    ::close(fd);
    EXPECT_GT(pauses, 10);
    EXPECT_EQ(swap.OriginalPath(), swap.Aside());
    EXPECT_EQ(ReadFile(swap.Aside()), "original");
    EXPECT_EQ(ReadFile(target), "left by the server");
}

TEST_F(TargetSwapTest, LinksAreFollowedToTheFileTheyName) {
    fs::create_directories(dir_ / "disk2");
    Write("disk2/real.fdb", "x");
    fs::create_symlink("disk2/real.fdb", dir_ / "rel.fdb");
    fs::create_symlink(dir_ / "rel.fdb", dir_ / "chain.fdb");
    fs::create_symlink("disk2/not-yet.fdb", dir_ / "dangling.fdb");
    EXPECT_EQ(restore::FollowLinks((dir_ / "rel.fdb").string()),
              (dir_ / "disk2/real.fdb").string());
    EXPECT_EQ(restore::FollowLinks((dir_ / "chain.fdb").string()),
              (dir_ / "disk2/real.fdb").string());
    EXPECT_EQ(restore::FollowLinks((dir_ / "dangling.fdb").string()),
              (dir_ / "disk2/not-yet.fdb").string());
    EXPECT_EQ(restore::FollowLinks((dir_ / "plain.fdb").string()), (dir_ / "plain.fdb").string());
}
