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
#include <functional>
#include <random>
#include <stdexcept>
#include <thread>

#include "restore/RestoreErrors.h"
#include "tests/support/Files.h"

using restore::IBackupSource;
using test_support::ReadFile;
using Clock = std::chrono::steady_clock;
using Names = std::vector<std::string>;

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

// Everything Read hands out, checking on the way that Consumed never goes down.
std::string ReadAll(IBackupSource& source, std::size_t step = 50000) {
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

class BackupSourceTest : public ::testing::Test {
  protected:
    // Runs `command` in the test's folder, next to `content` holding Content().
    std::string Make(const std::string& command) {
        folder_.File("content", content_);
        const std::string line = "cd '" + folder_.Path() + "' && (" + command + ") 2>&1";
        EXPECT_EQ(std::system(line.c_str()), 0) << command;
        return folder_.Path("backup");
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
            while (stall && !done_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
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

// Hands out `chunks`, one a Read, each counting 1000 stored bytes; then
// raises.
class ScriptedSource : public IBackupSource {
  public:
    explicit ScriptedSource(Names chunks) : chunks_(std::move(chunks)) {}
    std::size_t Read(char* buffer, std::size_t) override {
        if (next_ == chunks_.size())
            throw restore::EBackupUnreadable("b.fbk", "damaged");
        consumed_ += 1000;
        return chunks_[next_++].copy(buffer, std::string::npos);
    }
    std::int64_t Consumed() const override { return consumed_; }
    std::optional<std::int64_t> Total() const override { return std::nullopt; }

  private:
    Names chunks_;
    std::size_t next_ = 0;
    std::int64_t consumed_ = 0;
};

struct Form {
    const char* name;
    const char* command;  // makes `backup` from `content`
};

template <class Refusal>
Refusal RefusalOf(const std::function<void()>& reading) {
    try {
        reading();
    } catch (const Refusal& refusal) {
        return refusal;
    }
    throw std::runtime_error("not refused");
}

}  // namespace

// None is named for what it is: reading goes by content alone. From a pipe
// (standard input) nothing can be read twice, and the read-ahead is between.
TEST_F(BackupSourceTest, EveryFormReadsBackByteForByteFromAFileAndFromAPipe) {
    const Form forms[] = {
        {"plain", "cp content backup"},
        {"gzip", "gzip -c content > backup"},
        {"gzip in two members",
         "head -c 700000 content | gzip > backup; tail -c +700001 content | gzip >> backup"},
        {"bzip2", "bzip2 -c content > backup"},
        {"xz", "xz -c content > backup"},
        {"zstd", "zstd -q -c content > backup"},
        {"lz4", "lz4 -q -c content > backup"},
        {"zip", "zip -q - content > backup"},
        {"zip written to a pipe", "zip -q - - < content > backup"},
        {"tar", "tar cf backup content"},
        {"tar with a folder", "mkdir d && cp content d/ && tar cf backup d"},
        {"tar.gz", "tar czf backup content"},
    };
    for (const Form& form : forms) {
        SCOPED_TRACE(form.name);
        const std::string path = Make(form.command);
        const auto size = static_cast<std::int64_t>(ReadFile(path).size());
        const auto source = restore::OpenBackupStream(path);
        EXPECT_EQ(source->Total(), size);
        EXPECT_TRUE(ReadAll(*source) == content_);
        EXPECT_EQ(source->Consumed(), size);

        StdinPipe pipe(ReadFile(path));
        const auto streamed = restore::ReadAhead(restore::OpenBackupStream("-"), 256 << 10);
        EXPECT_EQ(streamed->Total(), std::nullopt);
        EXPECT_TRUE(ReadAll(*streamed, 7000) == content_);
        EXPECT_GT(streamed->Consumed(), 0);
        EXPECT_LE(streamed->Consumed(), size);
    }
}

// A file is refused at open; a pipe once its second member comes.
TEST_F(BackupSourceTest, AnArchiveOfSeveralFilesIsRefusedNamingThem) {
    for (const char* command : {"cp content second && zip -q - content second > backup",
                                "cp content second && tar cf backup content second"}) {
        SCOPED_TRACE(command);
        const std::string path = Make(command);
        const auto refusal =
            RefusalOf<restore::EBackupArchiveMembers>([&] { restore::OpenBackupStream(path); });
        EXPECT_EQ(refusal.Members(), (Names{"content", "second"}));
        EXPECT_EQ(refusal.Message(),
                  "The backup archive holds more than one file (content, second): " + path);

        StdinPipe pipe(ReadFile(path));
        const auto source = restore::OpenBackupStream("-");
        EXPECT_EQ(RefusalOf<restore::EBackupArchiveMembers>([&] { ReadAll(*source); }).Members(),
                  (Names{"content", "second"}));
    }
}

TEST_F(BackupSourceTest, NothingToReadIsRefusedAtOpen) {
    struct Case {
        const char* command;
        bool archive;
    } cases[] = {
        {": > backup", false},
        {"gzip -c < /dev/null > backup", false},
        {"tar cf backup -T /dev/null", true},
        {"mkdir d && tar cf backup d", true},
        {"ln -s content link && tar cf backup link", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const std::string path = Make(c.command);
        EXPECT_EQ(
            RefusalOf<restore::EBackupEmpty>([&] { restore::OpenBackupStream(path); }).IsArchive(),
            c.archive);
    }
}

TEST_F(BackupSourceTest, AFileThatCannotBeOpenedSaysWhy) {
    const std::pair<std::string, std::string> cases[] = {
        {folder_.Path("missing.fbk"), "No such file or directory"},
        {folder_.Folder("folder"), "Is a directory"},
    };
    for (const auto& [path, reason] : cases) {
        const auto refusal =
            RefusalOf<restore::EBackupNotOpened>([&] { restore::OpenBackupStream(path); });
        EXPECT_EQ(refusal.Reason(), reason);
        EXPECT_EQ(refusal.Path(), path);
    }
}

// Raised at open or part way; never a quiet end or wrong bytes.
TEST_F(BackupSourceTest, DamagedOrCutShortDataRaises) {
    const std::string damage = " | dd of=backup bs=1 conv=notrunc status=none seek=";
    const std::string cases[] = {
        // Only the stored CRC is wrong: the data inflates, and is not the backup.
        "gzip -c content > backup && printf XXXX" + damage + "$(($(stat -c %s backup) - 8))",
        "gzip -c content | head -c 600000 > backup",
        "zstd -q -c content | head -c 600000 > backup",
        "xz -c content > backup && printf XXXX" + damage + "300000",
        "zip -q - content > backup && printf XXXX" + damage + "300000",
    };
    for (const std::string& command : cases) {
        SCOPED_TRACE(command);
        const std::string path = Make(command);
        EXPECT_THROW(ReadAll(*restore::OpenBackupStream(path)), restore::EBackupUnreadable);
    }
}

// The thread runs ahead to the error while nothing has been handed out yet.
TEST(ReadAhead, ConsumedFollowsTheDataHandedOutAndAnErrorArrivesAfterTheDataBeforeIt) {
    const auto source = restore::ReadAhead(
        std::make_unique<ScriptedSource>(Names(10, std::string(100, 'x'))), 1 << 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    char buffer[300];  // the last Read meets the error part way
    ASSERT_EQ(source->Read(buffer, 250), 250U);
    EXPECT_EQ(source->Consumed(), 2500);  // two and a half chunks of 1000 stored bytes
    std::string got(buffer, 250);
    const auto error = RefusalOf<restore::EBackupUnreadable>([&] {
        while (const std::size_t n = source->Read(buffer, sizeof buffer)) got.append(buffer, n);
    });
    EXPECT_EQ(error.Reason(), "damaged");
    EXPECT_EQ(got, std::string(1000, 'x'));
    EXPECT_EQ(source->Consumed(), 10000);
}

// A reading that waits in read(2) on a pipe would hold up both for good.
TEST_F(BackupSourceTest, InterruptAndDestroyingTheReadAheadStopPromptlyOnAStalledPipe) {
    StdinPipe pipe(content_.substr(0, 100000), /*stall=*/true);
    auto source = restore::ReadAhead(restore::OpenBackupStream("-"));
    std::thread interrupter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        source->Interrupt();
    });
    const auto start = Clock::now();
    EXPECT_THROW(ReadAll(*source, 1 << 20), restore::EBackupStopped);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(300));
    interrupter.join();

    StdinPipe again(content_.substr(0, 100000), /*stall=*/true);
    source = restore::ReadAhead(restore::OpenBackupStream("-"));
    char buffer[1000];
    ASSERT_GT(source->Read(buffer, sizeof buffer), 0U);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the thread waits in the pipe
    const auto destroyed = Clock::now();
    source.reset();
    EXPECT_LT(Clock::now() - destroyed, std::chrono::milliseconds(100));
}
