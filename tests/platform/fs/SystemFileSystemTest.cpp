#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "platform/fs/FileSystem.h"
#include "tests/support/Files.h"

using namespace platform::fs;
namespace stdfs = std::filesystem;

namespace {

class SystemFiles_ : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = stdfs::current_path();
        stdfs::create_directories(dir_ / "sub");
        std::ofstream(dir_ / "plain.bak") << "12345";
        test_support::WriteFile(dir_ / ".hidden", "");
        stdfs::create_symlink(dir_ / "missing", dir_ / "dangling");
    }
    void TearDown() override { stdfs::current_path(saved_); }
    std::map<std::string, DirEntry> Find(std::uint32_t search, const std::string& pattern = "*") {
        std::map<std::string, DirEntry> found;
        EXPECT_TRUE(files.FindEntries(dir_.string(), pattern, search, [&](const DirEntry& e) {
            found[e.name] = e;
            return true;
        }));
        return found;
    }

    FileSystem& files = SystemFiles();
    stdfs::path saved_;
    test_support::TempFolder folder_{"sysfs"};
    stdfs::path dir_ = folder_.Root();
};

TEST_F(SystemFiles_, ASearchWithoutAttributesFindsPlainFilesOnly) {
    auto found = Find(0);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found["plain.bak"].size, 5);
    EXPECT_GT(found["plain.bak"].time, 0);
}

TEST_F(SystemFiles_, DotFilesAreHiddenAndSpecialFilesAreSystemFiles) {
    auto found = Find(faHidden | faSysFile | faDirectory);
    EXPECT_TRUE(found[".hidden"].attributes & faHidden);
    EXPECT_TRUE(found["dangling"].attributes & faSysFile);
    EXPECT_TRUE(found["sub"].attributes & faDirectory);
    EXPECT_TRUE(found.count("."));
    EXPECT_EQ(Find(faDirectory).count("."), 0u);
}

TEST_F(SystemFiles_, FolderSearchesSkipFiles) {
    std::vector<std::string> names;
    files.FindFolders(dir_.string(), faDirectory, [&](const DirEntry& e) {
        names.push_back(e.name);
        return true;
    });
    EXPECT_EQ(names, std::vector<std::string>{"sub"});
}

TEST_F(SystemFiles_, ASearchStopsWhenAsked) {
    test_support::WriteFile(dir_ / "second.bak", "");
    int calls = 0;
    files.FindEntries(dir_.string(), "*", 0, [&](const DirEntry&) { return ++calls < 1; });
    EXPECT_EQ(calls, 1);
}

TEST_F(SystemFiles_, AMissingFolderCannotBeSearched) {
    EXPECT_FALSE(
        files.FindEntries((dir_ / "nope").string(), "*", 0, [](const DirEntry&) { return true; }));
}

TEST_F(SystemFiles_, CurrentDirectoryAsTheSystemReportsIt) {
    ASSERT_TRUE(files.SetCurrentDirectory((dir_ / "sub").string() + "/"));
    EXPECT_EQ(files.CurrentDirectory(), (dir_ / "sub").string());
    ASSERT_TRUE(files.SetCurrentDirectory("/"));
    EXPECT_EQ(files.CurrentDirectory(), "/");
    std::string error;
    EXPECT_FALSE(files.SetCurrentDirectory((dir_ / "nope").string(), &error));
    EXPECT_FALSE(error.empty());
}

TEST_F(SystemFiles_, ExistenceTellsFilesFromFolders) {
    EXPECT_TRUE(files.DirectoryExists((dir_ / "sub").string()));
    EXPECT_FALSE(files.FileExists((dir_ / "sub").string()));
    EXPECT_TRUE(files.FileExists((dir_ / "plain.bak").string()));
    EXPECT_FALSE(files.DirectoryExists(""));
}

TEST_F(SystemFiles_, RenamingNeverReplacesAnExistingFolder) {
    stdfs::create_directories(dir_ / "other");
    EXPECT_FALSE(files.Rename((dir_ / "sub").string(), (dir_ / "other").string()));
    EXPECT_TRUE(stdfs::exists(dir_ / "sub"));
    EXPECT_TRUE(files.Rename((dir_ / "sub").string(), (dir_ / "renamed").string()));
    EXPECT_TRUE(stdfs::exists(dir_ / "renamed"));
}

TEST_F(SystemFiles_, TheRootIsAFixedDriveWithAReadableVolume) {
    auto drives = files.Drives();
    ASSERT_FALSE(drives.empty());
    EXPECT_EQ(drives.front().root, "/");
    EXPECT_EQ(drives.front().kind, dkFixed);
    for (std::size_t i = 1; i < drives.size(); ++i) EXPECT_LT(drives[i - 1].root, drives[i].root);
    bool timedOut = true;
    auto volume = files.ReadVolume("/", &timedOut);
    ASSERT_TRUE(volume.has_value());
    EXPECT_NE(volume->serial, 0xFFFFFFFFu);
    EXPECT_FALSE(timedOut);
    // A volume that answers that it cannot be read has not kept anyone waiting.
    timedOut = true;
    EXPECT_FALSE(files.ReadVolume((dir_ / "missing").string(), &timedOut).has_value());
    EXPECT_FALSE(timedOut);
}

TEST_F(SystemFiles_, LocalPathsHaveNoUniversalForm) {
    EXPECT_EQ(files.UniversalName(dir_.string()), dir_.string());
}

TEST_F(SystemFiles_, ListedNamesAreExact) {
    EXPECT_EQ(files.ListedName((dir_ / "plain.bak").string()), "plain.bak");
    EXPECT_FALSE(files.ListedName((dir_ / "PLAIN.BAK").string()).has_value());
}

}  // namespace
