// The main window without a database server: its layout, keys, folders,
// stored settings, and the restore command's paths that stop before the
// server is reached.

#include "app/Main_Form.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QTest>
#include <QTextEdit>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>

#include "QtTestSupport.h"
#include "app/Application.h"
#include "app/Widgets.h"
#include "controls/RzFilSys.h"
#include "fakes/FakeFileSystem.h"
#include "fakes/FakeWindowLayer.h"
#include "platform/Process.h"
#include "services/IB_Services.h"
#include "tests/support/Files.h"

namespace fs = std::filesystem;
using test_support::ReadFile;
using test_support::WriteFile;

namespace {

const char* const kTitle = "Tovanel 자료복구(Restore)";
const char* const kCaption = "백업된 자료 불러오기(Restore) 자료복구";

// Counts the key presses that reach a widget.
class KeyCounter : public QObject {
  public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            ++presses;
            keys.push_back(static_cast<QKeyEvent*>(event)->key());
        }
        return false;
    }
    int presses = 0;
    std::vector<int> keys;
};

class MainFormTest : public ::testing::Test {
  protected:
    void SetUp() override {
        EnsureQtApplication();
        installed_ = std::make_unique<platform::ScopedWindowLayer>(layer_);
        app_ = std::make_unique<TApplication>();
        app_->SetTitle(kTitle);
        fs::create_directory(root_ / "BackUp");
        fs::create_directory(root_ / "Data");
        WriteFile(root_ / "BackUp" / "a.fbk", "backup a");
        WriteFile(root_ / "BackUp" / "b.fbk", "backup b");
        WriteFile(root_ / "Data" / "target.fdb", "old database");
    }

    void TearDown() override {
        app_.reset();  // frees the window
        installed_.reset();
    }

    TMain_Form* MakeForm() { return MakeForm(root_); }
    TMain_Form* MakeForm(const fs::path& folder) {
        auto* form = new TMain_Form(app_.get(), folder.string() + "/");
        form->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(form));
        // The trees show the hourglass while they read folders; only the
        // command's own cursor changes are of interest.
        layer_.cursorHistory.clear();
        return form;
    }

    static void Select(TRzFileListBox* list, const std::string& name) {
        int index = list->FindExact(name);
        ASSERT_GE(index, 0) << name;
        list->SetItemIndex(index);
        ASSERT_FALSE(list->SelectedPath().empty());
    }

    platform::FakeWindowLayer layer_;
    std::unique_ptr<platform::ScopedWindowLayer> installed_;
    std::unique_ptr<TApplication> app_;
    test_support::TempFolder folder_{"main-form"};
    fs::path root_ = folder_.Root();
};

}  // namespace

TEST_F(MainFormTest, WindowHasItsCaptionSizeColourAndFont) {
    TMain_Form* form = MakeForm();
    EXPECT_EQ(form->windowTitle().toStdString(), kCaption);
    EXPECT_EQ(form->size(), QSize(814, 524));
    EXPECT_EQ(form->palette().color(QPalette::Window), QColor(239, 235, 222));
    EXPECT_EQ(form->font().family().toStdString(), "굴림");
    EXPECT_EQ(form->font().pixelSize(), 12);
    // The Korean font name must land on an installed font that has Hangul.
    QFontInfo shown(form->Label3->font());
    EXPECT_TRUE(QFontMetrics(form->Label3->font()).inFontUcs4(U'빽'))
        << shown.family().toStdString();
    EXPECT_EQ(form->Name(), "Main_Form");
    EXPECT_EQ(form->Owner(), app_.get());
}

TEST_F(MainFormTest, WindowIsCentredOnTheScreenNotAtItsStoredPosition) {
    TMain_Form* form = MakeForm();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((form->geometry().center() - screen.center()).manhattanLength(), 2)
        << form->geometry().x() << "," << form->geometry().y();
}

TEST_F(MainFormTest, BusyPanelWaitsHiddenWhereCreationMovedIt) {
    TMain_Form* form = MakeForm();
    EXPECT_EQ(form->RzPanel1->geometry(), QRect(12, 46, 789, 443));
    EXPECT_FALSE(form->RzPanel1->isVisible());
    EXPECT_FALSE(form->Animate1->isVisible());
    EXPECT_FALSE(form->Animate1->Active());
    EXPECT_FALSE(form->edOutput->isVisible());
}

TEST_F(MainFormTest, OnlyTheTitleBarAndStatusStripFollowTheWindowsEdges) {
    TMain_Form* form = MakeForm();
    const QRect button = form->RzBitBtn1->geometry();
    const QRect list = form->RzFileListBox2->geometry();
    form->resize(1000, 700);
    QCoreApplication::processEvents();
    EXPECT_EQ(form->RzPanel2->geometry(), QRect(0, 0, 1000, 43));
    EXPECT_EQ(form->RzPanel3->geometry(), QRect(0, 679, 1000, 21));
    EXPECT_EQ(form->RzBitBtn1->geometry(), button);
    EXPECT_EQ(form->RzFileListBox2->geometry(), list);
}
TEST_F(MainFormTest, GroupBoxesAreDisabledAndTheListsAreNot) {
    TMain_Form* form = MakeForm();
    EXPECT_FALSE(form->RzGroupBox1->isEnabled());
    EXPECT_FALSE(form->RzGroupBox2->isEnabled());
    EXPECT_FALSE(form->RzDirectoryTree1->isEnabled());
    EXPECT_TRUE(form->RzFileListBox1->isEnabled());
    EXPECT_TRUE(form->RzFileListBox2->isEnabled());
    // The trees keep their enabled look inside the disabled boxes.
    for (TRzDirectoryTree* tree : {form->RzDirectoryTree1, form->RzDirectoryTree2}) {
        QPalette p = tree->palette();
        EXPECT_EQ(p.color(QPalette::Disabled, QPalette::Text),
                  p.color(QPalette::Active, QPalette::Text));
        EXPECT_EQ(tree->ShownColor(), tree->Color());
    }
}

TEST_F(MainFormTest, FileListsLieAboveTheBusyPanel) {
    TMain_Form* form = MakeForm();
    form->RzPanel1->show();
    QPoint insideList = form->RzFileListBox1->geometry().center();
    QWidget* hit = form->childAt(insideList);
    ASSERT_NE(hit, nullptr);
    EXPECT_TRUE(hit == form->RzFileListBox1 || form->RzFileListBox1->isAncestorOf(hit));
    // The panel covers the trees and the restore button.
    QWidget* overButton = form->childAt(form->RzBitBtn1->geometry().center());
    EXPECT_TRUE(overButton == form->RzPanel1 || form->RzPanel1->isAncestorOf(overButton));
    form->RzPanel1->hide();
}

TEST_F(MainFormTest, TabMovesThroughRestoreCloseDatabaseListBackupList) {
    TMain_Form* form = MakeForm();
    QApplication::setActiveWindow(form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    form->RzBitBtn1->setFocus();
    QWidget* expected[] = {form->RzBitBtn2, form->RzFileListBox2, form->RzFileListBox1,
                           form->RzBitBtn1};
    for (QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next)
            << (QApplication::focusWidget()
                    ? QApplication::focusWidget()->objectName().toStdString()
                    : "none");
    }
    EXPECT_EQ(form->RzDirectoryTree1->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(form->RzDirectoryTree2->focusPolicy(), Qt::NoFocus);
}

TEST_F(MainFormTest, ShortcutKeysAreSwallowedAndF12DoesNotClose) {
    TMain_Form* form = MakeForm();
    QApplication::setActiveWindow(form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    form->RzFileListBox1->setFocus();
    KeyCounter counter;
    form->RzFileListBox1->installEventFilter(&counter);
    for (Qt::Key key : {Qt::Key_F2, Qt::Key_F3, Qt::Key_F4, Qt::Key_F5, Qt::Key_F12, Qt::Key_Minus})
        QTest::keyClick(form->RzFileListBox1, key);
    EXPECT_EQ(counter.presses, 0) << ::testing::PrintToString(counter.keys);
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(layer_.messages.empty());
    // With a modifier held, the keys pass on as usual.
    QTest::keyClick(form->RzFileListBox1, Qt::Key_F2, Qt::ShiftModifier);
    QTest::keyClick(form->RzFileListBox1, Qt::Key_F12, Qt::ControlModifier);
    QTest::keyClick(form->RzFileListBox1, Qt::Key_Minus, Qt::KeypadModifier);
    EXPECT_EQ(std::count(counter.keys.begin(), counter.keys.end(), Qt::Key_F2), 1);
    EXPECT_EQ(std::count(counter.keys.begin(), counter.keys.end(), Qt::Key_F12), 1);
    // The minus key of the number pad is not the one the menu takes.
    EXPECT_EQ(std::count(counter.keys.begin(), counter.keys.end(), Qt::Key_Minus), 1);
    form->RzFileListBox1->removeEventFilter(&counter);
}

TEST_F(MainFormTest, FormCreateOpensBackUpAndDataInTheGivenFolder) {
    TMain_Form* form = MakeForm();
    EXPECT_EQ(form->RzDirectoryTree1->SelectedDir(), (root_ / "BackUp").string());
    EXPECT_EQ(form->RzDirectoryTree2->SelectedDir(), (root_ / "Data").string());
    EXPECT_EQ(form->RzFileListBox1->ListDir(), (root_ / "BackUp").string());
    EXPECT_GE(form->RzFileListBox1->FindExact("a.fbk"), 0);
    EXPECT_GE(form->RzFileListBox1->FindExact("b.fbk"), 0);
    EXPECT_GE(form->RzFileListBox2->FindExact("target.fdb"), 0);
    EXPECT_TRUE(layer_.messages.empty());
}

TEST_F(MainFormTest, FoldersBelowAHiddenFolderAreStillReached) {
    fs::path inner = root_ / ".local" / "tool";
    fs::create_directories(inner / "BackUp");
    fs::create_directories(inner / "Data");
    WriteFile(inner / "BackUp" / "x.fbk", "x");
    TMain_Form* form = MakeForm(inner);
    EXPECT_EQ(form->RzDirectoryTree1->SelectedDir(), (inner / "BackUp").string());
    EXPECT_EQ(form->RzDirectoryTree2->SelectedDir(), (inner / "Data").string());
    EXPECT_GE(form->RzFileListBox1->FindExact("x.fbk"), 0);
}

TEST_F(MainFormTest, WithoutTheFoldersTheTreesOpenTheFolderItselfAndCreateNothing) {
    fs::remove_all(root_ / "BackUp");
    fs::remove_all(root_ / "Data");
    WriteFile(root_ / "loose.fbk", "x");
    TMain_Form* form = MakeForm();
    EXPECT_EQ(form->RzFileListBox1->ListDir(), root_.string());
    EXPECT_GE(form->RzFileListBox1->FindExact("loose.fbk"), 0);
    EXPECT_FALSE(fs::exists(root_ / "BackUp"));
    EXPECT_FALSE(fs::exists(root_ / "Data"));
    EXPECT_TRUE(form->isVisible());
}

// Root enters every folder, so as root the case runs again in a child
// process of this test program under the account "nobody".
TEST_F(MainFormTest, AListThatCannotEnterItsFolderListsNothing) {
    const char* const self = "MainFormTest.AListThatCannotEnterItsFolderListsNothing";
    if (::geteuid() == 0) {
        const std::string exe = fs::read_symlink("/proc/self/exe").string();
        const std::string asNobody =
            "cd / && setpriv --reuid=nobody --regid=nogroup --clear-groups ";
        if (std::system((asNobody + "test -x '" + exe + "' 2>/dev/null").c_str()) != 0)
            GTEST_SKIP() << "the account nobody cannot run " << exe;
        std::string output;
        FILE* child =
            ::popen((asNobody + "'" + exe + "' --gtest_filter=" + self + " 2>&1").c_str(), "r");
        ASSERT_NE(child, nullptr);
        char buffer[4096];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, child))
            output.append(buffer, n);
        EXPECT_EQ(::pclose(child), 0) << output;
        EXPECT_NE(output.find("[  PASSED  ] 1 test."), std::string::npos) << output;
        return;
    }
    // Each pane in turn gets a folder it cannot enter while the other pane's
    // folder is the current directory.
    struct Case {
        const char* shut;
        TRzFileListBox* TMain_Form::*list;
        TRzFileListBox* TMain_Form::*other;
    };
    for (const Case& c : {Case{"BackUp", &TMain_Form::RzFileListBox1, &TMain_Form::RzFileListBox2},
                          Case{"Data", &TMain_Form::RzFileListBox2, &TMain_Form::RzFileListBox1}}) {
        fs::permissions(root_ / c.shut, fs::perms::none);
        TMain_Form* form = MakeForm();
        TRzFileListBox* list = form->*c.list;
        EXPECT_EQ(list->ListDir(), (root_ / c.shut).string());
        EXPECT_EQ(list->Count(), 0) << c.shut << " lists " << list->Items(0);
        EXPECT_GT((form->*c.other)->Count(), 0) << c.shut;
        delete form;
        fs::permissions(root_ / c.shut, fs::perms::owner_all);
    }
}

TEST_F(MainFormTest, ErrorInFormCreateIsShownAndStartUpGoesOn) {
    // A folder on a drive that does not exist: the tree has nothing to open.
    platform::fs::FakeFileSystem files(platform::fs::PathStyle::Windows);
    files.AddDrive("C:\\", platform::fs::dkFixed, "System", 1);
    files.AddFolder("C:\\App");
    files.SetCurrentDirectory("C:\\App");
    platform::fs::ScopedFileSystem installed(files);
    auto* form = new TMain_Form(app_.get(), "Q:\\App\\");
    ASSERT_EQ(layer_.messages.size(), 1u);
    EXPECT_EQ(layer_.messages[0].text, "The Q:\\App\\BackUp directory does not exist.");
    EXPECT_EQ(layer_.messages[0].caption, kTitle);
    EXPECT_EQ(layer_.messages[0].icon, platform::MessageIcon::Stop);
    // The part of FormCreate before the failure was done, and the window works.
    EXPECT_EQ(form->RzPanel1->pos(), QPoint(12, 46));
    form->show();
    EXPECT_TRUE(form->isVisible());
    form->RzBitBtn1->click();
    ASSERT_EQ(layer_.messages.size(), 2u);
    EXPECT_EQ(layer_.messages[1].text, "빽업할 파일명을 선택하세요");
    delete form;
}

TEST_F(MainFormTest, FoldersAreLookedForBesideTheExecutable) {
    const fs::path beside = platform::ExecutableDir();
    const bool hadBackUp = fs::exists(beside / "BackUp");
    // Started from another folder, which has folders of those names itself.
    fs::current_path(root_);
    auto* form = new TMain_Form(app_.get());
    fs::current_path(fs::temp_directory_path());  // root_ goes at the end of the test
    EXPECT_EQ(form->Folder(), beside.string());
    EXPECT_NE(form->RzFileListBox1->ListDir(), (root_ / "BackUp").string());
    EXPECT_NE(form->RzFileListBox2->ListDir(), (root_ / "Data").string());
    EXPECT_EQ(fs::exists(beside / "BackUp"), hadBackUp);
    delete form;
}

TEST_F(MainFormTest, ServiceCarriesTheStoredSettings) {
    TMain_Form* form = MakeForm();
    TpFIBRestoreService* service = form->pFIBRestoreService1;
    EXPECT_EQ(service->Name(), "pFIBRestoreService1");
    EXPECT_EQ(ComponentPath(service), "Main_Form.pFIBRestoreService1");
    EXPECT_EQ(service->Params().Lines(),
              (std::vector<std::string>{"user_name=SYSDBA", "password=fernstone"}));
    EXPECT_FALSE(service->LoginPrompt());
    EXPECT_EQ(service->LibraryName(), "GDS32.DLL");
    EXPECT_TRUE(service->IsLibraryNameStored());
    EXPECT_EQ(service->PageSize(), 4096);
    EXPECT_EQ(service->PageBuffers(), 0);
    EXPECT_FALSE(service->Verbose());
    EXPECT_FALSE(service->IsOptionsStored());
    EXPECT_FALSE(service->Active());
    EXPECT_FALSE(service->IsLoading());
    EXPECT_EQ(service->Protocol(), TProtocol::Local);
}

TEST_F(MainFormTest, WithoutSelectionsOnlyTheBackupMessageIsShown) {
    TMain_Form* form = MakeForm();
    form->RzBitBtn1->click();
    ASSERT_EQ(layer_.messages.size(), 1u);
    EXPECT_EQ(layer_.messages[0].text, "빽업할 파일명을 선택하세요");
    EXPECT_EQ(layer_.messages[0].caption, "파일선택");
    EXPECT_EQ(layer_.messages[0].icon, platform::MessageIcon::Information);
    EXPECT_TRUE(layer_.cursorHistory.empty());
    EXPECT_FALSE(form->RzPanel1->isVisible());
    EXPECT_TRUE(form->isVisible());
}

TEST_F(MainFormTest, WithOnlyABackupSelectedTheTargetMessageIsShown) {
    TMain_Form* form = MakeForm();
    Select(form->RzFileListBox1, "a.fbk");
    form->RzBitBtn1->click();
    ASSERT_EQ(layer_.messages.size(), 1u);
    EXPECT_EQ(layer_.messages[0].text, "복구될 파일명을 선택하세요");
    EXPECT_EQ(layer_.messages[0].caption, "파일선택");
    EXPECT_TRUE(layer_.cursorHistory.empty());
    EXPECT_EQ(ReadFile(root_ / "Data" / "target.fdb"), "old database");
}

TEST_F(MainFormTest, DoubleClickOnEitherListRunsTheCommand) {
    TMain_Form* form = MakeForm();
    // Keeps the command from reaching any server once both are chosen.
    form->pFIBRestoreService1->SetLibraryName("libno-such-client.so.9");
    auto doubleClickFirstItem = [](TRzFileListBox* list) {
        QRect item = list->visualRect(list->model()->index(0, 0));
        ASSERT_TRUE(item.isValid());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, item.center());
    };
    doubleClickFirstItem(form->RzFileListBox2);
    ASSERT_EQ(layer_.messages.size(), 1u);
    EXPECT_EQ(layer_.messages[0].text, "빽업할 파일명을 선택하세요");
    doubleClickFirstItem(form->RzFileListBox1);
    ASSERT_EQ(layer_.messages.size(), 2u);
    EXPECT_EQ(layer_.messages[1].text, "Can't load library libno-such-client.so.9 ");
    EXPECT_EQ(layer_.messages[1].icon, platform::MessageIcon::Stop);
}

TEST_F(MainFormTest, MissingClientLibraryIsShownAndNothingIsTouched) {
    TMain_Form* form = MakeForm();
    form->pFIBRestoreService1->SetLibraryName("libno-such-client.so.9");
    Select(form->RzFileListBox1, "a.fbk");
    Select(form->RzFileListBox2, "target.fdb");
    for (int round = 1; round <= 2; ++round) {
        form->RzBitBtn1->click();
        ASSERT_EQ(layer_.messages.size(), static_cast<std::size_t>(round));
        const auto& box = layer_.messages.back();
        EXPECT_EQ(box.text, "Can't load library libno-such-client.so.9 ");
        EXPECT_EQ(box.caption, kTitle);
        EXPECT_EQ(box.icon, platform::MessageIcon::Stop);
        EXPECT_EQ(ReadFile(root_ / "Data" / "target.fdb"), "old database");
        EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "Data"), {}), 1);
        EXPECT_EQ(layer_.cursor, platform::crDefault);
        EXPECT_FALSE(form->RzPanel1->isVisible());
        EXPECT_FALSE(form->Animate1->isVisible());
        EXPECT_FALSE(form->Animate1->Active());
        EXPECT_FALSE(form->RestoreRunning());
        EXPECT_TRUE(form->isVisible());
    }
    EXPECT_EQ(layer_.cursorHistory, (std::vector<int>{platform::crHourGlass, platform::crDefault,
                                                      platform::crHourGlass, platform::crDefault}));
}

TEST_F(MainFormTest, CloseButtonEndsAnIdleWindow) {
    TMain_Form* form = MakeForm();
    form->RzBitBtn2->click();
    EXPECT_FALSE(form->isVisible());
}

TEST_F(MainFormTest, TreesIgnoreClicks) {
    TMain_Form* form = MakeForm();
    const std::string before = form->RzDirectoryTree1->SelectedDir();
    QTest::mouseClick(form->RzDirectoryTree1->viewport(), Qt::LeftButton, {}, QPoint(20, 5));
    EXPECT_EQ(form->RzDirectoryTree1->SelectedDir(), before);
}

TEST_F(MainFormTest, WithoutAnApplicationObjectCreationAndTheCloseButtonStillWork) {
    TMain_Form form(nullptr, root_.string() + "/");
    EXPECT_EQ(form.RzPanel1->pos(), QPoint(12, 46));
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_GE(form.RzFileListBox1->FindExact("a.fbk"), 0);
    form.RzBitBtn2->click();
    EXPECT_FALSE(form.isVisible());
}
