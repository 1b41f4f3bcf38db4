// tovanel-restore as an administrator runs it, against the private server.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "restore/FileOps.h"
#include "tests/support/Files.h"
#include "tests/support/Server.h"
#include "tests/support/Wait.h"

namespace fs = std::filesystem;
using test_support::FolderNames;
using test_support::ReadFile;
using test_support::ServerDir;
using test_support::WriteForServer;

namespace {

const char* const kOld = "the administrator's old database";

struct Outcome {
    int code = -1;
    std::string out, err;
    // The last JSON line of stdout.
    std::string Last() const {
        const std::size_t end = out.find_last_not_of('\n');
        const std::size_t start = out.rfind('\n', end);
        return out.substr(start == std::string::npos ? 0 : start + 1, end - start);
    }
};

// Starts the program with stdout on a pipe and stderr into a file; the
// password comes from the environment unless `env` says otherwise.
class CliProcess {
  public:
    CliProcess(std::vector<std::string> args, const fs::path& errFile,
               std::vector<std::string> env = {"ISC_PASSWORD=fernstone"})
        : errFile_(errFile) {
        int pipeEnds[2];
        if (::pipe(pipeEnds) != 0)
            return;
        // One page, read without a buffer of ours: once the test stops
        // reading, the program stops at its next line within a page.
        ::fcntl(pipeEnds[0], F_SETPIPE_SZ, 4096);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(pipeEnds[1], 1);
            const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(err, 2);
            ::close(pipeEnds[0]);
            ::setsid();  // no terminal to ask a password on
            ::unsetenv("ISC_PASSWORD");
            for (std::string& e : env) ::putenv(e.data());
            std::vector<char*> argv{const_cast<char*>(CLI_PROGRAM)};
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(CLI_PROGRAM, argv.data());
            ::_exit(127);
        }
        ::close(pipeEnds[1]);
        out_ = ::fdopen(pipeEnds[0], "r");
        if (out_)
            std::setvbuf(out_, nullptr, _IONBF, 0);
    }
    // A test that stops early leaves no program behind, stuck on its output.
    ~CliProcess() {
        if (out_)
            std::fclose(out_);
        if (pid_ > 0)
            test_support::ReapChild(pid_, std::chrono::seconds(10));
    }
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;
    // The next stdout line, or false at its end.
    bool Line(std::string& line) {
        char buffer[65536];
        if (!out_ || !std::fgets(buffer, sizeof buffer, out_))
            return false;
        line = buffer;
        outcome_.out += line;
        return true;
    }
    void Signal(int signal) { ::kill(pid_, signal); }
    // The program's main thread sleeps writing a line nobody reads yet.
    bool StuckOnOutput() const { return Sleeps(pid_, SYS_write, 1); }
    // Sends `signal` and waits until the program's signal thread has taken it
    // and sleeps again: it has counted it by then.
    bool SignalTaken(int signal) {
        Signal(signal);
        return test_support::WaitUntil(
            [&] { return !Pending(signal) && Sleeps(0, SYS_rt_sigtimedwait, -1); },
            std::chrono::seconds(30));
    }
    Outcome Finish() {
        std::string line;
        while (Line(line)) {
        }
        if (out_)
            std::fclose(out_);
        out_ = nullptr;
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        outcome_.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        outcome_.err = ReadFile(errFile_);
        return outcome_;
    }

  private:
    // Whether the program's thread `thread` (any, if 0) sleeps in system call
    // `call`, on first argument `first` unless that is -1. A running thread
    // shows no call.
    bool Sleeps(pid_t thread, long call, long first) const {
        const fs::path tasks = "/proc/" + std::to_string(pid_) + "/task";
        std::error_code error;
        for (const auto& task : fs::directory_iterator(tasks, error)) {
            if (thread != 0 && task.path().filename() != std::to_string(thread))
                continue;
            std::ifstream file(task.path() / "syscall");
            long number = -1;
            std::string argument;
            if (file >> number >> argument && number == call &&
                (first == -1 || std::stol(argument, nullptr, 16) == first))
                return true;
        }
        return false;
    }
    bool Pending(int signal) const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("ShdPnd:", 0) == 0)
                return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1) & 1) != 0;
        return false;
    }

    fs::path errFile_;
    pid_t pid_ = -1;
    std::FILE* out_ = nullptr;
    Outcome outcome_;
};

// What the server's query tool reports of a restored database, in the form
// the sample's expected output was recorded in.
std::string CheckDatabase(const fs::path& database) {
    return test_support::QueryServer(PROJECT_SCRIPTS, SAMPLE_DIR "/check.sql", database);
}

class CliRestoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(ServerDir().empty()) << "FIREBIRD must name the private server's client root";
        // The server reads the backup and writes the target itself.
        folder_.emplace("cli", ServerDir() / "db");
        root_ = folder_->Root();
        for (const fs::path& folder : {root_, data()}) {
            fs::create_directories(folder);
            ::chmod(folder.c_str(), 0777);
        }
        fs::copy_file(fs::path(SAMPLE_DIR) / "sample.fbk", backup());
        ::chmod(backup().c_str(), 0644);
    }

    fs::path data() const { return root_ / "Data"; }
    fs::path backup() const { return root_ / "sample.fbk"; }
    fs::path target() const { return data() / "target.fdb"; }

    Outcome Restore(std::vector<std::string> args,
                    std::vector<std::string> env = {"ISC_PASSWORD=fernstone"}) {
        return CliProcess(std::move(args), root_ / "stderr.txt", std::move(env)).Finish();
    }

    std::optional<test_support::TempFolder> folder_;
    fs::path root_;
};

}  // namespace

TEST_F(CliRestoreTest, RestoresANewTargetAndReportsEachStepAsJson) {
    const Outcome run = Restore({"--json", backup(), target()});
    ASSERT_EQ(run.code, 0) << run.err << run.out;
    EXPECT_EQ(run.out.rfind("{\"event\":\"connected\"}\n{\"event\":\"started\"}\n", 0), 0u)
        << run.out;
    EXPECT_NE(run.out.find("{\"event\":\"checked\",\"attributes\":\"force write\"}"),
              std::string::npos);
    EXPECT_EQ(run.Last().rfind("{\"event\":\"finished\",\"ok\":true,\"exit_code\":0,", 0), 0u)
        << run.Last();
    EXPECT_NE(run.Last().find("\"original\":\"none\",\"original_path\":\"\"}"), std::string::npos);
    EXPECT_EQ(CheckDatabase(target()), ReadFile(fs::path(SAMPLE_DIR) / "sample.expected"));
}

TEST_F(CliRestoreTest, ReplaceSwapsTheTargetIncludingANameTooLongForAPlainAsideSuffix) {
    std::string longName;
    for (int i = 0; i < 80; ++i) longName += "가";
    for (const std::string& name : {std::string("target.fdb"), longName + ".fdb"}) {
        SCOPED_TRACE(name.size());
        WriteForServer(data() / name, kOld);
        const Outcome run = Restore({"--replace", backup(), data() / name});
        ASSERT_EQ(run.code, 0) << run.err;
        EXPECT_EQ(FolderNames(data()), std::vector<std::string>{name});
        EXPECT_NE(ReadFile(data() / name), kOld);
        fs::remove(data() / name);
    }
}

TEST_F(CliRestoreTest, AFailedRestoreGivesTheOriginalBackByteForByte) {
    std::mt19937 random(7);
    std::string noise(200000, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    WriteForServer(root_ / "corrupt.fbk", noise);
    const std::string whole = ReadFile(backup());
    WriteForServer(root_ / "short.fbk", whole.substr(0, whole.size() * 2 / 3));
    for (const char* bad : {"corrupt.fbk", "short.fbk"}) {
        SCOPED_TRACE(bad);
        WriteForServer(target(), kOld);
        const Outcome run = Restore({"--replace", "--json", root_ / bad, target()});
        EXPECT_EQ(run.code, 1) << run.err;
        EXPECT_EQ(ReadFile(target()), kOld);
        EXPECT_EQ(FolderNames(data()), std::vector<std::string>{"target.fdb"});
        EXPECT_NE(run.Last().find("\"original\":\"put_back\",\"original_path\":\"" +
                                  target().string() + "\""),
                  std::string::npos)
            << run.Last();
    }
}

TEST_F(CliRestoreTest, BadInputIsRefusedWithStatusTwoBeforeAnythingIsTouched) {
    WriteForServer(target(), kOld);
    fs::create_directories(root_ / "folder.fbk");
    struct Case {
        std::vector<std::string> args;
        std::string says;
        std::vector<std::string> env = {"ISC_PASSWORD=fernstone"};
    } cases[] = {
        {{"--replace", (root_ / "none.fbk").string(), target()}, "backup file not found"},
        {{"--replace", (root_ / "folder.fbk").string(), target()}, "backup is a folder"},
        {{backup(), (root_ / "none" / "x.fdb").string()}, "target folder not found"},
        {{"--replace", backup(), backup()}, "target is the backup file itself"},
        {{"--bogus", backup(), target()}, "--bogus"},
        {{"--page-size", "1000", backup(), data() / "new.fdb"}, "page size 1000"},
        {{backup(), target()}, "already exists (use --replace"},
        {{"--replace", "--server", "db1", backup(), target()}, "local targets only"},
        {{backup(), data() / "new.fdb"}, "no password", {}},
        {{"--password-file", (root_ / "none.txt").string(), backup(), data() / "new.fdb"},
         "cannot read the password file"},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.says);
        const Outcome run = Restore(c.args, c.env);
        EXPECT_EQ(run.code, 2);
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(ReadFile(target()), kOld);
        EXPECT_EQ(FolderNames(data()), std::vector<std::string>{"target.fdb"});
    }
}

TEST_F(CliRestoreTest, AServerNamedWithItsPortRestoresOverTheNetwork) {
    // The private server's port, from the environment file beside its client root.
    std::string port;
    std::ifstream env(ServerDir() / "env.sh");
    for (std::string line; std::getline(env, line);)
        if (line.rfind("export FB_PORT=", 0) == 0)
            port = line.substr(15);
    ASSERT_FALSE(port.empty());
    const Outcome run = Restore({"--server", "127.0.0.1/" + port, backup(), target()});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(CheckDatabase(target()), ReadFile(fs::path(SAMPLE_DIR) / "sample.expected"));
}

TEST_F(CliRestoreTest, RefusedCredentialsLeaveTheOriginalUntouched) {
    WriteForServer(target(), kOld);
    const Outcome run =
        Restore({"--replace", "--json", backup(), target()}, {"ISC_PASSWORD=not-the-password"});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.Last().find("\"original\":\"untouched\""), std::string::npos) << run.Last();
    EXPECT_EQ(ReadFile(target()), kOld);
}

TEST_F(CliRestoreTest, ALinkedTargetIsRestoredWhereItLeadsAndTheLinkStays) {
    const fs::path disk2 = root_ / "disk2";
    fs::create_directories(disk2);
    ::chmod(disk2.c_str(), 0777);
    WriteForServer(disk2 / "real.fdb", kOld);
    fs::create_symlink(disk2 / "real.fdb", target());
    const Outcome run = Restore({"--replace", backup(), target()});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(fs::is_symlink(target()));
    EXPECT_EQ(FolderNames(disk2), std::vector<std::string>{"real.fdb"});
    EXPECT_EQ(CheckDatabase(disk2 / "real.fdb"),
              ReadFile(fs::path(SAMPLE_DIR) / "sample.expected"));
}

TEST_F(CliRestoreTest, ASecondInterruptLeavesAtOnceAndSaysWhereTheOriginalIs) {
    WriteForServer(target(), kOld);
    // The sample's verbose restore prints more than twice what the pipe holds
    // after "started": left unread, the program stops in the middle of the
    // server's lines, before it looks at its interruptions again, however
    // fast the server and slow this program are.
    CliProcess run({"--replace", "--json", "--verbose", backup(), target()}, root_ / "stderr.txt");
    std::string line;
    while (run.Line(line) && line.find("\"started\"") == std::string::npos) {
    }
    ASSERT_TRUE(
        test_support::WaitUntil([&] { return run.StuckOnOutput(); }, std::chrono::seconds(60)))
        << "the program never waited on its output";
    // Signals of one kind do not queue: the second goes once the first was taken.
    ASSERT_TRUE(run.SignalTaken(SIGINT));
    ASSERT_TRUE(run.SignalTaken(SIGINT));
    const Outcome outcome = run.Finish();
    EXPECT_EQ(outcome.code, 3) << outcome.out;
    const fs::path aside = target().string() + ".before-restore";
    EXPECT_NE(outcome.Last().find("\"original\":\"kept_aside\",\"original_path\":\"" +
                                  aside.string() + "\""),
              std::string::npos)
        << outcome.Last();
    EXPECT_EQ(ReadFile(aside), kOld);
    // The server goes on: wait for it to let go of the target before cleaning up.
    for (int turn = 0; turn < 600 && restore::IsHeldOpen(target().string()); ++turn)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
}
