// The checks a request passes before anything is touched, and the paths the
// local server is given.

#include "restore/RestoreRequest.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <typeinfo>

#include "restore/RestoreErrors.h"
#include "tests/support/Files.h"

using restore::RestoreRequest;
using restore::ServerFile;

TEST(CheckRequest, RefusesEachBadRequestWithItsOwnKind) {
    test_support::TempFolder folder("request");
    const std::string backup = folder.File("b.fbk", "backup");
    const std::string target = folder.File("a.fdb", "old");
    const std::string dir = folder.Folder("sub");
    struct Case {
        RestoreRequest request;
        const std::type_info& refusal;
    } cases[] = {
        {{.backup = ServerFile{folder.Path("none.fbk")}, .targetPath = target},
         typeid(restore::EBackupNotFound)},
        {{.backup = ServerFile{dir}, .targetPath = target}, typeid(restore::EBackupIsFolder)},
        {{.backup = ServerFile{backup}, .targetPath = folder.Path("no/a.fdb")},
         typeid(restore::ETargetFolderMissing)},
        {{.backup = ServerFile{backup}, .targetPath = backup}, typeid(restore::ETargetIsBackup)},
        {{.backup = restore::ClientStream{.name = backup}, .targetPath = backup},
         typeid(restore::ETargetIsBackup)},
        {{.backup = ServerFile{backup}, .targetPath = dir}, typeid(restore::ETargetIsFolder)},
        {{.backup = ServerFile{backup}, .targetPath = target, .replaceExisting = false},
         typeid(restore::ETargetExists)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.refusal.name());
        try {
            restore::CheckRequest(c.request);
            ADD_FAILURE() << "not refused";
        } catch (const restore::ERequestRefused& refusal) {
            EXPECT_EQ(typeid(refusal), c.refusal);
        }
    }
    // A remote target and its backup are the server's paths: nothing to look at here.
    EXPECT_NO_THROW(restore::CheckRequest(
        {.backup = ServerFile{"none.fbk"}, .targetPath = "/no/a.fdb", .targetIsRemote = true}));
    EXPECT_NO_THROW(restore::CheckRequest({.backup = ServerFile{backup}, .targetPath = target}));
}

TEST(WithAbsolutePaths, OnlyTheLocalServersRelativePathsBecomeAbsolute) {
    char here[4096];
    ASSERT_NE(::getcwd(here, sizeof here), nullptr);
    const std::string cwd = here;
    const RestoreRequest local = restore::WithAbsolutePaths(
        {.backup = ServerFile{"BackUp/s.fbk"}, .targetPath = "Data/../Data/s1.fdb"});
    EXPECT_EQ(std::get<ServerFile>(local.backup).path, cwd + "/BackUp/s.fbk");
    EXPECT_EQ(local.targetPath, cwd + "/Data/s1.fdb");
    const RestoreRequest remote = restore::WithAbsolutePaths(
        {.backup = ServerFile{"s.fbk"}, .targetPath = "s1.fdb", .targetIsRemote = true});
    EXPECT_EQ(std::get<ServerFile>(remote.backup).path, "s.fbk");
    EXPECT_EQ(remote.targetPath, "s1.fdb");
}
