#include "platform/fs/PathRules.h"

#include <gtest/gtest.h>

using platform::fs::PathStyle;
using platform::fs::RulesFor;

namespace {

const auto& posix = RulesFor(PathStyle::Posix);
const auto& windows = RulesFor(PathStyle::Windows);

TEST(PathRules, RootsKeepTheirSeparatorAndOtherFoldersDropIt) {
    EXPECT_EQ(posix.WithoutTrailingSeparator("/"), "/");
    EXPECT_EQ(posix.WithoutTrailingSeparator("/srv/BackUp/"), "/srv/BackUp");
    EXPECT_EQ(windows.WithoutTrailingSeparator("C:\\"), "C:\\");
    EXPECT_EQ(windows.WithoutTrailingSeparator("C:\\App\\BackUp\\"), "C:\\App\\BackUp");
    EXPECT_TRUE(posix.IsRoot("/"));
    EXPECT_FALSE(posix.IsRoot("/srv"));
    EXPECT_TRUE(windows.IsRoot("C:\\"));
    EXPECT_TRUE(windows.IsRoot("\\\\srv\\share\\"));
    EXPECT_FALSE(windows.IsRoot("C:\\Data"));
}

TEST(PathRules, JoiningPutsOneSeparator) {
    EXPECT_EQ(posix.Join("/", "a.bak"), "/a.bak");
    EXPECT_EQ(posix.Join("/srv/BackUp", "a.bak"), "/srv/BackUp/a.bak");
    EXPECT_EQ(windows.Join("C:\\", "a.bak"), "C:\\a.bak");
    EXPECT_EQ(windows.Join("C:\\App\\BackUp", "a.bak"), "C:\\App\\BackUp\\a.bak");
}

TEST(PathRules, ComponentsAndParents) {
    EXPECT_EQ(posix.LastComponent("/srv/BackUp/"), "BackUp");
    EXPECT_EQ(posix.LastComponent("/"), "");
    EXPECT_EQ(posix.ParentFolder("/srv/BackUp"), "/srv");
    EXPECT_EQ(posix.ParentFolder("/srv"), "/");
    EXPECT_EQ(posix.ParentFolder("/"), "");
    EXPECT_EQ(windows.ParentFolder("C:\\App"), "C:\\");
    EXPECT_EQ(windows.LastComponent("C:\\App\\x.bak"), "x.bak");
}

TEST(PathRules, AbsolutePathsResolveDotsButNeverClimbAboveTheRoot) {
    EXPECT_EQ(posix.MakeAbsolute("b/../c", "/a"), "/a/c");
    EXPECT_EQ(posix.MakeAbsolute("../../..", "/a"), "/");
    EXPECT_EQ(posix.MakeAbsolute("/x//y/./z/", "/a"), "/x/y/z/");
    EXPECT_EQ(posix.MakeAbsolute("//srv/share/dir", "/a"), "//srv/share/dir");
    EXPECT_EQ(posix.MakeAbsolute("srv:/export/dir", "/a"), "srv:/export/dir");
    EXPECT_EQ(windows.MakeAbsolute("x", "C:\\App"), "C:\\App\\x");
    EXPECT_EQ(windows.MakeAbsolute("\\Data", "D:\\App"), "D:\\Data");
    EXPECT_EQ(windows.MakeAbsolute("C:\\App\\BackUp\\..\\Data", "D:\\"), "C:\\App\\Data");
    EXPECT_EQ(windows.MakeAbsolute("\\\\srv\\share\\a\\..\\b", "C:\\"), "\\\\srv\\share\\b");
}

TEST(PathRules, NamesCompareByTheSystemsRule) {
    EXPECT_FALSE(posix.SameName("/srv/BackUp", "/srv/backup"));
    EXPECT_TRUE(windows.SameName("C:\\App\\BackUp", "c:\\app\\BACKUP"));
    EXPECT_TRUE(posix.IsInside("/srv/BackUp/x", "/srv/BackUp"));
    EXPECT_FALSE(posix.IsInside("/srv/BackUpOld", "/srv/BackUp"));
    EXPECT_TRUE(posix.IsInside("/srv", "/"));
}

TEST(PathRules, PatternsMatchAsFileSearchesDo) {
    EXPECT_TRUE(posix.Matches("README", "*.*"));
    EXPECT_TRUE(posix.Matches("db.bak", "*.bak"));
    EXPECT_FALSE(posix.Matches("db.BAK", "*.bak"));
    EXPECT_TRUE(windows.Matches("db.BAK", "*.bak"));
    EXPECT_TRUE(posix.Matches("a1.fdb", "a?.fdb"));
    EXPECT_FALSE(posix.Matches("db.bak", " *.bak"));
    EXPECT_FALSE(posix.Matches("db.bak", ""));
    EXPECT_TRUE(posix.Matches("x[1].bak", "x[1].*"));
    // Many stars against a long name must not take exponential time.
    EXPECT_FALSE(posix.Matches(std::string(200, 'a'), "*a*a*a*a*a*a*a*a*b"));
}

TEST(PathRules, NetworkFormsHaveADrivePortion) {
    EXPECT_EQ(windows.DrivePortion("\\\\srv\\share\\dir"), "\\\\srv\\share");
    EXPECT_EQ(windows.DrivePortion("C:\\dir"), "C:");
    EXPECT_EQ(posix.DrivePortion("//srv/share/dir"), "//srv/share");
    EXPECT_EQ(posix.DrivePortion("/srv/share"), "");
    EXPECT_TRUE(posix.IsNetworkPath("srv:/export"));
    EXPECT_FALSE(posix.IsNetworkPath("/a:/b"));
}

TEST(PathRules, FolderNamesWithSeparatorsAreRefused) {
    EXPECT_TRUE(posix.IsValidName("Old BackUp"));
    EXPECT_FALSE(posix.IsValidName("../etc"));
    EXPECT_FALSE(posix.IsValidName(".."));
    EXPECT_FALSE(posix.IsValidName(""));
    EXPECT_TRUE(posix.IsValidName("a:b"));
    EXPECT_FALSE(windows.IsValidName("a:b"));
}

}  // namespace
