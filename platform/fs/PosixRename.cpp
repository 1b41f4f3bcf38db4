#include "platform/fs/PosixRename.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform::fs {

int KernelNoReplaceRename(const char* from, const char* to) {
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

namespace {

bool FlagRefused(int error) {
    return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP;
}

int ClaimedRename(const char* from, const char* to) {
    struct stat st {};
    if (::lstat(from, &st) != 0)
        return errno;
    if (S_ISDIR(st.st_mode)) {
        if (::mkdir(to, 0700) != 0)
            return errno;
        if (::rename(from, to) == 0)
            return 0;
        const int error = errno;
        ::rmdir(to);
        return error;
    }
    if (::link(from, to) != 0)
        return errno;
    if (::unlink(from) == 0)
        return 0;
    const int error = errno;
    ::unlink(to);
    return error;
}

}  // namespace

int RenameWithoutReplacing(const std::string& from, const std::string& to,
                           NoReplaceRename noReplace) {
    if (noReplace(from.c_str(), to.c_str()) == 0)
        return 0;
    const int error = errno;
    return FlagRefused(error) ? ClaimedRename(from.c_str(), to.c_str()) : error;
}

}  // namespace platform::fs
