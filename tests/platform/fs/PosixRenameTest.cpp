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

// What a name holds, in words: nothing, a folder and its mark, or a file's text.
std::string Holds(const std::string& path) {
    if (!stdfs::exists(path))
        return "";
    if (!stdfs::is_directory(path))
        return "file " + test_support::ReadFile(path);
    return stdfs::is_empty(path) ? "empty folder" : "folder " + test_support::ReadFile(path + "/m");
}

TEST(PosixRename, RenamesOnlyOntoAFreeNameWithOrWithoutTheKernelsFlag) {
    enum Kind { None, EmptyFolder, FullFolder, File };
    const struct {
        Kind source, target;
    } cases[] = {{FullFolder, None},
                 {FullFolder, EmptyFolder},
                 {FullFolder, FullFolder},
                 {FullFolder, File},
                 {File, None},
                 {File, File},
                 {File, EmptyFolder},
                 {None, None}};
    for (NoReplaceRename call : {KernelNoReplaceRename, RefusingNoReplace}) {
        for (const auto& c : cases) {
            test_support::TempFolder dir("rename");
            auto make = [&](Kind kind, const std::string& at, const std::string& mark) {
                if (kind == EmptyFolder)
                    dir.Folder(at);
                else if (kind == FullFolder)
                    dir.File(at + "/m", mark);
                else if (kind == File)
                    dir.File(at, mark);
            };
            make(c.source, "from", "moved");
            make(c.target, "to", "kept");
            const std::string from = Holds(dir.Path("from"));
            const std::string to = Holds(dir.Path("to"));
            SCOPED_TRACE(from + " onto " + to +
                         (call == RefusingNoReplace ? ", flag refused" : ""));
            const bool free = c.source != None && c.target == None;
            EXPECT_EQ(RenameWithoutReplacing(dir.Path("from"), dir.Path("to"), call) == 0, free);
            // Whatever was at the new name is there as it was.
            EXPECT_EQ(Holds(dir.Path("from")), free ? "" : from);
            EXPECT_EQ(Holds(dir.Path("to")), free ? from : to);
        }
    }
}

}  // namespace
