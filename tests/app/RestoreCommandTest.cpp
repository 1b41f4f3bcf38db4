// The restore command of the real window against a private database server:
// what the operator sees, and what becomes of the target database file.

#include <sys/stat.h>

#include <QTextEdit>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "QtTestSupport.h"
#include "app/Application.h"
#include "app/Main_Form.h"
#include "app/Widgets.h"
#include "controls/RzFilSys.h"
#include "fakes/FakeWindowLayer.h"
#include "restore/FileOps.h"
#include "services/IB_Intf.h"
#include "services/IB_Services.h"
#include "services/RestoredDatabaseCheck.h"
#include "tests/support/Descriptors.h"
#include "tests/support/Files.h"
#include "tests/support/Server.h"

namespace fs = std::filesystem;
using test_support::FolderNames;
using test_support::ReadFile;
using test_support::ServerDir;
using test_support::WriteForServer;

namespace {

const char* const kTitle = "Tovanel 자료복구(Restore)";
const char* const kDoneText =
    "[자료복구완료] 정상적으로 백업파일을 복구완료했습니다.\r\r         "
    "프로그램을 다시 실행시키세요...";
const char* const kOldContent = "the operator's old database";

// The content of a file as a short text for comparisons whose failure must
// not print a whole database.
std::string Content(const fs::path& path) {
    std::string data = ReadFile(path);
    if (data.size() <= 64)
        return data;
    return std::to_string(data.size()) + " bytes";
}

ino_t Inode(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// What the server's own query tool reports of a restored database, in the
// form the sample's expected output was recorded in.
std::string CheckDatabase(const fs::path& database) {
    return test_support::QueryServer(PROJECT_SCRIPTS, SAMPLE_DIR "/check.sql", database);
}

// A database connection held by this process, so the server keeps the file open.
class HeldDatabase {
  public:
    explicit HeldDatabase(const fs::path& path) : library_(FindOrLoadClientLibrary("GDS32.DLL")) {
        const std::string sql =
            "CREATE DATABASE 'localhost:" + path.string() + "' USER 'SYSDBA' PASSWORD 'fernstone'";
        isc_tr_handle transaction = 0;
        library_->isc_dsql_execute_immediate(status_, &handle_, &transaction, 0, sql.c_str(), 3,
                                             nullptr);
    }
    ~HeldDatabase() {
        if (handle_)
            library_->isc_detach_database(status_, &handle_);
    }
    HeldDatabase(const HeldDatabase&) = delete;
    HeldDatabase& operator=(const HeldDatabase&) = delete;
    bool ok() const { return handle_ != 0; }

  private:
    IIBClientLibraryRef library_;
    ISC_STATUS status_[20] = {};
    isc_db_handle handle_ = 0;
};

// Leaves the process without a free descriptor once the first contact with
// the server is over, so the target is examined by a process at its limit.
class DescriptorsGoAfterFirstContact : public ISQLLogger {
  public:
    TComponent* LoggerObject() override { return nullptr; }
    void LogOperation(const std::string&, const std::string& operation, int, int) override {
        if (operation == "ServiceDetach" && !full)
            full.emplace();
    }
    std::optional<test_support::DescriptorsUsedUp> full;
};

class RestoreCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(ServerDir().empty()) << "FIREBIRD must name the private server's client root";
        ASSERT_TRUE(fs::exists(fs::path(SAMPLE_DIR) / "sample.fbk"));
        EnsureQtApplication();
        installed_ = std::make_unique<platform::ScopedWindowLayer>(layer_);
        app_ = std::make_unique<TApplication>();
        app_->SetTitle(kTitle);

        // The server reads the backups and writes the restored file itself,
        // so the folders lie where its account may work.
        folder_.emplace("app-restore", ServerDir() / "db");
        root_ = folder_->Root();
        for (const fs::path& folder : {root_, root_ / "BackUp", root_ / "Data"}) {
            fs::create_directories(folder);
            ::chmod(folder.c_str(), 0777);
        }
        fs::copy_file(fs::path(SAMPLE_DIR) / "sample.fbk", root_ / "BackUp" / "sample.fbk");
        ::chmod((root_ / "BackUp" / "sample.fbk").c_str(), 0644);
        WriteForServer(target(), kOldContent);
    }

    void TearDown() override {
        app_.reset();
        installed_.reset();
    }

    fs::path target() const { return root_ / "Data" / "target.fdb"; }

    TMain_Form* MakeForm() {
        form_ = new TMain_Form(app_.get(), root_.string() + "/");
        form_->show();
        // The trees show the hourglass while they read folders; only the
        // command's own cursor changes are of interest.
        layer_.cursorHistory.clear();
        return form_;
    }

    void Select(TRzFileListBox* list, const std::string& name) {
        list->ReadEntries();
        int index = list->FindExact(name);
        ASSERT_GE(index, 0) << name;
        list->SetItemIndex(index);
    }

    void SelectBoth(const std::string& backup, const std::string& database) {
        Select(form_->RzFileListBox1, backup);
        Select(form_->RzFileListBox2, database);
        layer_.cursorHistory.clear();
    }

    void ExpectIdle() {
        EXPECT_EQ(layer_.cursor, platform::crDefault);
        EXPECT_FALSE(form_->RzPanel1->isVisible());
        EXPECT_FALSE(form_->Animate1->isVisible());
        EXPECT_FALSE(form_->Animate1->Active());
        EXPECT_FALSE(form_->RestoreRunning());
        EXPECT_FALSE(form_->pFIBRestoreService1->Active());
    }

    void ExpectRestoredSample() {
        EXPECT_EQ(CheckDatabase(target()), ReadFile(fs::path(SAMPLE_DIR) / "sample.expected"));
        EXPECT_EQ(FolderNames(root_ / "Data"), std::vector<std::string>{"target.fdb"});
    }

    platform::FakeWindowLayer layer_;
    std::unique_ptr<platform::ScopedWindowLayer> installed_;
    std::unique_ptr<TApplication> app_;
    TMain_Form* form_ = nullptr;
    std::optional<test_support::TempFolder> folder_;
    fs::path root_;
};

}  // namespace

TEST_F(RestoreCommandTest, RestoresOverTheTargetThenSaysSoAndCloses) {
    MakeForm();
    SelectBoth("sample.fbk", "target.fdb");
    struct Seen {
        int cursor;
        bool panel, animation, playing, attached;
    };
    std::vector<Seen> seen;
    layer_.onProcessMessages = [&] {
        if (seen.empty())
            seen.push_back({layer_.cursor, form_->RzPanel1->isVisible(),
                            form_->Animate1->isVisible(), form_->Animate1->Active(),
                            form_->pFIBRestoreService1->Active()});
    };
    form_->RzBitBtn1->click();

    ASSERT_EQ(seen.size(), 1u) << "the command never waited for the server";
    EXPECT_EQ(seen[0].cursor, platform::crHourGlass);
    EXPECT_TRUE(seen[0].panel);
    EXPECT_TRUE(seen[0].animation);
    EXPECT_TRUE(seen[0].playing);
    EXPECT_TRUE(seen[0].attached);

    ASSERT_EQ(layer_.messages.size(), 1u) << layer_.messages[0].text;
    EXPECT_EQ(layer_.messages[0].text, kDoneText);
    EXPECT_EQ(layer_.messages[0].caption, "복구완료");
    EXPECT_EQ(layer_.messages[0].icon, platform::MessageIcon::Information);
    EXPECT_EQ(layer_.cursorHistory, (std::vector<int>{platform::crHourGlass, platform::crDefault}));
    EXPECT_FALSE(form_->isVisible());
    ExpectIdle();
    // The old file is gone and the restored database answers as recorded.
    ExpectRestoredSample();
}

TEST_F(RestoreCommandTest, AnAsideCopyThatWillNotGoIsNamedBeforeTheCompletion) {
    MakeForm();
    SelectBoth("sample.fbk", "target.fdb");
    // A folder in the copy's place cannot be deleted as a file, even by root.
    const fs::path aside = root_ / "Data" / "target.fdb.before-restore";
    layer_.onProcessMessages = [&] {
        if (fs::is_regular_file(aside) && fs::remove(aside))
            fs::create_directory(aside);
    };
    form_->RzBitBtn1->click();

    ASSERT_EQ(layer_.messages.size(), 2u) << layer_.messages[0].text;
    EXPECT_EQ(layer_.messages[0].text,
              "복구는 정상적으로 끝났으나 옮겨 두었던 기존 자료 파일을 지우지 못해 다음 "
              "이름으로 남아 있습니다. 필요 없으면 직접 지우세요:\r\n\"" +
                  aside.string() + "\"");
    EXPECT_EQ(layer_.messages[0].caption, "기존 자료 파일");
    EXPECT_EQ(layer_.messages[0].icon, platform::MessageIcon::Information);
    EXPECT_EQ(layer_.messages[1].text, kDoneText);
    EXPECT_EQ(layer_.messages[1].caption, "복구완료");
    EXPECT_FALSE(form_->isVisible());
}

TEST_F(RestoreCommandTest, RefusedCredentialsTouchNothingAndASecondCommandWorks) {
    MakeForm();
    form_->pFIBRestoreService1->Params().SetValue("password", "not-the-password");
    SelectBoth("sample.fbk", "target.fdb");
    const ino_t before = Inode(target());
    form_->RzBitBtn1->click();

    ASSERT_EQ(layer_.messages.size(), 1u);
    const auto& box = layer_.messages[0];
    EXPECT_EQ(box.caption, kTitle);
    EXPECT_EQ(box.icon, platform::MessageIcon::Stop);
    EXPECT_EQ(box.text.rfind("Main_Form.pFIBRestoreService1:", 0), 0u) << box.text;
    EXPECT_NE(box.text.find("password"), std::string::npos) << box.text;
    EXPECT_EQ(Content(target()), kOldContent);
    EXPECT_EQ(Inode(target()), before);
    EXPECT_EQ(FolderNames(root_ / "Data"), std::vector<std::string>{"target.fdb"});
    EXPECT_TRUE(form_->isVisible());
    ExpectIdle();

    form_->pFIBRestoreService1->Params().SetValue("password", "fernstone");
    form_->RzBitBtn1->click();
    ASSERT_EQ(layer_.messages.size(), 2u) << layer_.messages[1].text;
    EXPECT_EQ(layer_.messages[1].caption, "복구완료");
    EXPECT_FALSE(form_->isVisible());
    ExpectRestoredSample();
}

TEST_F(RestoreCommandTest, CorruptBackupGivesTheOldTargetBackUnchanged) {
    std::mt19937 random(7);
    std::string noise(200000, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    WriteForServer(root_ / "BackUp" / "corrupt.fbk", noise);
    MakeForm();
    SelectBoth("corrupt.fbk", "target.fdb");
    const ino_t before = Inode(target());
    form_->RzBitBtn1->click();

    ASSERT_EQ(layer_.messages.size(), 1u);
    EXPECT_EQ(layer_.messages[0].caption, kTitle);
    EXPECT_EQ(layer_.messages[0].icon, platform::MessageIcon::Stop);
    EXPECT_NE(layer_.messages[0].text.find("backup"), std::string::npos) << layer_.messages[0].text;
    EXPECT_EQ(Content(target()), kOldContent);
    EXPECT_EQ(Inode(target()), before);
    EXPECT_EQ(FolderNames(root_ / "Data"), std::vector<std::string>{"target.fdb"});
    EXPECT_TRUE(form_->isVisible());
    ExpectIdle();
}

TEST_F(RestoreCommandTest, BackupCutShortGivesTheOldTargetBack) {
    // The server gets well into this one before it fails, so it has already
    // made a database under the target's name.
    const std::string whole = ReadFile(fs::path(SAMPLE_DIR) / "sample.fbk");
    WriteForServer(root_ / "BackUp" / "short.fbk", whole.substr(0, whole.size() * 2 / 3));
    MakeForm();
    SelectBoth("short.fbk", "target.fdb");
    form_->RzBitBtn1->click();
    ASSERT_EQ(layer_.messages.size(), 1u);
    EXPECT_EQ(layer_.messages[0].icon, platform::MessageIcon::Stop);
    EXPECT_EQ(Content(target()), kOldContent);
    EXPECT_EQ(FolderNames(root_ / "Data"), std::vector<std::string>{"target.fdb"});
    ExpectIdle();
}

TEST_F(RestoreCommandTest, ABackupTheServerCallsFinishedButLeftUnfinishedSaysTheOriginalIsBack) {
    // Cut this close to its end, the server reports the restore finished and
    // leaves the new database in maintenance mode.
    const std::string whole = ReadFile(fs::path(SAMPLE_DIR) / "sample.fbk");
    WriteForServer(root_ / "BackUp" / "short.fbk", whole.substr(0, whole.size() * 9 / 10));
    MakeForm();
    SelectBoth("short.fbk", "target.fdb");
    form_->RzBitBtn1->click();
    ASSERT_EQ(layer_.messages.size(), 1u);
    EXPECT_EQ(layer_.messages[0].text,
              "빽업 파일이 완전하게 복구되지 않았습니다 (빽업 파일이 손상되었을 수 있습니다). "
              "기존 자료 파일은 바뀌지 않은 채 제자리에 되돌려 놓았습니다: \"" +
                  target().string() + "\"");
    EXPECT_EQ(Content(target()), kOldContent);
    EXPECT_EQ(FolderNames(root_ / "Data"), std::vector<std::string>{"target.fdb"});
    ExpectIdle();
}

TEST_F(RestoreCommandTest, TargetTheServerHoldsOpenIsNotTouched) {
    const fs::path held = root_ / "Data" / "held.fdb";
    HeldDatabase connection(held);
    ASSERT_TRUE(connection.ok());
    ASSERT_TRUE(restore::IsHeldOpen(held.string()));
    const ino_t before = Inode(held);
    const std::string content = ReadFile(held);
    MakeForm();
    SelectBoth("sample.fbk", "held.fdb");
    form_->RzBitBtn1->click();

    ASSERT_EQ(layer_.messages.size(), 1u);
    EXPECT_EQ(layer_.messages[0].icon, platform::MessageIcon::Stop);
    EXPECT_EQ(layer_.messages[0].caption, kTitle);
    // The tool's own words, not the server's advice about a switch it lacks.
    EXPECT_EQ(layer_.messages[0].text,
              "복구될 자료 파일을 데이터베이스 서버가 사용하고 있어 복구하지 않았습니다. "
              "사용을 마친 뒤 다시 하세요: \"" +
                  held.string() + "\"");
    // The file is the same file, still open under its own name.
    EXPECT_EQ(Inode(held), before);
    EXPECT_TRUE(restore::IsHeldOpen(held.string()));
    EXPECT_EQ(FolderNames(root_ / "Data"), (std::vector<std::string>{"held.fdb", "target.fdb"}));
    ExpectIdle();
}

TEST_F(RestoreCommandTest, ATargetThatCannotBeExaminedIsRefusedForWhatReallyHappened) {
#if defined(__SANITIZE_ADDRESS__)
    // The undefined-behaviour checker's type check needs a free descriptor of
    // its own on a cache miss; with none left it reports every virtual call
    // as a call on a wrong type, so this case runs in the plain build only.
    GTEST_SKIP() << "the sanitizer runtime cannot check types without a free descriptor";
#endif
    MakeForm();
    SelectBoth("sample.fbk", "target.fdb");
    const ino_t before = Inode(target());
    const auto logger = std::make_shared<DescriptorsGoAfterFirstContact>();
    form_->pFIBRestoreService1->SetSQLLogger(logger);
    form_->RzBitBtn1->click();
    logger->full.reset();
    form_->pFIBRestoreService1->SetSQLLogger(nullptr);

    ASSERT_EQ(layer_.messages.size(), 1u);
    EXPECT_EQ(layer_.messages[0].icon, platform::MessageIcon::Stop);
    EXPECT_EQ(layer_.messages[0].text,
              "복구될 자료 파일을 데이터베이스 서버가 사용하고 있는지 확인할 수 없어 복구하지 "
              "않았습니다 (Too many open files): \"" +
                  target().string() + "\"");
    EXPECT_EQ(Inode(target()), before);
    EXPECT_EQ(Content(target()), kOldContent);
    ExpectIdle();
}

TEST_F(RestoreCommandTest, CloseDuringTheWaitIsCarriedOutWhenTheCommandReturns) {
    MakeForm();
    SelectBoth("sample.fbk", "target.fdb");
    bool closedAtOnce = true;
    bool visibleAfterRequest = false;
    layer_.onProcessMessages = [&] {
        if (form_->CloseRequested())
            return;
        closedAtOnce = form_->close();
        visibleAfterRequest = form_->isVisible();
    };
    form_->RzBitBtn1->click();
    EXPECT_FALSE(closedAtOnce);
    EXPECT_TRUE(visibleAfterRequest);
    // The restore was still awaited and reported before the window went.
    ASSERT_EQ(layer_.messages.size(), 1u);
    EXPECT_EQ(layer_.messages[0].caption, "복구완료");
    EXPECT_FALSE(form_->isVisible());
    ExpectRestoredSample();
}

TEST_F(RestoreCommandTest, CloseDuringAFailedWaitShowsTheErrorThenCloses) {
    // A corrupt backup may be refused at the start, before any wait; a
    // cut-short one is always started and only fails once the server is
    // done. The verbose wait takes a turn before it reads the first line.
    const std::string whole = ReadFile(fs::path(SAMPLE_DIR) / "sample.fbk");
    WriteForServer(root_ / "BackUp" / "short.fbk", whole.substr(0, whole.size() * 2 / 3));
    MakeForm();
    form_->pFIBRestoreService1->SetVerbose(true);
    SelectBoth("short.fbk", "target.fdb");
    layer_.pumps = 0;
    layer_.onProcessMessages = [&] {
        if (!form_->CloseRequested())
            form_->close();
    };
    form_->RzBitBtn1->click();
    ASSERT_GT(layer_.pumps, 0);
    ASSERT_EQ(layer_.messages.size(), 1u);
    EXPECT_EQ(layer_.messages[0].icon, platform::MessageIcon::Stop);
    EXPECT_FALSE(form_->isVisible());
    EXPECT_EQ(Content(target()), kOldContent);
}

TEST_F(RestoreCommandTest, SecondRequestDuringTheWaitIsIgnored) {
    MakeForm();
    SelectBoth("sample.fbk", "target.fdb");
    int nested = 0;
    bool stillAttached = true;
    layer_.onProcessMessages = [&] {
        if (nested >= 3)
            return;
        ++nested;
        form_->RzBitBtn1->click();
        form_->RestoreRequested(form_->RzFileListBox1);
        form_->RzBitBtn1Click(form_->RzFileListBox2);
        stillAttached = stillAttached && form_->pFIBRestoreService1->Active();
    };
    form_->RzBitBtn1->click();
    EXPECT_EQ(nested, 3);
    EXPECT_TRUE(stillAttached);
    ASSERT_EQ(layer_.messages.size(), 1u) << layer_.messages.back().text;
    EXPECT_EQ(layer_.messages[0].caption, "복구완료");
    EXPECT_EQ(layer_.cursorHistory, (std::vector<int>{platform::crHourGlass, platform::crDefault}));
    ExpectRestoredSample();
}

TEST_F(RestoreCommandTest, VerboseOutputLandsInTheHiddenBoxEndingWithAnEmptyLine) {
    MakeForm();
    form_->pFIBRestoreService1->SetVerbose(true);
    SelectBoth("sample.fbk", "target.fdb");
    form_->RzBitBtn1->click();
    ASSERT_EQ(layer_.messages.size(), 1u) << layer_.messages[0].text;
    EXPECT_EQ(layer_.messages[0].caption, "복구완료");
    const QStringList lines = form_->edOutput->toPlainText().split('\n');
    ASSERT_GT(lines.size(), 10);
    EXPECT_TRUE(lines.last().isEmpty());
    EXPECT_FALSE(lines[lines.size() - 2].isEmpty());
    EXPECT_TRUE(lines.first().startsWith("gbak:")) << lines.first().toStdString();
    ExpectRestoredSample();
}
