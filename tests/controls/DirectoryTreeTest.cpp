#include <gtest/gtest.h>
#include <sys/mount.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QTest>
#include <utility>

#include "ControlsTestSupport.h"
#include "core/Exceptions.h"
#include "fakes/FakeFileSystem.h"

using namespace platform::fs;
using Strings = std::vector<std::string>;

namespace {

std::vector<std::string> ChildCaptions(TTreeNode* node) {
    std::vector<std::string> out;
    for (int i = 0; i < node->Count(); ++i) out.push_back(node->Item(i)->Text());
    return out;
}

// Types a new caption for the selected node as the user would: F2, the
// text, Return. False when no editor opened.
bool TypeCaption(TRzDirectoryTree& tree, const std::string& text) {
    tree.show();
    tree.setFocus();
    QTest::keyClick(&tree, Qt::Key_F2);
    QApplication::processEvents();
    auto* editor = tree.findChild<QLineEdit*>();
    if (!editor)
        return false;
    editor->setText(QString::fromStdString(text));
    QTest::keyClick(editor, Qt::Key_Return);
    QApplication::processEvents();  // the editor commits on the next turn
    return true;
}

// Trees on this machine's file system, with a list linked to each.
class DirectoryTree : public ControlsTest {
  protected:
    DirectoryTree() {
        tree.SetFileList(&list);
        list.show();
    }

    TempFolder dir;
    TRzDirectoryTree tree;
    TRzFileListBox list;
};

TEST_F(DirectoryTree, OpeningAMissingBackUpFolderOpensItsNearestAncestor) {
    dir.File("restore.exe");
    dir.File("old.bak");
    tree.OpenDir(dir.Path() + "/BackUp");
    EXPECT_EQ(tree.SelectedDir(), dir.Path());
    EXPECT_EQ(list.ListDir(), dir.Path());
    EXPECT_EQ(ItemsOf(list), (Strings{"old.bak", "restore.exe"}));
}

TEST_F(DirectoryTree, OpeningAFolderSelectsItAndMovesTheList) {
    dir.File("BackUp/a.bak");
    dir.Folder("Data");
    tree.OpenDir(dir.Path("BackUp"));
    EXPECT_EQ(tree.SelectedDir(), dir.Path("BackUp"));
    EXPECT_EQ(tree.Selected()->Text(), "BackUp");
    EXPECT_EQ(ItemsOf(list), Strings{"a.bak"});
    list.SetItemIndex(0);
    EXPECT_EQ(list.SelectedPath(), dir.Path("BackUp/a.bak"));
    // The drive is the volume the folder lies on: "/" or a mount above it.
    EXPECT_EQ(dir.Path().rfind(tree.SelectedDrive(), 0), 0u);
    EXPECT_FALSE(tree.SelectedDrive().empty());
    // The folder's siblings were read on the way, sorted.
    EXPECT_EQ(ChildCaptions(tree.Selected()->Parent()), (Strings{"BackUp", "Data"}));
}

TEST_F(DirectoryTree, TheRootIsItsOwnSelectedFolder) {
    tree.OpenDir("/");
    EXPECT_EQ(tree.SelectedDir(), "/");
    EXPECT_EQ(list.ListDir(), "/");
}

TEST_F(DirectoryTree, OpeningTheSelectedFolderAgainRaisesNoEvents) {
    dir.Folder("BackUp");
    tree.OpenDir(dir.Path("BackUp"));
    int changes = 0;
    tree.OnChange = [&](TComponent*, TTreeNode*) { ++changes; };
    list.OnChange = [&](TComponent*) { ++changes; };
    tree.OpenDir(dir.Path("BackUp"));
    tree.OpenDir(dir.Path("BackUp") + "/");
    EXPECT_EQ(changes, 0);
}

TEST_F(DirectoryTree, APathThroughAHiddenFolderLeavesTheSelection) {
    dir.Folder(".hidden/inside");
    dir.Folder("shown");
    tree.OpenDir(dir.Path("shown"));
    tree.OpenDir(dir.Path(".hidden/inside"));
    EXPECT_EQ(tree.SelectedDir(), dir.Path("shown"));
    tree.SetShowHiddenDirs(true);
    EXPECT_EQ(tree.SelectedDir(), dir.Path("shown"));
    tree.OpenDir(dir.Path(".hidden/inside"));
    EXPECT_EQ(tree.SelectedDir(), dir.Path(".hidden/inside"));
}

TEST_F(DirectoryTree, FoldersAreReadLazilyWithPlaceholders) {
    dir.Folder("a/deeper");
    dir.Folder("B");
    dir.File("c.txt");
    tree.OpenDir(dir.Path());
    TTreeNode* node = tree.Selected();
    ASSERT_TRUE(TRzDirectoryTree::InfoOf(node)->ChildrenRead);
    ASSERT_EQ(node->Count(), 2);
    TTreeNode* a = node->Item(0);
    TTreeNode* b = node->Item(1);
    EXPECT_EQ(a->Text(), "a");
    EXPECT_EQ(TRzDirectoryTree::InfoOf(a)->Path, dir.Path("a") + "/");
    // Before expanding, a node only knows whether it has a sub-folder.
    tree.ExpandNode(node);
    EXPECT_EQ(ChildCaptions(a), Strings{":"});
    EXPECT_EQ(TRzDirectoryTree::InfoOf(a->Item(0)), nullptr);
    EXPECT_EQ(b->Count(), 0);
    tree.ExpandNode(a);
    EXPECT_EQ(ChildCaptions(a), Strings{"deeper"});
}

TEST_F(DirectoryTree, DoubleClickingAFolderInTheListMovesTreeAndList) {
    dir.File("inner/deep.bak");
    list.SetFileType(FileAttrBit(ftNormal) | FileAttrBit(ftDirectory));
    tree.OpenDir(dir.Path());
    ASSERT_EQ(ItemsOf(list), Strings{"inner"});
    QPoint at = list.visualRect(list.model()->index(0, 0)).center();
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(tree.SelectedDir(), dir.Path("inner"));
    EXPECT_EQ(list.ListDir(), dir.Path("inner"));
    EXPECT_EQ(ItemsOf(list), Strings{"deep.bak"});
}

TEST_F(DirectoryTree, TheFolderLabelShowsTheShortenedPath) {
    dir.Folder("a-rather-long-folder-name/BackUp");
    QLabel label;
    label.resize(60, 20);
    tree.SetDirLabel(&label);
    tree.OpenDir(dir.Path("a-rather-long-folder-name/BackUp"));
    EXPECT_TRUE(label.text().endsWith("BackUp"));
    EXPECT_LT(label.text().size(), static_cast<int>(tree.SelectedDir().size()));
    label.resize(2000, 20);
    tree.UpdateDirLabel();
    EXPECT_EQ(label.text().toStdString(), tree.SelectedDir());
}

TEST_F(DirectoryTree, RenamingAFolderMovesItAndItsNodes) {
    dir.Folder("Old/inner");
    tree.SetReadOnly(false);
    tree.OpenDir(dir.Path("Old/inner"));
    tree.OpenDir(dir.Path("Old"));
    TTreeNode* node = tree.Selected();
    tree.ExpandNode(node);
    ASSERT_TRUE(TypeCaption(tree, "New"));
    EXPECT_TRUE(std::filesystem::exists(dir.Path("New/inner")));
    EXPECT_EQ(node->Text(), "New");
    EXPECT_EQ(tree.SelectedDir(), dir.Path("New"));
    EXPECT_EQ(TRzDirectoryTree::InfoOf(node->Item(0))->Path, dir.Path("New/inner") + "/");
    EXPECT_EQ(list.ListDir(), dir.Path("New"));
}

TEST_F(DirectoryTree, ANameThatWouldMoveTheFolderElsewhereIsRefused) {
    dir.Folder("Old");
    tree.SetReadOnly(false);
    tree.OpenDir(dir.Path("Old"));
    ASSERT_TRUE(TypeCaption(tree, "../escaped"));
    EXPECT_TRUE(std::filesystem::exists(dir.Path("Old")));
    EXPECT_FALSE(std::filesystem::exists(dir.Path("../escaped")));
    EXPECT_EQ(tree.Selected()->Text(), "Old");
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(
        window.messages[0].text,
        "A directory name cannot contain any of the following characters:\r\\ / : * ? \" < > |");
}

TEST_F(DirectoryTree, DriveNodesCannotBeRenamedAndReadOnlyTreesNothing) {
    dir.Folder("Old");
    tree.OpenDir(dir.Path("Old"));
    tree.show();
    tree.setFocus();
    QTest::keyClick(&tree, Qt::Key_F2);
    EXPECT_EQ(tree.findChild<QLineEdit*>(), nullptr);
    tree.SetReadOnly(false);
    tree.OpenDir("/");
    QTest::keyClick(&tree, Qt::Key_F2);
    EXPECT_EQ(tree.findChild<QLineEdit*>(), nullptr);
}

TEST_F(DirectoryTree, AVolumeMountedWhileTheTreeRunsBecomesADrive) {
    const std::string point = dir.Folder("volume");
    tree.OpenDir(dir.Path());
    if (::mount("none", point.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "mounting is not permitted here";
    const bool appeared =
        QTest::qWaitFor([&] { return tree.FindDriveNode(point) != nullptr; }, 3000);
    ::umount(point.c_str());
    ASSERT_TRUE(appeared);
    EXPECT_EQ(tree.FindDriveNode(point)->Text(), " (" + point + ")");
    EXPECT_TRUE(QTest::qWaitFor([&] { return tree.FindDriveNode(point) == nullptr; }, 3000));
    EXPECT_EQ(tree.SelectedDir(), dir.Path());
}

// ---------------------------------------------------------------------------
// Links between trees and lists

TEST(TreeAndListLinks, ListsAndTreesJoiningAnOwnerPairUpOnlyWhenBothAreFree) {
    TComponent form;
    auto* tree1 = new TRzDirectoryTree(&form);
    auto* tree2 = new TRzDirectoryTree(&form);
    auto* list2 = new TRzFileListBox(&form);
    auto* list1 = new TRzFileListBox(&form);
    EXPECT_EQ(tree1->FileList(), list2);
    EXPECT_EQ(tree2->FileList(), list1);
    // The window then assigns the pairs it wants; every link stays mutual.
    tree1->SetFileList(list1);
    tree2->SetFileList(list2);
    EXPECT_EQ(list1->LinkedTree(), tree1);
    EXPECT_EQ(list2->LinkedTree(), tree2);
    EXPECT_EQ(tree1->FileList(), list1);
    EXPECT_EQ(tree2->FileList(), list2);
}

TEST(TreeAndListLinks, EachSideForgetsTheOtherWhenItGoes) {
    auto* tree = new TRzDirectoryTree;
    auto* list = new TRzFileListBox;
    tree->SetFileList(list);
    delete list;
    EXPECT_EQ(tree->FileList(), nullptr);
    list = new TRzFileListBox;
    tree->SetFileList(list);
    delete tree;
    EXPECT_EQ(list->LinkedTree(), nullptr);
    delete list;
}

// A window that owns its controls both ways: as their component owner and
// as their parent widget.
class TForm : public QWidget, public TComponent {
  public:
    TForm() {
        tree = new TRzDirectoryTree(this, this);
        list = new TRzFileListBox(this, this);
    }
    TRzDirectoryTree* tree;
    TRzFileListBox* list;
};

class TFormOwnerFirst : public TComponent, public QWidget {
  public:
    TFormOwnerFirst() {
        tree = new TRzDirectoryTree(this, this);
        list = new TRzFileListBox(this, this);
    }
    TRzDirectoryTree* tree;
    TRzFileListBox* list;
};

TEST(TreeAndListLinks, AFormFreesItsControlsOnceWhicheverBaseGoesFirst) {
    auto* form = new TForm;
    EXPECT_EQ(form->tree->FileList(), form->list);
    EXPECT_EQ(form->ComponentCount(), 2);
    delete form;
    auto* other = new TFormOwnerFirst;
    EXPECT_EQ(other->ComponentCount(), 2);
    delete other;
}

TEST(TreeAndListLinks, AControlDeletedByItsParentLeavesItsOwner) {
    TForm form;
    delete form.list;
    EXPECT_EQ(form.ComponentCount(), 1);
    EXPECT_EQ(form.tree->FileList(), nullptr);
}

// ---------------------------------------------------------------------------
// Drives, on a machine with drive letters

class DriveLetters : public ControlsTest {
  protected:
    DriveLetters() : use_(fs) {
        fs.AddDrive("A:\\", dkRemovable);
        fs.AddDrive("C:\\", dkFixed, "SYSTEM", 0xC);
        fs.AddFolder("C:\\App\\BackUp");
        fs.AddFile("C:\\App\\restore.exe");
        fs.AddFile("C:\\App\\BackUp\\db.bak");
        fs.AddDrive("D:\\", dkFixed, "DATA", 0xD);
        fs.AddDrive("N:\\", dkRemote, "share", 0x99, "\\\\SRV\\SHARE");
        fs.AddFolder("N:\\dir");
        fs.AddDrive("Z:\\", dkCdRom, "DISC", 0x2);
        fs.SetCurrentDirectory("C:\\App");
        shell.displayNames["A:\\"] = "Floppy (A:)";
        tree.SetFileList(&list);
        // Media are exchanged here between two clicks faster than any hand.
        tree.SetVolumeCheckInterval(std::chrono::milliseconds(0));
        list.show();
    }

    void ClickSelected() {
        tree.show();
        QApplication::processEvents();
        QTest::mouseClick(tree.viewport(), Qt::LeftButton, {},
                          tree.visualItemRect(tree.Selected()).center());
    }

    std::vector<std::string> RootCaptions() {
        std::vector<std::string> out;
        for (int i = 0; i < tree.RootCount(); ++i) out.push_back(tree.Root(i)->Text());
        return out;
    }

    FakeFileSystem fs{PathStyle::Windows};

  private:
    ScopedFileSystem use_;

  protected:
    TRzDirectoryTree tree;
    TRzFileListBox list;
};

TEST_F(DriveLetters, TheTreeShowsDrivesAndOpensTheCurrentDrive) {
    tree.HandleNeeded();
    EXPECT_EQ(RootCaptions(), (Strings{"Floppy (A:)", "System (C:)", "Data (D:)",
                                       "Share on 'Srv' (N:)", "Disc (Z:)"}));
    EXPECT_EQ(tree.SelectedDir(), "C:\\");
    EXPECT_EQ(tree.SelectedDrive(), "C:\\");
    EXPECT_EQ(list.ListDir(), "C:\\");
}

TEST_F(DriveLetters, OnlyDrivesThatCannotBeAskedGetAnExpandButtonUnasked) {
    tree.HandleNeeded();
    EXPECT_EQ(ChildCaptions(tree.FindDriveNode("A:\\")), Strings{":"});
    EXPECT_EQ(ChildCaptions(tree.FindDriveNode("Z:\\")), Strings{":"});
    EXPECT_EQ(ChildCaptions(tree.FindDriveNode("N:\\")), Strings{":"});
    EXPECT_EQ(tree.FindDriveNode("D:\\")->Count(), 0);
    EXPECT_EQ(tree.VolumeSerial("A:\\"), 0);
    // Not even their icons are looked up by their roots.
    for (const char* root : {"A:\\", "N:\\", "Z:\\"})
        EXPECT_EQ(shell.lookupCount.count(root), 0u) << root;
    EXPECT_EQ(shell.driveIconKinds, (std::vector<int>{dkRemovable, dkRemote, dkCdRom}));
}

TEST_F(DriveLetters, OpeningFoldersIgnoresLetterCase) {
    tree.OpenDir("c:\\app\\backup");
    EXPECT_EQ(tree.SelectedDir(), "C:\\App\\BackUp");
    EXPECT_EQ(ItemsOf(list), Strings{"db.bak"});
    int changes = 0;
    tree.OnChange = [&](TComponent*, TTreeNode*) { ++changes; };
    tree.OpenDir("C:\\APP\\BACKUP");
    EXPECT_EQ(changes, 0);
}

TEST_F(DriveLetters, AMissingFolderOpensItsNearestExistingAncestor) {
    tree.OpenDir("C:\\App\\BackUp\\Missing\\Deeper");
    EXPECT_EQ(tree.SelectedDir(), "C:\\App\\BackUp");
}

TEST_F(DriveLetters, APathOnADriveThatDoesNotExistRaisesAndChangesNothing) {
    tree.OpenDir("C:\\App");
    try {
        tree.OpenDir("Q:\\Nowhere");
        FAIL() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_STREQ(e.what(), "The Q:\\Nowhere directory does not exist");
    }
    EXPECT_EQ(tree.SelectedDir(), "C:\\App");
}

TEST_F(DriveLetters, NetworkPathsOpenOnTheMappedDrive) {
    tree.OpenDir("\\\\srv\\share\\dir");
    EXPECT_EQ(tree.SelectedDir(), "N:\\dir");
    tree.OpenDir("\\\\srv\\share");
    EXPECT_EQ(tree.SelectedDir(), "N:\\dir");
    tree.OpenDir("\\\\other\\share\\dir");
    EXPECT_EQ(tree.SelectedDir(), "N:\\dir");
}

TEST_F(DriveLetters, ChangingDrivesIsReportedOnlyWhenTheDriveChanges) {
    tree.OpenDir("C:\\");
    int driveChanges = 0;
    tree.OnDriveChange = [&](TComponent*) { ++driveChanges; };
    tree.OpenDir("C:\\App");
    EXPECT_EQ(driveChanges, 0);
    tree.OpenDir("D:\\");
    EXPECT_EQ(driveChanges, 1);
}

TEST_F(DriveLetters, AFolderOpenedFromAChangeHandlerIsHandledInFull) {
    enum From { ListChange, DriveChange };
    const char* const target = "C:\\App\\BackUp";
    for (From from : {ListChange, DriveChange}) {
        tree.OpenDir("C:\\");
        QLabel label;
        label.resize(2000, 20);
        tree.SetDirLabel(&label);
        bool opened = false;
        auto openOnce = [&](TComponent*) {
            if (!std::exchange(opened, true))
                tree.OpenDir(target);
        };
        std::vector<std::string> changed;
        tree.OnChange = [&](TComponent*, TTreeNode* node) {
            changed.push_back(TRzDirectoryTree::InfoOf(node)->Path);
        };
        (from == ListChange ? list.OnChange : tree.OnDriveChange) = openOnce;
        tree.OpenDir(from == ListChange ? "C:\\App" : "D:\\");
        EXPECT_EQ(tree.SelectedDir(), target) << from;
        EXPECT_EQ(list.ListDir(), target) << from;
        EXPECT_EQ(label.text().toStdString(), target) << from;
        EXPECT_EQ(changed, Strings{std::string(target) + "\\"}) << from;
        list.OnChange = nullptr;
        tree.OnDriveChange = nullptr;
        tree.OnChange = nullptr;
    }
}

TEST_F(DriveLetters, ALabelThatSizesItselfIsMeasuredByTheTree) {
    QWidget form;
    auto* row = new QHBoxLayout(&form);
    auto* label = new QLabel;
    label->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    row->addWidget(label);
    row->addStretch();
    form.show();
    tree.SetDirLabel(label);
    tree.OpenDir("C:\\App");
    QApplication::processEvents();  // the layout fits the label to its text
    ASSERT_LT(label->width(), tree.width());
    tree.OpenDir("C:\\App\\BackUp");
    EXPECT_EQ(label->text().toStdString(), "C:\\App\\BackUp");
}

TEST_F(DriveLetters, ARemovableDriveTakesItsVolumeCaptionWhenFirstSelected) {
    fs.SetVolume("A:\\", true, "BACKUPS", 0xAA);
    tree.OpenDir("A:\\");
    EXPECT_EQ(tree.FindDriveNode("A:\\")->Text(), "Backups (A:)");
    EXPECT_EQ(tree.VolumeSerial("A:\\"), 0xAA);
    EXPECT_EQ(tree.SelectedDir(), "A:\\");
}

TEST_F(DriveLetters, AnExchangedMediumResetsTheDriveOnTheNextClick) {
    fs.SetVolume("A:\\", true, "ONE", 1);
    fs.AddFolder("A:\\old");
    tree.OpenDir("A:\\");
    tree.OpenDir("A:\\old");
    ASSERT_EQ(tree.SelectedDir(), "A:\\old");
    fs.Remove("A:\\old");
    fs.AddFolder("A:\\new");
    fs.SetVolume("A:\\", true, "TWO", 2);
    int clicks = 0;
    tree.OnClick = [&](TComponent*) { ++clicks; };
    tree.show();
    QApplication::processEvents();
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {},
                      tree.visualItemRect(tree.Selected()).center());
    EXPECT_EQ(clicks, 0);
    TTreeNode* drive = tree.FindDriveNode("A:\\");
    EXPECT_EQ(drive->Text(), "Two (A:)");
    EXPECT_EQ(tree.Selected(), drive);
    EXPECT_EQ(list.ListDir(), "A:\\");
    tree.ExpandNode(drive);
    EXPECT_EQ(ChildCaptions(drive), Strings{"new"});
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, tree.visualItemRect(drive).center());
    EXPECT_EQ(clicks, 1);
}

TEST_F(DriveLetters, AVolumeIsReadOncePerClickAndAgainOnlyAfterTheInterval) {
    tree.SetVolumeCheckInterval(std::chrono::hours(1));
    tree.OpenDir("C:\\App\\BackUp");
    tree.show();
    QApplication::processEvents();
    const int reads = fs.volumeReads;
    // Selecting a folder and the click on it ask about the same volume.
    TTreeNode* app = tree.Selected()->Parent();
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, tree.visualItemRect(app).center());
    ASSERT_EQ(tree.SelectedDir(), "C:\\App");
    EXPECT_EQ(fs.volumeReads, reads);
    tree.SetVolumeCheckInterval(std::chrono::milliseconds(0));
    ClickSelected();
    EXPECT_EQ(fs.volumeReads, reads + 1);
}

TEST_F(DriveLetters, AVolumeThatDoesNotAnswerInTimeKeepsItsFolders) {
    fs.SetVolume("A:\\", true, "ONE", 1);
    fs.AddFolder("A:\\old");
    tree.OpenDir("A:\\old");
    fs.SetVolume("A:\\", true, "TWO", 2);
    fs.SetVolumeSlow("A:\\", true);
    int clicks = 0;
    tree.OnClick = [&](TComponent*) { ++clicks; };
    ClickSelected();
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(tree.SelectedDir(), "A:\\old");
    EXPECT_EQ(tree.FindDriveNode("A:\\")->Text(), "One (A:)");
    // Once it answers, the exchange is noticed.
    fs.SetVolumeSlow("A:\\", false);
    ClickSelected();
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(tree.FindDriveNode("A:\\")->Text(), "Two (A:)");
}

TEST_F(DriveLetters, EachFolderIsLookedUpOnceAndShowsTheOpenFolderWhenSelected) {
    tree.OpenDir("C:\\App\\BackUp");
    EXPECT_EQ(shell.lookupCount["C:\\App\\"], 1);
    EXPECT_EQ(shell.lookupCount["C:\\App\\BackUp\\"], 1);
    const QColor open = shell.SmallIcon("", true).pixmap(16, 16).toImage().pixelColor(0, 0);
    EXPECT_EQ(tree.Selected()->icon(0).pixmap(16, 16).toImage().pixelColor(0, 0), open);
    TTreeNode* drive = tree.FindDriveNode("C:\\");
    EXPECT_EQ(drive->selectedImage.cacheKey(), drive->image.cacheKey());
}

TEST_F(DriveLetters, AFolderOnARemovableDriveNotYetReadOpensAsAsked) {
    fs.SetVolume("A:\\", true, "STICK", 0x5);
    fs.AddFile("A:\\App\\BackUp\\db.bak");
    tree.OpenDir("A:\\App\\BackUp");
    EXPECT_EQ(tree.SelectedDir(), "A:\\App\\BackUp");
    EXPECT_EQ(tree.FindDriveNode("A:\\")->Text(), "Stick (A:)");
    EXPECT_EQ(tree.VolumeSerial("A:\\"), 0x5);
    EXPECT_EQ(ItemsOf(list), Strings{"db.bak"});
}

TEST_F(DriveLetters, ClickingIntoAnExchangedMediumStillReportsTheDriveChange) {
    fs.SetVolume("A:\\", true, "ONE", 1);
    fs.AddFolder("A:\\old");
    tree.OpenDir("A:\\old");
    tree.OpenDir("C:\\App");
    fs.SetVolume("A:\\", true, "TWO", 2);
    int driveChanges = 0;
    tree.OnDriveChange = [&](TComponent*) { ++driveChanges; };
    tree.show();
    QApplication::processEvents();
    TTreeNode* old = tree.FindDriveNode("A:\\")->Item(0);
    ASSERT_EQ(old->Text(), "old");
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, tree.visualItemRect(old).center());
    EXPECT_EQ(tree.SelectedDir(), "A:\\");
    EXPECT_EQ(driveChanges, 1);
}

TEST_F(DriveLetters, RenamingAFolderOfAnExchangedMediumRenamesItAndRenewsTheDrive) {
    fs.SetVolume("A:\\", true, "ONE", 1);
    fs.AddFolder("A:\\Old");
    tree.OpenDir("A:\\Old");
    fs.SetVolume("A:\\", true, "TWO", 2);
    tree.SetReadOnly(false);
    ASSERT_TRUE(TypeCaption(tree, "New"));
    EXPECT_TRUE(fs.DirectoryExists("A:\\New"));
    EXPECT_EQ(tree.SelectedDir(), "A:\\");
    EXPECT_EQ(tree.FindDriveNode("A:\\")->Text(), "Two (A:)");
}

TEST_F(DriveLetters, ExpandingAFolderOfAnExchangedMediumWithAutoSelectRenewsTheDrive) {
    fs.SetVolume("A:\\", true, "ONE", 1);
    fs.AddFolder("A:\\Old\\Sub");
    tree.OpenDir("A:\\");
    TTreeNode* old = tree.FindDriveNode("A:\\")->Item(0);
    ASSERT_EQ(old->Text(), "Old");
    fs.SetVolume("A:\\", true, "TWO", 2);
    tree.SetAutoSelect(true);
    std::vector<std::string> expanded;
    tree.OnExpanded = [&](TComponent*, TTreeNode* node) { expanded.push_back(node->Text()); };
    tree.ExpandNode(old);
    EXPECT_TRUE(expanded.empty());
    EXPECT_EQ(tree.SelectedDir(), "A:\\");
    EXPECT_EQ(tree.FindDriveNode("A:\\")->Text(), "Two (A:)");
}

TEST_F(DriveLetters, DrivesThatComeAndGoFollowTheDeviceNotice) {
    tree.OpenDir("D:\\");
    fs.RemoveDrive("D:\\");
    fs.AddDrive("B:\\", dkFixed, "SPARE", 0xB);
    int deletions = 0;
    tree.OnDeletion = [&](TComponent*, TTreeNode*) { ++deletions; };
    TRzDeviceNotices::Instance().Notify();
    EXPECT_EQ(RootCaptions(), (Strings{"Floppy (A:)", "Spare (B:)", "System (C:)",
                                       "Share on 'Srv' (N:)", "Disc (Z:)"}));
    EXPECT_EQ(deletions, 1);
    EXPECT_EQ(tree.ShownDrives(), (Strings{"A:\\", "B:\\", "C:\\", "N:\\", "Z:\\"}));
}

TEST_F(DriveLetters, LeavingOutAKindOfDriveRemovesItsNodes) {
    tree.HandleNeeded();
    tree.SetDriveTypes(kDefaultDriveTypes & ~DriveTypeBit(dtFixed));
    EXPECT_EQ(RootCaptions(), (Strings{"Floppy (A:)", "Share on 'Srv' (N:)", "Disc (Z:)"}));
}

TEST_F(DriveLetters, RebuildingKeepsTheSelectedFolder) {
    tree.OpenDir("C:\\App\\BackUp");
    tree.Rebuild();
    EXPECT_EQ(tree.SelectedDir(), "C:\\App\\BackUp");
    tree.SetNetworkVolumeFormat(nvfUNC);
    EXPECT_EQ(tree.FindDriveNode("N:\\")->Text(), "\\\\Srv\\Share (N:)");
    EXPECT_EQ(tree.SelectedDir(), "C:\\App\\BackUp");
}

TEST_F(DriveLetters, ARefusedChangeKeepsTheSelection) {
    tree.OpenDir("C:\\App");
    tree.OnChanging = [](TComponent*, TTreeNode*, bool& allow) { allow = false; };
    tree.OpenDir("D:\\");
    EXPECT_EQ(tree.SelectedDir(), "C:\\App");
    EXPECT_EQ(list.ListDir(), "C:\\App");
}

// ---------------------------------------------------------------------------
// A share mounted inside another volume's folders

class MountedShares : public ControlsTest {};

TEST_F(MountedShares, AShareShownAsAFolderIsNotAskedForItsFolders) {
    FakeFileSystem fs{PathStyle::Posix};
    ScopedFileSystem use(fs);
    fs.AddDrive("/", dkFixed, "", 1);
    fs.AddDrive("/mnt/share", dkRemote, "share", 2, "//srv/share");
    fs.AddFolder("/mnt/share/dir");
    fs.AddFolder("/mnt/local/dir");
    fs.SetCurrentDirectory("/");
    TRzDirectoryTree tree;
    tree.OpenDir("/mnt");
    fs.foldersSearched.clear();
    tree.ExpandNode(tree.Selected());
    TTreeNode* mnt = tree.Selected();
    ASSERT_EQ(ChildCaptions(mnt), (Strings{"local", "share"}));
    // Both show an expand button, but only the local folder was looked into.
    EXPECT_EQ(ChildCaptions(mnt->Item(0)), Strings{":"});
    EXPECT_EQ(ChildCaptions(mnt->Item(1)), Strings{":"});
    EXPECT_EQ(std::count(fs.foldersSearched.begin(), fs.foldersSearched.end(), "/mnt/share/"), 0);
    EXPECT_EQ(std::count(fs.foldersSearched.begin(), fs.foldersSearched.end(), "/mnt/local/"), 1);
}

}  // namespace
