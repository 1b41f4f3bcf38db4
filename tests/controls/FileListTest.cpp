#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include "ControlsTestSupport.h"
#include "core/Exceptions.h"
#include "fakes/FakeFileSystem.h"

using platform::fs::FakeFileSystem;
using platform::fs::PathStyle;
using Strings = std::vector<std::string>;

namespace {

class FileList : public ControlsTest {
  protected:
    // A list shown on the offscreen screen, reading `folder`.
    void Open(TRzFileListBox& list, const std::string& folder) {
        list.resize(260, 200);
        list.SetListDir(folder);
        list.show();
        QApplication::processEvents();
    }
    QPoint CentreOf(TFileListBox& list, int row) {
        return list.visualRect(list.model()->index(row, 0)).center();
    }

    TempFolder dir;
};

TEST_F(FileList, NothingIsReadBeforeTheListIsShown) {
    dir.File("a.bak");
    TRzFileListBox list;
    int changes = 0;
    list.OnChange = [&](TComponent*) { ++changes; };
    list.SetListDir(dir.Path());
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(changes, 0);
    list.show();
    EXPECT_EQ(ItemsOf(list), Strings{"a.bak"});
    EXPECT_EQ(changes, 1);
}

TEST_F(FileList, TheDefaultFilterHidesFoldersHiddenAndSystemFiles) {
    dir.File("plain.bak");
    dir.File(".hidden.bak");
    dir.Folder("sub");
    dir.File("readonly.fdb");
    ::chmod(dir.Path("readonly.fdb").c_str(), 0444);
    ::mkfifo(dir.Path("pipe").c_str(), 0600);
    TRzFileListBox list;
    Open(list, dir.Path());
    EXPECT_EQ(ItemsOf(list), (Strings{"plain.bak", "readonly.fdb"}));
}

TEST_F(FileList, AFolderFilterShowsFoldersButNeverTheDotEntries) {
    dir.File("plain.bak");
    dir.Folder("sub");
    dir.Folder(".config");
    TRzFileListBox list;
    list.SetFileType(FileAttrBit(ftDirectory));
    Open(list, dir.Path());
    EXPECT_EQ(ItemsOf(list), Strings{"sub"});
    list.SetFileType(FileAttrBit(ftDirectory) | FileAttrBit(ftHidden));
    EXPECT_EQ(ItemsOf(list), (Strings{".config", "sub"}));
}

TEST_F(FileList, AnArchiveFilterShowsTheRegularFiles) {
    dir.File("plain.bak");
    dir.File(".hidden.bak");
    dir.Folder("sub");
    ::mkfifo(dir.Path("pipe").c_str(), 0600);
    TRzFileListBox list;
    list.SetFileType(FileAttrBit(ftArchive));
    Open(list, dir.Path());
    EXPECT_EQ(ItemsOf(list), Strings{"plain.bak"});
}

TEST_F(FileList, FoldersComeFirstAndNamesIgnoreLetterCase) {
    dir.Folder("b");
    dir.File("C.txt");
    dir.File("a.txt");
    dir.Folder("A-dir");
    TRzFileListBox list;
    list.SetFileType(FileAttrBit(ftNormal) | FileAttrBit(ftDirectory));
    Open(list, dir.Path());
    EXPECT_EQ(ItemsOf(list), (Strings{"A-dir", "b", "a.txt", "C.txt"}));
    EXPECT_TRUE(list.Entries(0).IsFolder);
    EXPECT_FALSE(list.Entries(2).IsFolder);
}

TEST_F(FileList, MaskPartsAreTakenVerbatimAndListAnEntryOnce) {
    dir.File("x.bak");
    dir.File("X.BAK");
    dir.File("y.fdb");
    dir.File(" z.fdb");
    TRzFileListBox list;
    Open(list, dir.Path());
    list.SetMask("*.bak;*.bak;x*");
    EXPECT_EQ(ItemsOf(list), Strings{"x.bak"});
    // Names that differ only by case are two files here.
    list.SetMask("*.bak;*.BAK");
    auto both = ItemsOf(list);
    std::sort(both.begin(), both.end());
    EXPECT_EQ(both, (Strings{"X.BAK", "x.bak"}));
    list.SetMask("*.bak; *.fdb;;");
    EXPECT_EQ(ItemsOf(list), (Strings{" z.fdb", "x.bak"}));
}

TEST_F(FileList, AnEmptyFolderStillReportsAChange) {
    TRzFileListBox list;
    int changes = 0;
    list.OnChange = [&](TComponent*) { ++changes; };
    Open(list, dir.Path());
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(list.LastSelIndex(), -1);
    EXPECT_EQ(list.SelectedPath(), "");
    EXPECT_EQ(list.SelectedName(), "");
}

TEST_F(FileList, MovingToTheSameFolderDoesNotReadItAgain) {
    dir.File("a.bak");
    TRzFileListBox list;
    int changes = 0;
    list.OnChange = [&](TComponent*) { ++changes; };
    Open(list, dir.Path());
    ASSERT_EQ(changes, 1);
    list.SetListDir(dir.Path());
    EXPECT_EQ(changes, 1);
}

// A readable BackUp beside a folder that cannot be entered.
void LayOutShutFolder(FakeFileSystem& fake) {
    fake.AddDrive("/", platform::fs::dkFixed);
    fake.AddFile("/app/BackUp/a.fbk");
    fake.AddFile("/app/Shut/x.fdb");
    fake.SetLocked("/app/Shut", true);
}

TEST_F(FileList, AFolderThatCannotBeEnteredListsNothingOfTheCurrentOne) {
    FakeFileSystem fake(PathStyle::Posix);
    LayOutShutFolder(fake);
    platform::fs::ScopedFileSystem use(fake);
    for (const char* folder : {"/app/Shut", "/app/Missing"}) {
        TRzFileListBox backups;
        Open(backups, "/app/BackUp");  // the process's current directory now
        TRzFileListBox list;
        Open(list, folder);
        EXPECT_EQ(list.ListDir(), folder);
        EXPECT_EQ(list.Count(), 0) << folder;
        list.SetItemIndex(0);
        EXPECT_EQ(list.SelectedPath(), "") << folder;
    }
}

TEST_F(FileList, AFolderThatCouldNotBeReadIsReadWhenSetAgain) {
    FakeFileSystem fake(PathStyle::Posix);
    LayOutShutFolder(fake);
    platform::fs::ScopedFileSystem use(fake);
    TRzFileListBox shut;
    TRzFileListBox missing;
    Open(shut, "/app/Shut");
    Open(missing, "/app/Missing");
    ASSERT_EQ(shut.Count() + missing.Count(), 0);
    fake.SetLocked("/app/Shut", false);
    fake.AddFile("/app/Missing/x.fdb");
    for (TRzFileListBox* list : {&shut, &missing}) {
        list->SetListDir(list->ListDir());
        EXPECT_EQ(ItemsOf(*list), Strings{"x.fdb"}) << list->ListDir();
    }
}

TEST_F(FileList, ARelativeNameInAListWhoseFolderIsShutFails) {
    FakeFileSystem fake(PathStyle::Posix);
    LayOutShutFolder(fake);
    platform::fs::ScopedFileSystem use(fake);
    TRzFileListBox list;
    Open(list, "/app/Shut");
    TRzFileListBox backups;
    Open(backups, "/app/BackUp");  // the process's current directory now
    for (const char* text : {"a.fbk", "*.fbk", "[a.fbk]"}) {
        EXPECT_THROW(list.ApplyPathText(text), EInOutError) << text;
        EXPECT_EQ(list.ListDir(), "/app/Shut") << text;
        EXPECT_EQ(list.Mask(), "*.*") << text;
    }
    // A full path needs no folder of the list's own.
    list.ApplyPathText("/app/BackUp/a.fbk");
    EXPECT_EQ(list.SelectedPath(), "/app/BackUp/a.fbk");
}

TEST_F(FileList, AFolderThatWentAwayShowsNoOtherFoldersFiles) {
    dir.File("gone/a.bak");
    dir.File("other/b.bak");
    TRzFileListBox list;
    Open(list, dir.Path("gone"));
    TRzFileListBox other;
    Open(other, dir.Path("other"));  // the process's current directory now
    std::filesystem::remove_all(dir.Path("gone"));
    list.SetMask("*.bak");
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.SelectedPath(), "");
}

TEST_F(FileList, SelectedPathJoinsFolderAndNameWithOneSeparator) {
    dir.File("x.bak");
    TRzFileListBox list;
    Open(list, dir.Path());
    EXPECT_EQ(list.SelectedPath(), "");
    list.SetItemIndex(0);
    EXPECT_EQ(list.SelectedName(), "x.bak");
    EXPECT_EQ(list.SelectedPath(), dir.Path() + "/x.bak");
    EXPECT_EQ(list.SelectedLongPath(), dir.Path() + "/x.bak");
    EXPECT_EQ(list.SelectedShortPath(), dir.Path() + "/x.bak");

    FakeFileSystem fake(PathStyle::Posix);
    fake.AddDrive("/", platform::fs::dkFixed);
    fake.AddFile("/x.bak");
    platform::fs::ScopedFileSystem use(fake);
    TRzFileListBox root;
    Open(root, "/");
    root.SetItemIndex(0);
    EXPECT_EQ(root.SelectedPath(), "/x.bak");
}

TEST_F(FileList, DriveLetterPathsKeepTheRootsBackslash) {
    FakeFileSystem fake(PathStyle::Windows);
    fake.AddDrive("C:\\", platform::fs::dkFixed);
    fake.AddFile("C:\\x.bak");
    fake.AddFile("C:\\Data\\x.bak");
    platform::fs::ScopedFileSystem use(fake);
    TRzFileListBox list;
    Open(list, "C:\\");
    list.SetItemIndex(0);
    EXPECT_EQ(list.SelectedPath(), "C:\\x.bak");
    list.SetListDir("c:\\data");
    EXPECT_EQ(list.ListDir(), "C:\\Data");
    list.SetItemIndex(0);
    EXPECT_EQ(list.SelectedPath(), "C:\\Data\\x.bak");
    EXPECT_EQ(list.SelectedLongPath(), "C:\\Data\\x.bak");
    // Another letter case of the same folder is the same folder there.
    const int searches = fake.findCalls;
    list.SetListDir("C:\\DATA");
    EXPECT_EQ(fake.findCalls, searches);
}

TEST_F(FileList, ClickingTheSelectedItemRaisesClickButNoChange) {
    dir.File("a.bak");
    dir.File("b.bak");
    TRzFileListBox list;
    std::vector<std::string> events;
    list.OnClick = [&](TComponent*) { events.push_back("click"); };
    list.OnChange = [&](TComponent*) { events.push_back("change"); };
    Open(list, dir.Path());
    events.clear();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, CentreOf(list, 1));
    EXPECT_EQ(events, (Strings{"click", "change"}));
    EXPECT_EQ(list.SelectedName(), "b.bak");
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, CentreOf(list, 1));
    EXPECT_EQ(events, (Strings{"click", "change", "click"}));
    QTest::keyClick(list.viewport(), Qt::Key_Up);
    EXPECT_EQ(list.SelectedName(), "a.bak");
    EXPECT_EQ(events.back(), "change");
}

TEST_F(FileList, EverySelectionChangeTheViewMakesIsHandledOnce) {
    for (const char* name : {"a.bak", "b.bak", "c.bak"}) dir.File(name);
    struct Case {
        const char* name;
        std::function<void(TRzFileListBox&)> gesture;
        std::string edited;  // the linked edit afterwards
    };
    const Case cases[] = {
        {"a drag",
         [&](TRzFileListBox& list) {
             QTest::mousePress(list.viewport(), Qt::LeftButton, {}, CentreOf(list, 0));
             QTest::mouseMove(list.viewport(), CentreOf(list, 2));
             QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, CentreOf(list, 2));
         },
         "c.bak"},
        {"a right-button press",
         [&](TRzFileListBox& list) {
             QTest::mouseClick(list.viewport(), Qt::RightButton, {}, CentreOf(list, 1));
         },
         "b.bak"},
        {"Ctrl+click on the selected item",
         [&](TRzFileListBox& list) {
             QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ControlModifier,
                               CentreOf(list, 0));
         },
         "*.*"},
    };
    for (const Case& c : cases) {
        QLineEdit edit;
        TRzFileListBox list;
        list.SetFileEdit(&edit);
        Open(list, dir.Path());
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, CentreOf(list, 0));
        int changes = 0;
        list.OnChange = [&](TComponent*) { ++changes; };
        c.gesture(list);
        EXPECT_EQ(changes, 1) << c.name;
        EXPECT_EQ(list.LastSelIndex(), list.ItemIndex()) << c.name;
        EXPECT_EQ(edit.text().toStdString(), c.edited) << c.name;
    }
}

TEST_F(FileList, WithMultiSelectSeveralItemsAreChosenAndOnlyTheFocusedOneIsNamed) {
    for (const char* name : {"a.bak", "b.bak", "c.bak"}) dir.File(name);
    TRzFileListBox list;
    EXPECT_FALSE(list.MultiSelect());
    Open(list, dir.Path());
    list.SetMultiSelect(true);
    ASSERT_EQ(list.Count(), 3);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, CentreOf(list, 0));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ControlModifier, CentreOf(list, 2));
    EXPECT_TRUE(list.Selected(0));
    EXPECT_FALSE(list.Selected(1));
    EXPECT_TRUE(list.Selected(2));
    EXPECT_EQ(list.SelectedName(), "c.bak");
    // The focused item, once deselected, names nothing.
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ControlModifier, CentreOf(list, 2));
    EXPECT_EQ(list.ItemIndex(), 2);
    EXPECT_EQ(list.SelectedName(), "");
    EXPECT_TRUE(list.Selected(0));
    // ItemIndex only moves the focus; selecting is separate.
    list.SetItemIndex(1);
    EXPECT_EQ(list.SelectedName(), "");
    list.SetSelected(1, true);
    EXPECT_EQ(list.SelectedPath(), dir.Path("b.bak"));
    EXPECT_TRUE(list.Selected(0));
    // Back to single selection: one item at a time.
    list.SetMultiSelect(false);
    list.SetItemIndex(0);
    list.SetSelected(2, true);
    EXPECT_FALSE(list.Selected(0));
    EXPECT_EQ(list.SelectedName(), "c.bak");
}

TEST_F(FileList, TheLinkedEditMirrorsTheSelectionOrTheMask) {
    dir.File("a.bak");
    QLineEdit edit;
    TRzFileListBox list;
    list.SetFileEdit(&edit);
    Open(list, dir.Path());
    EXPECT_EQ(edit.text(), "*.*");
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, CentreOf(list, 0));
    EXPECT_EQ(edit.text(), "a.bak");
    EXPECT_EQ(edit.selectedText(), "a.bak");
}

TEST_F(FileList, DoubleClickingAFolderMovesTheListAfterTheEvent) {
    dir.File("inner/deep.bak");
    dir.File("top.bak");
    TRzFileListBox list;
    list.SetFileType(FileAttrBit(ftNormal) | FileAttrBit(ftDirectory));
    std::string folderDuringEvent;
    list.OnDblClick = [&](TComponent*) { folderDuringEvent = list.ListDir(); };
    Open(list, dir.Path());
    // Another list reading elsewhere moves the process's current directory.
    std::filesystem::current_path("/");
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, CentreOf(list, 0));
    EXPECT_EQ(folderDuringEvent, dir.Path());
    EXPECT_EQ(list.ListDir(), dir.Path("inner"));
    EXPECT_EQ(ItemsOf(list), Strings{"deep.bak"});
}

TEST_F(FileList, DoubleClickingAFileOpensItOnlyWhenAllowed) {
    dir.File("a.bak");
    TRzFileListBox list;
    int doubleClicks = 0;
    list.OnDblClick = [&](TComponent*) { ++doubleClicks; };
    Open(list, dir.Path());
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, CentreOf(list, 0));
    EXPECT_EQ(doubleClicks, 1);
    EXPECT_TRUE(shell.opened.empty());

    list.SetAllowOpen(true);
    shell.openSucceeds = false;
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, CentreOf(list, 0));
    EXPECT_EQ(shell.opened, Strings{dir.Path("a.bak")});
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0].text, "Could not open file.");
    EXPECT_EQ(window.messages[0].icon, platform::MessageIcon::Information);
    EXPECT_EQ(list.Count(), 1);
}

TEST_F(FileList, TheHourglassShowsFromTheHundredAndFirstItemAndGoesAway) {
    for (int i = 0; i < 100; ++i) dir.File("f" + std::to_string(i) + ".bak");
    TRzFileListBox list;
    window.cursor = platform::crHandPoint;
    Open(list, dir.Path());
    EXPECT_EQ(list.Count(), 100);
    EXPECT_EQ(std::count(window.cursorHistory.begin(), window.cursorHistory.end(),
                         static_cast<int>(platform::crHourGlass)),
              0);
    dir.File("f100.bak");
    list.SetMask("f*");
    EXPECT_EQ(list.Count(), 101);
    EXPECT_NE(std::find(window.cursorHistory.begin(), window.cursorHistory.end(),
                        static_cast<int>(platform::crHourGlass)),
              window.cursorHistory.end());
    EXPECT_EQ(window.cursor, platform::crHandPoint);
    EXPECT_FALSE(list.ReadingEntries());
}

TEST_F(FileList, AFailingChangeHandlerStillEndsTheReading) {
    dir.File("a.bak");
    TRzFileListBox list;
    Open(list, dir.Path());
    window.cursor = platform::crHandPoint;
    list.OnChange = [](TComponent*) { throw EAbort(); };
    EXPECT_THROW(list.SetMask("*.bak"), EAbort);
    EXPECT_FALSE(list.ReadingEntries());
    EXPECT_EQ(window.cursor, platform::crHandPoint);
    EXPECT_EQ(list.Count(), 1);
}

TEST_F(FileList, IconsAreLookedUpOncePerExtensionButPerFileForPrograms) {
    for (const char* name : {"a.bak", "b.bak", "c.BAK", "d.fdb", "e.exe", "f.exe", "noext"})
        dir.File(name);
    TRzFileListBox list;
    list.SetMask("*.bak;*.BAK;*.fdb;*.exe;noext");
    shell.lookups.clear();
    list.HandleNeeded();
    list.SetListDir(dir.Path());
    EXPECT_EQ(shell.lookups.size(), 5u);  // .bak, .fdb, e.exe, f.exe, no extension
    EXPECT_EQ(TExtensionIconCache::Instance().Count(), 3);
    for (int i = 0; i < list.Count(); ++i) EXPECT_FALSE(list.Entries(i).Icon.isNull());
    shell.lookups.clear();
    list.SetShowGlyphs(false);
    list.SetMask("*.bak");
    EXPECT_TRUE(shell.lookups.empty());
    EXPECT_TRUE(list.Entries(0).Icon.isNull());
}

TEST_F(FileList, ApplyingAPatternSetsTheMask) {
    dir.File("a.bak");
    dir.File("b.fdb");
    TRzFileListBox list;
    Open(list, dir.Path());
    list.ApplyPathText("*.fdb");
    EXPECT_EQ(list.Mask(), "*.fdb");
    EXPECT_EQ(ItemsOf(list), Strings{"b.fdb"});
}

TEST_F(FileList, ApplyingAFileNameSelectsIt) {
    dir.File("a.bak");
    dir.File("b.bak");
    TRzFileListBox list;
    Open(list, dir.Path());
    list.ApplyPathText(dir.Path("b.bak"));
    EXPECT_EQ(list.SelectedName(), "b.bak");
    // A file the mask hides becomes the mask.
    dir.File("c.fdb");
    list.SetMask("*.bak");
    list.ApplyPathText("c.fdb");
    EXPECT_EQ(list.Mask(), "c.fdb");
    EXPECT_EQ(list.SelectedName(), "c.fdb");
}

TEST_F(FileList, ApplyingAFolderMovesTheList) {
    dir.File("sub/in.bak");
    TRzFileListBox list;
    Open(list, dir.Path());
    list.ApplyPathText(dir.Path("sub"));
    EXPECT_EQ(list.ListDir(), dir.Path("sub"));
    EXPECT_EQ(ItemsOf(list), Strings{"in.bak"});
}

TEST_F(FileList, ANameIsAppliedInTheListsOwnFolder) {
    dir.File("mine/a.bak");
    dir.File("mine/sub/in.bak");
    dir.File("other/b.bak");
    TRzFileListBox list;
    Open(list, dir.Path("mine"));
    TRzFileListBox other;
    Open(other, dir.Path("other"));  // the process's current directory now
    list.ApplyPathText("a.bak");
    EXPECT_EQ(list.SelectedPath(), dir.Path("mine/a.bak"));
    EXPECT_EQ(std::filesystem::current_path(), dir.Path("other"));
    list.ApplyPathText("sub");
    EXPECT_EQ(list.ListDir(), dir.Path("mine/sub"));
}

TEST_F(FileList, NamesOnADriveLetterStayInTheListsFolder) {
    FakeFileSystem fake(PathStyle::Windows);
    fake.AddDrive("C:\\", platform::fs::dkFixed);
    fake.AddFile("C:\\App\\Sub\\in.bak");
    fake.AddFile("C:\\App\\Other\\o.bak");
    platform::fs::ScopedFileSystem use(fake);
    TRzFileListBox list;
    list.SetFileType(FileAttrBit(ftNormal) | FileAttrBit(ftDirectory));
    Open(list, "C:\\App");
    list.ApplyPathText("Sub");
    EXPECT_EQ(list.ListDir(), "C:\\App\\Sub");
    list.ApplyPathText("C:\\App");
    ASSERT_EQ(list.ListDir(), "C:\\App");
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {},
                       CentreOf(list, list.FindExact("Other")));
    EXPECT_EQ(list.ListDir(), "C:\\App\\Other");
    EXPECT_EQ(ItemsOf(list), Strings{"o.bak"});
}

TEST_F(FileList, ApplyingAnUnreachablePathRaisesAndKeepsTheCurrentDirectory) {
    TRzFileListBox list;
    Open(list, dir.Path());
    std::filesystem::current_path("/");
    EXPECT_THROW(list.ApplyPathText(dir.Path("missing/x.bak")), EInOutError);
    EXPECT_THROW(list.ApplyPathText(dir.Path("missing.bak")), EInOutError);
    EXPECT_EQ(std::filesystem::current_path(), "/");
    EXPECT_EQ(list.ListDir(), dir.Path());
}

TEST_F(FileList, ItemHeightFollowsTheFont) {
    EXPECT_EQ(TFileListBox::ItemHeightFor(12, true), 18);
    EXPECT_EQ(TFileListBox::ItemHeightFor(24, true), 23);
    EXPECT_EQ(TFileListBox::ItemHeightFor(12, false), 11);
    TRzFileListBox list;
    const int cell = QFontMetrics(list.font()).height();
    EXPECT_EQ(list.ItemHeight(), std::max(cell - 1, 18));
    list.SetShowGlyphs(false);
    EXPECT_EQ(list.ItemHeight(), cell - 1);
}

TEST_F(FileList, ANewFontResizesTheItemsAndReadsTheFolderAgain) {
    dir.File("a.bak");
    TRzFileListBox list;
    Open(list, dir.Path());
    dir.File("b.bak");
    QFont big = list.font();
    big.setPixelSize(40);
    list.setFont(big);
    EXPECT_EQ(list.ItemHeight(), QFontMetrics(big).height() - 1);
    EXPECT_EQ(ItemsOf(list), (std::vector<std::string>{"a.bak", "b.bak"}));
}

TEST_F(FileList, TheWheelScrollsByLinesAndNeverAboveTheTop) {
    for (int i = 0; i < 60; ++i) dir.File("f" + std::to_string(100 + i));
    TRzFileListBox list;
    Open(list, dir.Path());
    QScrollBar* bar = list.verticalScrollBar();
    ASSERT_GT(bar->maximum(), 6);
    const QPoint at = list.viewport()->rect().center();
    QWheelEvent down(at, list.viewport()->mapToGlobal(at), {}, {0, -120}, Qt::NoButton, {},
                     Qt::NoScrollPhase, false);
    QApplication::sendEvent(list.viewport(), &down);
    EXPECT_EQ(bar->value(), QApplication::wheelScrollLines());
    bar->setValue(1);
    QWheelEvent up(at, list.viewport()->mapToGlobal(at), {}, {0, 120}, Qt::NoButton, {},
                   Qt::NoScrollPhase, false);
    QApplication::sendEvent(list.viewport(), &up);
    EXPECT_EQ(bar->value(), 1);
    // A turn of two notches at once moves twice as far.
    bar->setValue(0);
    QWheelEvent twoDown(at, list.viewport()->mapToGlobal(at), {}, {0, -240}, Qt::NoButton, {},
                        Qt::NoScrollPhase, false);
    QApplication::sendEvent(list.viewport(), &twoDown);
    EXPECT_EQ(bar->value(), 2 * QApplication::wheelScrollLines());
}

TEST_F(FileList, PartsOfANotchAddUpBeforeTheListScrolls) {
    for (int i = 0; i < 60; ++i) dir.File("f" + std::to_string(100 + i));
    const int lines = QApplication::wheelScrollLines();
    struct Case {
        const char* name;
        std::vector<int> turns;
        int notchesDown;  // scrolled and reported, up negative
    };
    const Case cases[] = {
        {"three thirds make one notch", {-40, -40, -40}, 1},
        {"two thirds make none", {-40, -40}, 0},
        {"a turn back starts afresh", {-80, 40, 40, 40}, -1},
        {"a double notch counts twice", {-240}, 2},
        {"upwards too", {60, 60}, -1},
    };
    for (const Case& c : cases) {
        TRzFileListBox list;
        int downs = 0;
        int ups = 0;
        list.OnMouseWheelDown = [&](TComponent*) { ++downs; };
        list.OnMouseWheelUp = [&](TComponent*) { ++ups; };
        Open(list, dir.Path());
        QScrollBar* bar = list.verticalScrollBar();
        bar->setValue(3 * lines);
        const QPoint at = list.viewport()->rect().center();
        for (int turn : c.turns) {
            QWheelEvent e(at, list.viewport()->mapToGlobal(at), {}, {0, turn}, Qt::NoButton, {},
                          Qt::ScrollUpdate, false);
            QApplication::sendEvent(list.viewport(), &e);
        }
        EXPECT_EQ(bar->value(), (3 + c.notchesDown) * lines) << c.name;
        EXPECT_EQ(downs - ups, c.notchesDown) << c.name;
        EXPECT_EQ(downs + ups, std::abs(c.notchesDown)) << c.name;
    }
}

TEST_F(FileList, TheHighlightLeavesTheIconColumnInTheListsColour) {
    dir.File("a.bak");
    TRzFileListBox list;
    list.SetColor(Qt::white);
    QPalette palette = list.palette();
    for (auto group : {QPalette::Active, QPalette::Inactive})
        palette.setColor(group, QPalette::Highlight, Qt::darkBlue);
    list.setPalette(palette);
    Open(list, dir.Path());
    list.SetItemIndex(0);
    QApplication::processEvents();
    const QImage image = list.viewport()->grab().toImage();
    const QRect row = list.visualRect(list.model()->index(0, 0));
    const int y = row.bottom() - 1;  // below the text and the icon
    EXPECT_EQ(image.pixelColor(row.left() + 23, y), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(row.left() + 25, y), QColor(Qt::darkBlue));
    // The icon sits 4 pixels from the list's edge, in the uncoloured column.
    EXPECT_EQ(image.pixelColor(row.left() + 3, row.center().y()), QColor(Qt::white));
    EXPECT_NE(image.pixelColor(row.left() + 5, row.center().y()), QColor(Qt::white));
}

TEST_F(FileList, ColoursFollowTheEnabledState) {
    TRzFileListBox list;
    list.SetDisabledColor(Qt::white);
    list.SetColor(QColor(1, 2, 3));
    EXPECT_EQ(list.FocusColor(), QColor(1, 2, 3));
    list.setEnabled(false);
    EXPECT_EQ(list.ShownColor(), QColor(Qt::white));
    EXPECT_EQ(list.palette().color(QPalette::Disabled, QPalette::Base), QColor(Qt::white));
    list.setEnabled(true);
    EXPECT_EQ(list.ShownColor(), QColor(1, 2, 3));
    list.SetFocusColor(Qt::yellow);
    list.SetColor(Qt::red);
    EXPECT_EQ(list.FocusColor(), QColor(Qt::yellow));
}

}  // namespace
