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
#include <functional>
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
using test_support::CommandOutput;
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
// password comes from the environment unless `env` says otherwise. With
// `feed`, standard input is a pipe the test writes; `cwd` is the folder the
// program starts in.
class CliProcess {
  public:
    CliProcess(std::vector<std::string> args, const fs::path& errFile,
               std::vector<std::string> env = {"ISC_PASSWORD=fernstone"}, bool feed = false,
               const fs::path& cwd = {})
        : errFile_(errFile) {
        int out[2], in[2] = {-1, -1};
        if (::pipe(out) != 0 || (feed && ::pipe(in) != 0))
            return;
        // One page, read without a buffer of ours: once the test stops
        // reading, the program stops at its next line within a page.
        ::fcntl(out[0], F_SETPIPE_SZ, 4096);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            if (feed)
                ::dup2(in[0], 0);
            const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(err, 2);
            for (int fd : {out[0], out[1], in[0], in[1]})
                if (fd > 2)
                    ::close(fd);
            if (!cwd.empty() && ::chdir(cwd.c_str()) != 0)
                ::_exit(126);
            ::setsid();  // no terminal to ask a password on
            ::unsetenv("ISC_PASSWORD");
            for (std::string& e : env) ::putenv(e.data());
            std::vector<char*> argv{const_cast<char*>(CLI_PROGRAM)};
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(CLI_PROGRAM, argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        out_ = ::fdopen(out[0], "r");
        if (out_)
            std::setvbuf(out_, nullptr, _IONBF, 0);
        if (feed) {
            ::close(in[0]);
            in_ = in[1];
        }
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
    // Reads stdout up to the first line holding `text`.
    bool LineWith(const std::string& text) {
        std::string line;
        while (Line(line))
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }
    void Feed(const std::string& data) {
        for (std::size_t at = 0; at < data.size();) {
            const ssize_t n = ::write(in_, data.data() + at, data.size() - at);
            if (n <= 0)
                return;
            at += static_cast<std::size_t>(n);
        }
    }
    void EndInput() {
        if (in_ >= 0)
            ::close(in_);
        in_ = -1;
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
        EndInput();
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
    int in_ = -1;
    Outcome outcome_;
};

// What the server's query tool reports of a restored database, in the form
// the sample's expected output was recorded in.
std::string CheckDatabase(const fs::path& database) {
    return test_support::QueryServer(PROJECT_SCRIPTS, SAMPLE_DIR "/check.sql", database);
}

std::string Expected() {
    return ReadFile(fs::path(SAMPLE_DIR) / "sample.expected");
}

std::string Shell(const std::string& command) {
    return CommandOutput("( " + command + " ) 2>&1");
}

// A backup with what the sample lacks: a shadow, and UNICODE_FSS text in a
// column and in a comment. Made once per server folder.
fs::path OptionsBackup() {
    const fs::path folder = ServerDir() / "db" / "cli-options";
    const fs::path backup = folder / "options.fbk";
    if (fs::exists(backup))
        return backup;
    fs::create_directories(folder);
    ::chmod(folder.c_str(), 0777);
    const fs::path database = folder / "options.fdb";
    WriteForServer(folder / "make.sql",
                   "CREATE DATABASE 'localhost:" + database.string() +
                       "' DEFAULT CHARACTER SET UTF8;\n"
                       "CREATE TABLE T_FSS (S VARCHAR(10) CHARACTER SET UNICODE_FSS);\n"
                       "INSERT INTO T_FSS VALUES ('한');\n"
                       "COMMENT ON TABLE T_FSS IS '한';\n"
                       "CREATE SHADOW 1 '" +
                       (folder / "options.shd").string() + "';\nCOMMIT;\n");
    const std::string run =
        std::string("'") + PROJECT_SCRIPTS + "/fbserver.sh' run '" + ServerDir().string() + "' ";
    Shell(run + "isql-fb -q -ch UTF8 -user SYSDBA -password fernstone -i '" +
          (folder / "make.sql").string() + "'");
    Shell(run + "gbak -b -se localhost:service_mgr -user SYSDBA -password fernstone '" +
          database.string() + "' '" + (folder / "making.fbk").string() + "'");
    fs::rename(folder / "making.fbk", backup);
    return backup;
}

class CliRestoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(ServerDir().empty()) << "FIREBIRD must name the private server's client root";
        // The server writes the target and, with --backup-on-server, reads the backup.
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
    // The one value a query of the restored database gives.
    std::string Value(const fs::path& database, const std::string& expression) {
        WriteForServer(root_ / "value.sql",
                       "SET LIST ON;\nSELECT " + expression + " AS V FROM RDB$DATABASE;\n");
        const std::string out =
            test_support::QueryServer(PROJECT_SCRIPTS, root_ / "value.sql", database);
        const std::size_t at = out.find("V ");
        if (at == std::string::npos)
            return out;
        const std::size_t begin = out.find_first_not_of(' ', at + 1);
        return out.substr(begin, out.find_first_of("\r\n", begin) - begin);
    }

    std::optional<test_support::TempFolder> folder_;
    fs::path root_;
};

}  // namespace

TEST_F(CliRestoreTest, RestoresANewTargetOverTheNetworkAndReportsEachStepAsJson) {
    // The private server's port, from the environment file beside its client root.
    std::string port;
    std::ifstream env(ServerDir() / "env.sh");
    for (std::string line; std::getline(env, line);)
        if (line.rfind("export FB_PORT=", 0) == 0)
            port = line.substr(15);
    ASSERT_FALSE(port.empty());
    const Outcome run = Restore({"--json", "--server", "127.0.0.1/" + port, backup(), target()});
    ASSERT_EQ(run.code, 0) << run.err << run.out;
    EXPECT_EQ(run.out.rfind("{\"event\":\"connected\"}\n{\"event\":\"started\"}\n", 0), 0u)
        << run.out;
    const std::string total = std::to_string(fs::file_size(backup()));
    EXPECT_NE(run.out.find("\"input_bytes\":" + total + ",\"input_total\":" + total +
                           ",\"percent\":100.0"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("{\"event\":\"checked\",\"attributes\":\"force write\"}"),
              std::string::npos);
    EXPECT_EQ(run.Last().rfind("{\"event\":\"finished\",\"ok\":true,\"exit_code\":0,", 0), 0u)
        << run.Last();
    EXPECT_NE(run.Last().find("\"original\":\"none\",\"original_path\":\"\"}"), std::string::npos);
    EXPECT_EQ(CheckDatabase(target()), Expected());
}

// Each run over an old target ends one of three ways: the sample restored in
// its place, a failed restore with the original back byte for byte, or input
// refused with status 2 before anything is touched.
TEST_F(CliRestoreTest, EachRunRestoresTheSampleOrLeavesTheOriginalByteForByte) {
    // Backups in every format, in a folder the server's account cannot read.
    const std::string hidden = (root_ / "hidden").string();
    fs::create_directories(hidden);
    ::chmod(hidden.c_str(), 0700);
    fs::copy_file(backup(), hidden + "/sample.fbk");
    Shell("cd '" + hidden + "' && gzip -c sample.fbk > sample.fbk.gz && " +
          "zstd -q -c sample.fbk > sample.fbk.zst && xz -c sample.fbk > sample.fbk.xz && " +
          "zip -q one.zip sample.fbk");
    // Noise, a backup cut short, and a gzip stream damaged in its middle,
    // whose check fails only at its end.
    std::mt19937 random(7);
    std::string noise(200000, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    WriteForServer(root_ / "corrupt.fbk", noise);
    const std::string whole = ReadFile(backup());
    WriteForServer(root_ / "short.fbk", whole.substr(0, whole.size() * 2 / 3));
    Shell("gzip -c '" + backup().string() + "' > '" + (root_ / "damaged.fbk.gz").string() + "'");
    std::string gz = ReadFile(root_ / "damaged.fbk.gz");
    for (std::size_t i = gz.size() / 2; i < gz.size() / 2 + 64; ++i)
        gz[i] = static_cast<char>(~gz[i]);
    WriteForServer(root_ / "damaged.fbk.gz", gz);
    fs::create_directories(root_ / "folder.fbk");
    WriteForServer(root_ / "other.fbk", "another file");
    Shell("cd '" + root_.string() + "' && zip -q two.zip sample.fbk other.fbk");

    const std::string t = target().string();
    auto at = [&](const char* name) { return (root_ / name).string(); };
    const std::string fresh = (data() / "new.fdb").string();
    const std::string relative = "Data/../Data/target.fdb";
    const std::string putBack =
        "\"cancelled\":false,\"original\":\"put_back\",\"original_path\":\"" + t + "\"";
    struct Case {
        int code;
        std::string says;  // on stderr for a refusal, else on stdout
        std::vector<std::string> args;
        bool piped = false;   // the sample comes on standard input
        bool inRoot = false;  // started in the folder the backup is in
        const char* password = "fernstone";
    } cases[] = {
        {0, "\"original\":\"replaced\"", {"--replace", "--json", hidden + "/sample.fbk", t}},
        {0, "", {"--replace", hidden + "/sample.fbk.gz", t}},
        {0, "", {"--replace", hidden + "/sample.fbk.zst", t}},
        {0, "", {"--replace", hidden + "/sample.fbk.xz", t}},
        {0, "", {"--replace", hidden + "/one.zip", t}},
        {0, "\"input_total\":null,\"percent\":null", {"--replace", "--json", "-", t}, true},
        // Relative paths count from the caller's folder, not the server's.
        {0, "", {"--replace", "sample.fbk", relative}, false, true},
        {0, "", {"--replace", "--backup-on-server", "sample.fbk", relative}, false, true},
        {1, putBack, {"--replace", "--json", at("corrupt.fbk"), t}},
        {1, putBack, {"--replace", "--json", at("short.fbk"), t}},
        {1, putBack, {"--replace", "--json", at("damaged.fbk.gz"), t}},
        {1, putBack, {"--replace", "--json", "--backup-on-server", at("short.fbk"), t}},
        // The hidden file handed to the server to read is beyond its reach.
        {1, "", {"--replace", "--backup-on-server", hidden + "/sample.fbk", t}},
        {1,
         "\"original\":\"untouched\"",
         {"--replace", "--json", backup(), t},
         false,
         false,
         "bad"},
        {2, "cannot open the backup file", {"--replace", at("none.fbk"), t}},
        {2, "cannot open the backup file", {"--replace", at("folder.fbk"), t}},
        {2, "more than one file (sample.fbk, other.fbk)", {"--replace", at("two.zip"), t}},
        {2, "backup file not found", {"--replace", "--backup-on-server", at("none.fbk"), t}},
        {2, "backup is a folder", {"--replace", "--backup-on-server", at("folder.fbk"), t}},
        {2, "not \"-\"", {"--backup-on-server", "-", t}},
        {2, "target folder not found", {backup(), at("none/x.fdb")}},
        {2, "target is the backup file itself", {"--replace", backup(), backup()}},
        {2, "--bogus", {"--bogus", backup(), t}},
        {2, "--replica", {"--replica", "sometimes", backup(), t}},
        {2, "page size 1000", {"--page-size", "1000", backup(), fresh}},
        {2, "already exists (use --replace", {backup(), t}},
        {2, "local targets only", {"--replace", "--server", "db1", backup(), t}},
        {2, "no password", {backup(), fresh}, false, false, nullptr},
        {2, "cannot read the password file", {"--password-file", at("none.txt"), backup(), fresh}},
    };
    for (const Case& c : cases) {
        std::string name;
        for (const std::string& arg : c.args) name += arg + " ";
        SCOPED_TRACE(name);
        WriteForServer(target(), kOld);
        std::vector<std::string> env;
        if (c.password)
            env.push_back(std::string("ISC_PASSWORD=") + c.password);
        CliProcess process(c.args, root_ / "stderr.txt", env, c.piped, c.inRoot ? root_ : "");
        if (c.piped)
            process.Feed(whole);
        const Outcome run = process.Finish();
        EXPECT_EQ(run.code, c.code) << run.err << run.Last();
        EXPECT_NE((c.code == 2 ? run.err : run.out).find(c.says), std::string::npos)
            << run.err << run.Last();
        EXPECT_EQ(FolderNames(data()), std::vector<std::string>{"target.fdb"});
        if (c.code == 0)
            EXPECT_EQ(CheckDatabase(target()), Expected());
        else
            EXPECT_EQ(ReadFile(target()), kOld);
    }
}

TEST_F(CliRestoreTest, ReplaceSwapsATargetWhoseNameIsTooLongForAPlainAsideSuffix) {
    std::string name;
    for (int i = 0; i < 80; ++i) name += "가";
    name += ".fdb";
    WriteForServer(data() / name, kOld);
    const Outcome run = Restore({"--replace", backup(), data() / name});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(FolderNames(data()), std::vector<std::string>{name});
    EXPECT_NE(ReadFile(data() / name), kOld);
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
    EXPECT_EQ(CheckDatabase(disk2 / "real.fdb"), Expected());
}

TEST_F(CliRestoreTest, AnInterruptMidStreamEndsTheRestoreAndPutsTheOriginalBack) {
    WriteForServer(target(), kOld);
    CliProcess run({"--replace", "--json", "-", target()}, root_ / "stderr.txt",
                   {"ISC_PASSWORD=fernstone"}, true);
    const std::string whole = ReadFile(backup());
    run.Feed(whole.substr(0, whole.size() / 2));
    ASSERT_TRUE(run.LineWith("\"started\""));
    // The program now waits for the rest of a pipe that gives nothing.
    run.Signal(SIGINT);
    const Outcome outcome = run.Finish();
    EXPECT_EQ(outcome.code, 4) << outcome.err << outcome.out;
    EXPECT_NE(outcome.out.find("\"stop\":\"ending_input\""), std::string::npos);
    EXPECT_NE(outcome.Last().find("\"cancelled\":true,\"original\":\"put_back\""),
              std::string::npos)
        << outcome.Last();
    EXPECT_EQ(ReadFile(target()), kOld);
    EXPECT_EQ(FolderNames(data()), std::vector<std::string>{"target.fdb"});
}

TEST_F(CliRestoreTest, ASecondInterruptLeavesAtOnceAndSaysWhereTheOriginalIs) {
    WriteForServer(target(), kOld);
    // The server reads this backup itself, so the first interruption cannot
    // stop it. The sample's verbose restore prints more than twice what the pipe holds
    // after "started": left unread, the program stops in the middle of the
    // server's lines, before it looks at its interruptions again, however
    // fast the server and slow this program are.
    CliProcess run({"--replace", "--json", "--verbose", "--backup-on-server", backup(), target()},
                   root_ / "stderr.txt");
    ASSERT_TRUE(run.LineWith("\"started\""));
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

TEST_F(CliRestoreTest, ThePageSizeAndEachRestoreOptionShowTheirEffectInTheRestoredDatabase) {
    const std::string options = OptionsBackup().string();
    const std::string pages = "(SELECT MON$PAGES FROM MON$DATABASE)";
    const std::string rows =
        "(SELECT COUNT(*) FROM CUSTOMERS) || '/' || (SELECT COUNT(*) FROM ORDERS)";
    int defaultPages = 0;
    auto equals = [](std::string expected) {
        return [expected](const std::string& value) { EXPECT_EQ(value, expected); };
    };
    struct Case {
        std::vector<std::string> args;
        std::string expression;
        std::function<void(const std::string&)> check;
        std::string backup = "";
        int release = 3;  // the first that has the option
    } cases[] = {
        // The sample was backed up from a database of 8 KiB pages.
        {{},
         "(SELECT MON$PAGE_SIZE || '/' || MON$PAGES FROM MON$DATABASE)",
         [&](const std::string& value) {
             EXPECT_EQ(value.rfind("8192/", 0), 0u) << value;
             defaultPages = std::atoi(value.c_str() + 5);
         }},
        {{"--page-size", "16384"}, "(SELECT MON$PAGE_SIZE FROM MON$DATABASE)", equals("16384")},
        {{"--deactivate-indexes"},
         "(SELECT COUNT(*) FROM RDB$INDICES WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 "
         "AND COALESCE(RDB$INDEX_INACTIVE, 0) = 0)",
         equals("0")},
        {{"--no-validity"},
         "(SELECT COUNT(*) FROM RDB$RELATION_FIELDS WHERE RDB$RELATION_NAME = 'ORDERS' "
         "AND RDB$NULL_FLAG = 1)",
         equals("0")},
        {{"--use-all-space"},
         pages,
         [&](const std::string& value) { EXPECT_LT(std::stoi(value), defaultPages); }},
        {{"--metadata-only"}, rows, equals("0/0")},
        {{"--read-only"}, "(SELECT MON$READ_ONLY FROM MON$DATABASE)", equals("1")},
        {{"--skip-data", "ORD%"}, rows, equals("2000/0")},
        {{"--no-shadow"},
         "(SELECT COUNT(*) FROM RDB$FILES WHERE RDB$SHADOW_NUMBER > 0)",
         equals("0"),
         options},
        // NONE keeps the column's bytes under no character set at all.
        {{"--no-shadow", "--fix-fss-data", "NONE"},
         "(SELECT F.RDB$CHARACTER_SET_ID FROM RDB$RELATION_FIELDS R JOIN RDB$FIELDS F "
         "ON F.RDB$FIELD_NAME = R.RDB$FIELD_SOURCE WHERE R.RDB$RELATION_NAME = 'T_FSS')",
         equals("0"),
         options},
        {{"--no-shadow", "--fix-fss-metadata", "UTF8"},
         "(SELECT CAST(RDB$DESCRIPTION AS VARCHAR(10)) FROM RDB$RELATIONS "
         "WHERE RDB$RELATION_NAME = 'T_FSS')",
         equals("한"),
         options},
        {{"--include-data", "CUSTOMERS"}, rows, equals("2000/0"), "", 4},
        {{"--replica", "read-only"},
         "(SELECT MON$REPLICA_MODE FROM MON$DATABASE)",
         equals("1"),
         "",
         4},
    };
    for (Case& c : cases) {
        std::string name;
        for (const std::string& arg : c.args) name += arg + " ";
        SCOPED_TRACE(name);
        c.args.push_back(c.backup.empty() ? backup().string() : c.backup);
        c.args.push_back(target().string());
        const Outcome run = Restore(c.args);
        if (test_support::ServerRelease() < c.release) {
            // A server too old is named, and nothing is touched.
            EXPECT_EQ(run.code, 2);
            EXPECT_NE(run.err.find("Firebird 3.0, and " + c.args[0] + " needs Firebird 4"),
                      std::string::npos)
                << run.err;
            EXPECT_FALSE(fs::exists(target()));
            continue;
        }
        ASSERT_EQ(run.code, 0) << run.err;
        c.check(Value(target(), c.expression));
        fs::remove(target());
    }
    // Read as ASCII, the comment's Korean text cannot be stored.
    EXPECT_EQ(Restore({"--no-shadow", "--fix-fss-metadata", "ASCII", options, target()}).code, 1);
    // One table at a time: the server commits each table's rows on their own.
    const Outcome oneByOne = Restore({"--verbose", "--one-at-a-time", backup(), target()});
    ASSERT_EQ(oneByOne.code, 0) << oneByOne.err;
    EXPECT_NE(oneByOne.err.find("committing data for table ORDERS"), std::string::npos);
    EXPECT_EQ(CheckDatabase(target()), Expected());
}
