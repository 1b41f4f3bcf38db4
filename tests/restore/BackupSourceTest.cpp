// The backup as the client reads it: every stored form back to the same
// bytes, from a file and from a pipe, the refusals, and the read-ahead.

#include "restore/BackupSource.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <random>
#include <thread>

#include "restore/RestoreErrors.h"
#include "tests/support/Files.h"

using restore::IBackupSource;
using test_support::ReadFile;
using Clock = std::chrono::steady_clock;

namespace {

// Text that compresses and random bytes that do not, so that every form
// takes several reads.
std::string Content() {
    std::string content;
    std::mt19937 random(17);
    for (int line = 0; content.size() < (std::size_t{3} << 19); ++line) {
        content += "record " + std::to_string(line) + " of the backup\n";
        for (int i = 0; i < 40; ++i) content += static_cast<char>(random());
    }
    return content;
}

class BackupSourceTest : public ::testing::Test {
  protected:
    // Runs `command` in the test's folder, next to `content` holding Content().
    std::string Make(const std::string& command) {
        folder_.File("content", content_);
        const std::string line = "cd '" + folder_.Path() + "' && (" + command + ") 2>&1";
        EXPECT_EQ(std::system(line.c_str()), 0) << command;
        return folder_.Path("backup");
    }

    // Everything Read hands out, checking on the way that Consumed never goes down.
    static std::string ReadAll(IBackupSource& source, std::size_t step = 50000) {
        std::string all;
        std::string buffer(step, '\0');
        std::int64_t consumed = source.Consumed();
        while (const std::size_t n = source.Read(buffer.data(), buffer.size())) {
            all.append(buffer, 0, n);
            EXPECT_GE(source.Consumed(), consumed);
            consumed = source.Consumed();
        }
        EXPECT_EQ(source.Read(buffer.data(), buffer.size()), 0U);
        return all;
    }

    test_support::TempFolder folder_{"source"};
    const std::string content_ = Content();
};

// Standard input taken from a pipe for the length of a test; a thread
// writes `bytes` into it and, unless told to stall, closes it.
class StdinPipe {
  public:
    explicit StdinPipe(std::string bytes, bool stall = false) : saved_(::dup(STDIN_FILENO)) {
        std::signal(SIGPIPE, SIG_IGN);  // a writer left behind by its reader just stops
        int ends[2];
        EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        ::dup2(ends[0], STDIN_FILENO);
        ::close(ends[0]);
        writer_ = std::thread([fd = ends[1], bytes = std::move(bytes), stall, this] {
            for (std::size_t at = 0; at < bytes.size();) {
                const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
                if (n <= 0)
                    break;
                at += static_cast<std::size_t>(n);
            }
            if (stall)
                while (!done_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            ::close(fd);
        });
    }
    ~StdinPipe() {
        done_ = true;
        ::dup2(saved_, STDIN_FILENO);  // the writer sees the pipe's reader gone
        ::close(saved_);
        writer_.join();
    }
    StdinPipe(const StdinPipe&) = delete;
    StdinPipe& operator=(const StdinPipe&) = delete;

  private:
    int saved_;
    std::atomic<bool> done_{false};
    std::thread writer_;
};

// Hands out `chunks` one per Read, then raises `failure` if there is one;
// each chunk counts 1000 stored bytes.
class ScriptedSource : public IBackupSource {
  public:
    ScriptedSource(std::vector<std::string> chunks, bool fail)
        : chunks_(std::move(chunks)), fail_(fail) {}
    std::size_t Read(char* buffer, std::size_t max) override {
        if (next_ == chunks_.size()) {
            if (fail_)
                throw restore::EBackupUnreadable("b.fbk", "damaged");
            return 0;
        }
        const std::string& chunk = chunks_[next_++];
        EXPECT_LE(chunk.size(), max);
        chunk.copy(buffer, chunk.size());
        consumed_ += 1000;
        return chunk.size();
    }
    std::int64_t Consumed() const override { return consumed_; }
    std::optional<std::int64_t> Total() const override {
        return static_cast<std::int64_t>(chunks_.size()) * 1000;
    }

  private:
    std::vector<std::string> chunks_;
    bool fail_;
    std::size_t next_ = 0;
    std::int64_t consumed_ = 0;
};

struct Form {
    const char* name;
    const char* command;  // makes `backup` from `content`
};

// None of them is named for what it is: reading goes by content alone.
const Form kForms[] = {
    {"plain", "cp content backup"},
    {"gzip", "gzip -c content > backup"},
    {"gzip in two members",
     "head -c 700000 content | gzip > backup;"
     "tail -c +700001 content | gzip >> backup"},
    {"bzip2", "bzip2 -c content > backup"},
    {"xz", "xz -c content > backup"},
    {"zstd", "zstd -q -c content > backup"},
    {"lz4", "lz4 -q -c content > backup"},
    {"zip", "zip -q - content > backup"},
    {"zip written to a pipe", "zip -q - - < content > backup"},
    {"tar", "tar cf backup content"},
    {"tar with a folder", "mkdir d && cp content d/ && tar cf backup d"},
    {"tar.zst", "tar cf - content | zstd -q > backup"},
    {"tar.gz", "tar czf backup content"},
};

}  // namespace

TEST_F(BackupSourceTest, EveryFormReadsBackByteForByteFromAFile) {
    for (const Form& form : kForms) {
        SCOPED_TRACE(form.name);
        const std::string path = Make(form.command);
        const auto size = static_cast<std::int64_t>(ReadFile(path).size());
        const auto source = restore::OpenBackupStream(path);
        EXPECT_EQ(source->Total(), size);
        EXPECT_TRUE(ReadAll(*source) == content_);
        EXPECT_EQ(source->Consumed(), size);
    }
}

TEST_F(BackupSourceTest, EveryFormReadsBackFromStandardInputWithoutATotal) {
    for (const Form& form : kForms) {
        SCOPED_TRACE(form.name);
        const std::string stored = ReadFile(Make(form.command));
        StdinPipe pipe(stored);
        const auto source = restore::OpenBackupStream("-");
        EXPECT_EQ(source->Total(), std::nullopt);
        EXPECT_TRUE(ReadAll(*source) == content_);
        EXPECT_GT(source->Consumed(), 0);
        EXPECT_LE(source->Consumed(), static_cast<std::int64_t>(stored.size()));
    }
}

TEST_F(BackupSourceTest, AnArchiveOfSeveralFilesIsRefusedAtOpenNamingThem) {
    for (const char* command : {"cp content second && zip -q - content second > backup",
                                "cp content second && tar cf backup content second"}) {
        SCOPED_TRACE(command);
        const std::string path = Make(command);
        try {
            restore::OpenBackupStream(path);
            ADD_FAILURE() << "opened";
        } catch (const restore::EBackupArchiveMembers& refusal) {
            EXPECT_EQ(refusal.Members(), (std::vector<std::string>{"content", "second"}));
            EXPECT_EQ(refusal.Message(),
                      "The backup archive holds more than one file (content, second): " + path);
        }
    }
}

TEST_F(BackupSourceTest, AStreamedArchiveOfSeveralFilesIsRefusedAfterTheFirst) {
    StdinPipe pipe(ReadFile(Make("cp content second && tar cf backup content second")));
    const auto source = restore::OpenBackupStream("-");
    try {
        ReadAll(*source);
        ADD_FAILURE() << "read through";
    } catch (const restore::EBackupArchiveMembers& refusal) {
        EXPECT_EQ(refusal.Members(), (std::vector<std::string>{"content", "second"}));
    }
}

TEST_F(BackupSourceTest, NothingToReadIsRefusedAtOpen) {
    struct Case {
        const char* name;
        const char* command;
        bool archive;
    } cases[] = {
        {"empty file", ": > backup", false},
        {"empty gzip", "gzip -c < /dev/null > backup", false},
        {"empty tar", "tar cf backup -T /dev/null", true},
        {"tar of a folder only", "mkdir d && tar cf backup d", true},
        {"tar of a link only", "ln -s content link && tar cf backup link", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            restore::OpenBackupStream(Make(c.command));
            ADD_FAILURE() << "opened";
        } catch (const restore::EBackupEmpty& refusal) {
            EXPECT_EQ(refusal.IsArchive(), c.archive);
        }
    }
}

TEST_F(BackupSourceTest, AFileThatCannotBeOpenedSaysWhy) {
    struct Case {
        std::string path;
        std::string reason;
    } cases[] = {
        {folder_.Path("missing.fbk"), "No such file or directory"},
        {folder_.Folder("folder"), "Is a directory"},
    };
    for (const Case& c : cases) {
        try {
            restore::OpenBackupStream(c.path);
            ADD_FAILURE() << c.path;
        } catch (const restore::EBackupNotOpened& refusal) {
            EXPECT_EQ(refusal.Reason(), c.reason);
            EXPECT_EQ(refusal.Path(), c.path);
        }
    }
}

// Raised at open or part way; never a quiet end or wrong bytes.
TEST_F(BackupSourceTest, DamagedOrCutShortDataRaises) {
    const Form cases[] = {
        // Only the stored CRC is wrong: the data inflates, and is still not the backup.
        {"gzip with a wrong CRC",
         "gzip -c content > backup && printf 'XXXX' | dd of=backup bs=1 conv=notrunc "
         "seek=$(($(stat -c %s backup) - 8)) status=none"},
        {"gzip cut short", "gzip -c content | head -c 600000 > backup"},
        {"zstd cut short", "zstd -q -c content | head -c 600000 > backup"},
        {"xz damaged",
         "xz -c content > backup && printf 'XXXX' | dd of=backup bs=1 "
         "conv=notrunc seek=300000 status=none"},
        {"zip damaged",
         "zip -q - content > backup && printf 'XXXX' | dd of=backup bs=1 "
         "conv=notrunc seek=300000 status=none"},
    };
    for (const Form& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Make(c.command);
        EXPECT_THROW(ReadAll(*restore::OpenBackupStream(path)), restore::EBackupUnreadable);
    }
}

TEST_F(BackupSourceTest, ReadAheadHandsOutTheSameBytesAndFollowsWhatItHandedOut) {
    const std::string path = Make("zstd -q -c content > backup");
    const auto size = static_cast<std::int64_t>(ReadFile(path).size());
    const auto source = restore::ReadAhead(restore::OpenBackupStream(path), 256 << 10);
    EXPECT_EQ(source->Total(), size);
    EXPECT_TRUE(ReadAll(*source, 7000) == content_);
    EXPECT_EQ(source->Consumed(), size);
}

TEST(ReadAhead, ConsumedStaysWithTheDataHandedOutWhileTheThreadRunsAhead) {
    const auto source =
        restore::ReadAhead(std::make_unique<ScriptedSource>(
                               std::vector<std::string>(50, std::string(100, 'x')), false),
                           1 << 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the thread has read them all
    char buffer[250];
    ASSERT_EQ(source->Read(buffer, 250), 250U);
    EXPECT_EQ(source->Consumed(), 2500);  // two and a half chunks of 1000 stored bytes
}

TEST(ReadAhead, AnErrorInTheThreadArrivesAfterTheDataBeforeIt) {
    const auto source = restore::ReadAhead(
        std::make_unique<ScriptedSource>(std::vector<std::string>{"abc", "def"}, true));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the thread has hit the error
    char buffer[100];
    std::string got;
    try {
        while (const std::size_t n = source->Read(buffer, sizeof buffer)) got.append(buffer, n);
        ADD_FAILURE() << "no error";
    } catch (const restore::EBackupUnreadable& error) {
        EXPECT_EQ(error.Reason(), "damaged");
    }
    EXPECT_EQ(got, "abcdef");
    EXPECT_EQ(source->Consumed(), 2000);
}

TEST_F(BackupSourceTest, DestroyingTheReadAheadStopsPromptlyOnAStalledPipe) {
    StdinPipe pipe(content_.substr(0, 100000), /*stall=*/true);
    auto source = restore::ReadAhead(restore::OpenBackupStream("-"));
    char buffer[1000];
    ASSERT_GT(source->Read(buffer, sizeof buffer), 0U);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the thread waits in the pipe
    const auto start = Clock::now();
    source.reset();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));
}

TEST_F(BackupSourceTest, InterruptStopsAReadWaitingOnAStalledPipe) {
    StdinPipe pipe(content_.substr(0, 100000), /*stall=*/true);
    const auto source = restore::ReadAhead(restore::OpenBackupStream("-"));
    std::string buffer(1 << 20, '\0');
    std::thread interrupter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        source->Interrupt();
    });
    const auto readToTheEnd = [&] {
        while (source->Read(buffer.data(), buffer.size()) > 0) {
        }
    };
    const auto start = Clock::now();
    EXPECT_THROW(readToTheEnd(), restore::EBackupStopped);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(300));
    interrupter.join();
}
