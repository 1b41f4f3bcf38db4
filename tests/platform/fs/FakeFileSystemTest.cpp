#include "fakes/FakeFileSystem.h"

#include <gtest/gtest.h>

using namespace platform::fs;

namespace {

TEST(FakeFiles, NamesIgnoreLetterCaseAndKeepTheirListedForm) {
    FakeFileSystem fs;
    fs.AddDrive("C:\\", dkFixed, "SYSTEM", 7);
    fs.AddFolder("C:\\Program Files\\App\\BackUp");
    EXPECT_TRUE(fs.DirectoryExists("c:\\program files\\APP"));
    ASSERT_TRUE(fs.SetCurrentDirectory("c:\\program files\\app\\"));
    EXPECT_EQ(fs.CurrentDirectory(), "C:\\Program Files\\App");
    EXPECT_EQ(fs.ListedName("C:\\PROGRAM FILES"), "Program Files");
}

TEST(FakeFiles, SearchesFilterLikeTheSystem) {
    FakeFileSystem fs;
    fs.AddDrive("C:\\", dkFixed);
    fs.AddFile("C:\\Data\\a.FDB", 10);
    fs.AddFile("C:\\Data\\h.fdb", 1, faHidden);
    fs.AddFolder("C:\\Data\\sub");
    std::vector<std::string> names;
    fs.FindEntries("C:\\Data", "*.fdb", 0, [&](const DirEntry& e) {
        names.push_back(e.name);
        return true;
    });
    EXPECT_EQ(names, std::vector<std::string>{"a.FDB"});
}

TEST(FakeFiles, UnreadableVolumesAndUniversalNames) {
    FakeFileSystem fs;
    fs.AddDrive("A:\\", dkRemovable);
    fs.AddDrive("N:\\", dkRemote, "share", 9, "\\\\SRV\\SHARE");
    fs.SetVolume("A:\\", false);
    EXPECT_FALSE(fs.ReadVolume("A:\\").has_value());
    EXPECT_FALSE(fs.SetCurrentDirectory("A:\\"));
    EXPECT_EQ(fs.UniversalName("N:\\dir"), "\\\\SRV\\SHARE\\dir");
    EXPECT_EQ(fs.UniversalName("N:\\"), "\\\\SRV\\SHARE\\");
    EXPECT_EQ(fs.UniversalName("C:\\dir"), "C:\\dir");
}

TEST(FakeFiles, RenameMovesAFolderWithItsContents) {
    FakeFileSystem fs;
    fs.AddDrive("C:\\", dkFixed);
    fs.AddFile("C:\\Old\\in\\x.bak");
    ASSERT_TRUE(fs.Rename("C:\\Old", "C:\\New"));
    EXPECT_TRUE(fs.FileExists("C:\\New\\in\\x.bak"));
    EXPECT_FALSE(fs.DirectoryExists("C:\\Old"));
    EXPECT_FALSE(fs.Rename("C:\\Missing", "C:\\Other"));
}

}  // namespace
