#include "platform/fs/PosixRename.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "tests/support/Files.h"

using namespace platform::fs;
namespace stdfs = std::filesystem;

namespace {

// A file system without the kernel's no-replace flag, as NFS is.
int RefusingNoReplace(const char*, const char*) {
    errno = EINVAL;
    return -1;
}

TEST(PosixRename, RenamesOnlyOntoAFreeNameWithOrWithoutTheKernelsFlag) {
    enum Kind { None, EmptyFolder, FullFolder, File };
    struct Case {
        const char* name;
        Kind source;
        Kind target;
    };
    const Case cases[] = {
        {"a folder to a free name", FullFolder, None},
        {"a folder onto an empty folder", FullFolder, EmptyFolder},
        {"a folder onto a folder with files", FullFolder, FullFolder},
        {"a folder onto a file", FullFolder, File},
        {"a file to a free name", File, None},
        {"a file onto a file", File, File},
        {"a file onto an empty folder", File, EmptyFolder},
        {"a missing entry", None, None},
    };
    for (NoReplaceRename call : {KernelNoReplaceRename, RefusingNoReplace}) {
        for (const Case& c : cases) {
            test_support::TempFolder dir("rename");
            auto make = [&](Kind kind, const std::string& at, const std::string& mark) {
                if (kind == EmptyFolder)
                    dir.Folder(at);
                else if (kind == FullFolder)
                    dir.File(at + "/mark", mark);
                else if (kind == File)
                    dir.File(at, mark);
            };
            make(c.source, "from", "moved");
            make(c.target, "to", "kept");
            const std::string what =
                std::string(c.name) + (call == RefusingNoReplace ? ", flag refused" : "");
            const int result = RenameWithoutReplacing(dir.Path("from"), dir.Path("to"), call);
            if (c.source != None && c.target == None) {
                EXPECT_EQ(result, 0) << what;
                EXPECT_FALSE(stdfs::exists(dir.Path("from"))) << what;
                const std::string mark = c.source == File ? "to" : "to/mark";
                EXPECT_EQ(test_support::ReadFile(dir.Path(mark)), "moved") << what;
            } else {
                EXPECT_NE(result, 0) << what;
                EXPECT_EQ(stdfs::exists(dir.Path("from")), c.source != None) << what;
                // Whatever was at the new name is there as it was.
                const std::string to = dir.Path("to");
                const bool kept = c.target == None          ? !stdfs::exists(to)
                                  : c.target == EmptyFolder ? stdfs::is_empty(to)
                                  : c.target == File
                                      ? test_support::ReadFile(to) == "kept"
                                      : test_support::ReadFile(to + "/mark") == "kept";
                EXPECT_TRUE(kept) << what;
            }
        }
    }
}

}  // namespace
