// The restore's steps over the scripted client library: what the front end
// hears, and what becomes of the original at each way out.

#include "restore/RestoreJob.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <ibase.h>

#include <clocale>
#include <filesystem>
#include <iterator>
#include <vector>

#include "AnswerBuilder.h"
#include "FakeClient.h"
#include "FakeSource.h"
#include "restore/RestoreErrors.h"
#include "restore/StopToken.h"
#include "restore/WaitStrategy.h"
#include "services/IB_Services.h"
#include "tests/support/Files.h"

namespace fs = std::filesystem;
using restore::OriginalFate;
using test_support::ReadFile;
using test_support::WriteFile;

namespace {

class RecordingSink : public restore::IProgressSink {
  public:
    void Connected() override { events.push_back("connected"); }
    void TargetMovedAside(const std::string&, const std::string& path) override {
        events.push_back("aside");
        aside = path;
        if (onAside)
            onAside();
    }
    void Started() override {
        events.push_back("started");
        if (onStarted)
            onStarted();
    }
    void OutputLine(const std::string& line) override { events.push_back("line " + line); }
    void Checked(const std::string& attributes) override {
        events.push_back("checked " + attributes);
    }
    void Finished(OriginalFate fate, const std::string&) override {
        events.push_back(std::string("finished ") + restore::FateName(fate));
    }
    void Stopping(restore::StopEffect effect) override {
        events.push_back(effect == restore::StopEffect::EndingInput ? "ending input"
                                                                    : "cannot stop");
    }
    void Failed(const restore::FailureFacts& facts) override {
        events.push_back(std::string("failed ") + restore::FateName(facts.fate) +
                         (facts.cancelled ? " cancelled" : ""));
        failedPath = facts.originalPath;
    }
    std::vector<std::string> events;
    std::string aside, failedPath;
    std::function<void()> onAside, onStarted;
};

// Hands over one output line, or raises what the test says, as the wait.
class ScriptedWait : public restore::IWaitStrategy {
  public:
    void Wait(TpFIBRestoreService& service, restore::IWaitContext& context) override {
        if (raise)
            raise(service);
        context.OutputLine("gbak:done");
        context.Turn();
    }
    void Pause(std::chrono::milliseconds) override {}
    std::function<void(TpFIBRestoreService&)> raise;
};

std::vector<unsigned char> Line(const std::string& text) {
    const std::string bytes = std::string{isc_info_svc_line, static_cast<char>(text.size()), 0} +
                              text + static_cast<char>(isc_info_end);
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

class RestoreJobTest : public ::testing::Test {
  public:
    void SetUp() override {
        target_ = folder_.File("a.fdb", "original");
        service_.SetName("svc");
        service_.SetLibraryName(FAKE_SCRIPTED);
        service_.SetLoginPrompt(false);
    }
    // The check's answer: the attribute line the server would give.
    void Attributes(const std::string& text) {
        fake_.PushResponse(Line("\tAttributes\t\t" + text));
    }

    restore::RestoreRequest Request() const {
        return {.backup = restore::ServerFile{backup_}, .targetPath = target_};
    }

    template <class E>
    void RunExpecting(restore::RestoreJob& job, const restore::RestoreRequest& request) {
        EXPECT_THROW(job.Run(request), E);
    }

    FakeClient fake_{FAKE_SCRIPTED};
    TpFIBRestoreService service_;
    RecordingSink sink_;
    ScriptedWait wait_;
    test_support::TempFolder folder_{"job"};
    test_support::TempFolder backups_{"job-backup"};
    std::string backup_ = backups_.File("x.fbk", "backup");
    fs::path dir_ = folder_.Root();
    std::string target_;
};

}  // namespace

// The process locale is main's business (a thread may be reading it): the
// job leaves it as it found it.
TEST_F(RestoreJobTest, EventsComeInOrderAndTheOriginalGoesOnlyOnceConfirmed) {
    const std::string locale = std::setlocale(LC_CTYPE, nullptr);
    std::setlocale(LC_CTYPE, "C");
    Attributes("force write");
    restore::RestoreJob job(service_, wait_, sink_);
    job.Run(Request());
    EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C");
    std::setlocale(LC_CTYPE, locale.c_str());
    EXPECT_EQ(sink_.events,
              (std::vector<std::string>{"connected", "aside", "started", "line gbak:done",
                                        "checked force write", "finished replaced"}));
    EXPECT_EQ(job.Fate(), OriginalFate::Replaced);
    EXPECT_FALSE(fs::exists(sink_.aside));
    EXPECT_EQ(service_.DatabaseName().Lines(), std::vector<std::string>{target_});
    EXPECT_FALSE(service_.Active());
}

TEST_F(RestoreJobTest, UnconfirmedOrFailedRestoresPutTheOriginalBack) {
    struct Case {
        const char* name;
        std::function<void(RestoreJobTest&)> script;
    } cases[] = {
        {"no attribute line", [](RestoreJobTest&) {}},
        {"maintenance mode", [](RestoreJobTest& t) { t.Attributes("single-user maintenance"); }},
        {"server error in the wait",
         [](RestoreJobTest& t) {
             t.wait_.raise = [](TpFIBRestoreService&) {
                 throw EDatabaseError("backup is damaged");
             };
         }},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClient fresh(FAKE_SCRIPTED);  // the script starts empty for each case
        sink_.events.clear();
        wait_.raise = nullptr;
        c.script(*this);
        restore::RestoreJob job(service_, wait_, sink_);
        EXPECT_ANY_THROW(job.Run(Request()));
        EXPECT_EQ(job.Fate(), OriginalFate::PutBack);
        EXPECT_EQ(sink_.events.back(), "failed put_back");
        EXPECT_EQ(sink_.failedPath, target_);
        EXPECT_EQ(ReadFile(target_), "original");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
        EXPECT_FALSE(service_.Active());
    }
}

TEST_F(RestoreJobTest, RefusalsComeBeforeTheStartAndTouchNothing) {
    restore::RestoreJob job(service_, wait_, sink_);
    {
        const int fd = ::open(target_.c_str(), O_RDWR);
        ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
        RunExpecting<restore::ETargetInUse>(job, Request());
        ::close(fd);
    }
    restore::RestoreRequest keep = Request();
    keep.replaceExisting = false;
    RunExpecting<restore::ETargetExists>(job, keep);
    restore::StopToken stop;
    stop.Escalate();
    restore::RestoreJob stopped(service_, wait_, sink_, stop);
    RunExpecting<restore::ERestoreCancelled>(stopped, Request());
    EXPECT_EQ(sink_.events.back(), "failed untouched cancelled");
    EXPECT_EQ(fake_.Calls(FakeClient::Start), 0);
    EXPECT_EQ(stopped.Fate(), OriginalFate::Untouched);
    EXPECT_EQ(ReadFile(target_), "original");
}

TEST_F(RestoreJobTest, LeavingTheWaitLeavesTheOriginalAsideAndTheTargetToTheServer) {
    wait_.raise = [this](TpFIBRestoreService&) { throw restore::ERestoreAbandoned(target_); };
    restore::RestoreJob job(service_, wait_, sink_);
    RunExpecting<restore::ERestoreAbandoned>(job, Request());
    EXPECT_EQ(job.Fate(), OriginalFate::KeptAside);
    EXPECT_EQ(job.OriginalPath(), sink_.aside);
    EXPECT_EQ(ReadFile(sink_.aside), "original");
    EXPECT_EQ(sink_.events.back(), "failed kept_aside");
}

TEST_F(RestoreJobTest, ARemoteTargetIsNeverLookedAtHere) {
    Attributes("force write");
    restore::RestoreJob job(service_, wait_, sink_);
    job.Run({.backup = restore::ServerFile{"/b/x.fbk"},
             .targetPath = target_,
             .replaceExisting = false,
             .targetIsRemote = true});
    EXPECT_EQ(ReadFile(target_), "original");  // a local file of the same name is not the server's
    EXPECT_EQ(std::find(sink_.events.begin(), sink_.events.end(), "aside"), sink_.events.end());
}

TEST(LineSplitter, ALineCutBetweenTwoChunksArrivesWhole) {
    restore::LineSplitter splitter;
    std::vector<std::string> lines;
    auto collect = [&](const std::string& line) { lines.push_back(line); };
    splitter.Feed("gbak: restoring tab", collect);
    splitter.Feed("le ORDERS\r\ngbak: 10000 records", collect);
    splitter.Feed(" restored\n", collect);
    splitter.Feed("gbak: last", collect);
    splitter.Flush(collect);
    EXPECT_EQ(lines, (std::vector<std::string>{"gbak: restoring table ORDERS",
                                               "gbak: 10000 records restored", "gbak: last"}));
}

TEST_F(RestoreJobTest, OnlyTheServersOwnAccountOfAFailureLetsTheLeftoverGo) {
    struct Case {
        const char* name;
        ISC_STATUS code;
        bool leftover;
        OriginalFate fate;
    } cases[] = {
        // The restore may still run, and the file at the target may be its
        // nearly finished database: neither it nor the aside copy is touched.
        {"lost connection, a file at the target", isc_network_error, true, OriginalFate::KeptAside},
        {"lost connection, nothing at the target", isc_network_error, false, OriginalFate::PutBack},
        {"the server reports the failure", isc_io_error, true, OriginalFate::PutBack},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClient fresh(FAKE_SCRIPTED);
        wait_.raise = [&](TpFIBRestoreService& service) {
            if (c.leftover)
                WriteFile(target_, "left by the server");
            fresh.Fail(FakeClient::Query, c.code);
            service.IsRunning();
        };
        restore::RestoreJob job(service_, wait_, sink_);
        EXPECT_THROW(job.Run(Request()), EFIBInterBaseError);
        EXPECT_EQ(job.Fate(), c.fate);
        EXPECT_EQ(ReadFile(job.OriginalPath()), "original");
        if (c.fate == OriginalFate::KeptAside) {
            EXPECT_EQ(ReadFile(target_), "left by the server");
            fs::remove(target_);
            fs::rename(job.OriginalPath(), target_);
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
    }
}

TEST_F(RestoreJobTest, ANoticeThatRaisesGetsTheAnswerOfWhatBecameOfTheFile) {
    // Something takes the target's name while the notice runs: the original
    // cannot go back, and the answer must say where it is instead.
    sink_.onAside = [this] {
        fs::create_directory(target_);
        throw std::runtime_error("the notice failed");
    };
    restore::RestoreJob job(service_, wait_, sink_);
    EXPECT_THROW(job.Run(Request()), std::runtime_error);
    EXPECT_EQ(job.Fate(), OriginalFate::KeptAside);
    EXPECT_EQ(job.OriginalPath(), sink_.aside);
    EXPECT_EQ(sink_.events.back(), "failed kept_aside");
    EXPECT_EQ(ReadFile(sink_.aside), "original");
}

TEST_F(RestoreJobTest, AServerThatReadsTheBackupItselfIsWaitedForOnAStopAndLeftOnASecond) {
    for (const int stops : {1, 2}) {
        SCOPED_TRACE(stops);
        FakeClient fresh(FAKE_SCRIPTED);
        sink_.events.clear();
        WriteFile(target_, "original");
        restore::StopToken stop;
        sink_.onStarted = [&] {
            for (int i = 0; i < stops; ++i) stop.Escalate();
        };
        // One answer with output and more to come; the next says the end.
        fresh.PushAnswer(AnswerBuilder().Text(63, "gbak: one\n").Byte(64).End().Bytes());
        fresh.PushAnswer(AnswerBuilder().Text(63, "").End().Bytes());
        fresh.PushResponse(Line("\tAttributes\t\tforce write"));
        restore::ServerSideWait wait;
        restore::RestoreJob job(service_, wait, sink_, stop);
        if (stops == 2)
            EXPECT_THROW(job.Run(Request()), restore::ERestoreAbandoned);
        else
            job.Run(Request());
        EXPECT_EQ(sink_.events[3], "cannot stop");
        EXPECT_EQ(sink_.events.back(), stops == 2 ? "failed kept_aside" : "finished replaced");
    }
}

TEST_F(RestoreJobTest, AStopInAStreamedRestoreEndsTheInputAndPutsTheOriginalBack) {
    using A = AnswerBuilder;
    restore::StopToken stop;
    FakeSource source("0123456789");
    source.onRead = [&](std::size_t) { stop.Escalate(); };  // interrupted while it reads
    sink_.onStarted = [this] { WriteFile(target_, "half restored by the server"); };
    fake_.PushAnswer(A().Integer(78, 4).Text(63, "").Byte(4).End().Bytes());
    fake_.PushAnswer(A().Integer(78, 4).Text(63, "").Byte(4).End().Bytes());
    // The server's account of the input that ended early, at the third turn.
    fake_.Fail(FakeClient::Query, isc_io_error, 2);
    restore::RestoreJob job(service_, wait_, sink_, stop);
    EXPECT_THROW(job.Run({.backup = restore::ClientStream{.source = &source, .name = "-"},
                          .targetPath = target_}),
                 restore::ERestoreCancelled);
    EXPECT_EQ(fake_.LastSend().substr(7), Bytes({62, 0, 0}));  // the end of the input
    EXPECT_EQ(service_.BackupFile().Lines(), std::vector<std::string>{"stdin"});
    EXPECT_EQ(job.Fate(), OriginalFate::PutBack);
    EXPECT_EQ(sink_.events.back(), "failed put_back cancelled");
    EXPECT_EQ(ReadFile(target_), "original");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}
