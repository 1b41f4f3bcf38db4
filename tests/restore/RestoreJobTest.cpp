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

#include "FakeClient.h"
#include "restore/RestoreErrors.h"
#include "restore/WaitStrategy.h"
#include "services/IB_Services.h"
#include "tests/support/Files.h"

namespace fs = std::filesystem;
using restore::OriginalFate;
using test_support::ReadFile;

namespace {

class RecordingSink : public restore::IProgressSink {
  public:
    void Connected() override { events.push_back("connected"); }
    void TargetMovedAside(const std::string&, const std::string& path) override {
        events.push_back("aside");
        aside = path;
    }
    void Started() override { events.push_back("started"); }
    void OutputLine(const std::string& line) override { events.push_back("line " + line); }
    void Checked(const std::string& attributes) override {
        events.push_back("checked " + attributes);
    }
    void Finished(OriginalFate fate, const std::string&) override {
        events.push_back(std::string("finished ") + restore::FateName(fate));
    }
    void Failed(const std::string&, OriginalFate fate, const std::string& path) override {
        events.push_back(std::string("failed ") + restore::FateName(fate));
        failedPath = path;
    }
    std::vector<std::string> events;
    std::string aside, failedPath;
};

// Hands over one output line, or raises what the test says, as the wait.
class ScriptedWait : public restore::IWaitStrategy {
  public:
    void Wait(TpFIBRestoreService&, restore::IWaitContext& context) override {
        if (raise)
            raise();
        context.OutputLine("gbak:done");
        context.Turn();
    }
    void Pause(std::chrono::milliseconds) override {}
    std::function<void()> raise;
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

    template <class E>
    void RunExpecting(restore::RestoreJob& job, const restore::RestoreRequest& request) {
        EXPECT_THROW(job.Run(request), E);
    }

    FakeClient fake_{FAKE_SCRIPTED};
    TpFIBRestoreService service_;
    RecordingSink sink_;
    ScriptedWait wait_;
    test_support::TempFolder folder_{"job"};
    fs::path dir_ = folder_.Root();
    std::string target_;
};

}  // namespace

TEST_F(RestoreJobTest, EventsComeInOrderAndTheOriginalGoesOnlyOnceConfirmed) {
    Attributes("force write");
    restore::RestoreJob job(service_, wait_, sink_);
    job.Run({"/b/x.fbk", target_, true});
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
             t.wait_.raise = [] { throw EDatabaseError("backup is damaged"); };
         }},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClient fresh(FAKE_SCRIPTED);  // the script starts empty for each case
        sink_.events.clear();
        wait_.raise = nullptr;
        c.script(*this);
        restore::RestoreJob job(service_, wait_, sink_);
        EXPECT_ANY_THROW(job.Run({"/b/x.fbk", target_, true}));
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
        RunExpecting<restore::ETargetInUse>(job, {"/b/x.fbk", target_, true});
        ::close(fd);
    }
    RunExpecting<restore::ETargetExists>(job, {"/b/x.fbk", target_, false});
    job.SetCancelCheck([] { return true; });
    RunExpecting<restore::ERestoreCancelled>(job, {"/b/x.fbk", target_, true});
    EXPECT_EQ(fake_.Calls(FakeClient::Start), 0);
    EXPECT_EQ(job.Fate(), OriginalFate::Untouched);
    EXPECT_EQ(ReadFile(target_), "original");
}

TEST_F(RestoreJobTest, LeavingTheWaitLeavesTheOriginalAsideAndTheTargetToTheServer) {
    wait_.raise = [this] { throw restore::ERestoreAbandoned(target_); };
    restore::RestoreJob job(service_, wait_, sink_);
    RunExpecting<restore::ERestoreAbandoned>(job, {"/b/x.fbk", target_, true});
    EXPECT_EQ(job.Fate(), OriginalFate::KeptAside);
    EXPECT_EQ(job.OriginalPath(), sink_.aside);
    EXPECT_EQ(ReadFile(sink_.aside), "original");
    EXPECT_EQ(sink_.events.back(), "failed kept_aside");
}

TEST_F(RestoreJobTest, ARemoteTargetIsNeverLookedAtHere) {
    Attributes("force write");
    restore::RestoreJob job(service_, wait_, sink_);
    job.Run({"/b/x.fbk", target_, false, false});
    EXPECT_EQ(ReadFile(target_), "original");  // a local file of the same name is not the server's
    EXPECT_EQ(std::find(sink_.events.begin(), sink_.events.end(), "aside"), sink_.events.end());
}

TEST_F(RestoreJobTest, TheProcessLocaleIsLeftAsTheProgramSetIt) {
    // Changing it is main's business: a thread may be reading it meanwhile.
    const std::string before = std::setlocale(LC_CTYPE, nullptr);
    std::setlocale(LC_CTYPE, "C");
    Attributes("force write");
    restore::RestoreJob job(service_, wait_, sink_);
    job.Run({"/b/x.fbk", target_, true});
    EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C");
    std::setlocale(LC_CTYPE, before.c_str());
}

TEST(ProgressMeter, TakesFiguresAtMostFourTimesASecondHoweverOftenItIsAsked) {
    using namespace std::chrono_literals;
    const auto start = restore::ProgressMeter::Clock::now();
    restore::ProgressMeter meter("/nonexistent/target.fdb", start);
    restore::ProgressFigures figures;
    int taken = 0;
    for (auto t = start; t < start + 1s; t += 1ms) taken += meter.Due(t, figures) ? 1 : 0;
    EXPECT_EQ(taken, 3);  // at 250, 500 and 750 ms
    EXPECT_EQ(figures.elapsed, 750ms);
    EXPECT_EQ(figures.targetBytes, -1);
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
