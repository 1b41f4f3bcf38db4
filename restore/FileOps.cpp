#include "restore/FileOps.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace restore {

namespace {

// Closes the descriptor on every path out of the probe.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

// Renames without ever replacing a file that appeared at `to` meanwhile.
bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // File systems without the flag: a hard link fails on an existing name
    // just the same, and the old name is dropped once the new one exists.
    if (::link(from.c_str(), to.c_str()) != 0)
        return false;
    if (::unlink(from.c_str()) != 0) {
        ::unlink(to.c_str());
        return false;
    }
    return true;
}

// Whether the kernel's lock table lists any lock on the file's inode. Used
// when the file cannot be opened for the probe (no read permission) or
// locked by it.
// Returns -1 when the table cannot be read.
int LockTableListsFile(const struct stat& st) {
    std::ifstream table("/proc/locks");
    if (!table)
        return -1;
    // The table names a file by device numbers (hex, two digits at least)
    // and inode: "fe:00:10952809".
    char wanted[64];
    std::snprintf(wanted, sizeof wanted, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream words(line);
        std::string word;
        while (words >> word)
            if (word == wanted)
                return 1;
    }
    return 0;
}

HoldProbe Found(bool held) {
    return {held ? HoldState::Held : HoldState::Free, {}};
}

HoldProbe NotExamined(int error) {
    return {HoldState::Unknown, std::strerror(error)};
}

}  // namespace

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DeleteFile(const std::string& path) {
    if (::unlink(path.c_str()) == 0)
        return true;
    return errno == ENOENT;
}

std::string AsideName(const std::string& path, int n, std::size_t nameLimit) {
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    std::string suffix = ".before-restore";
    if (n > 0)
        suffix += "." + std::to_string(n);
    std::string name = path.substr(nameStart);
    if (name.size() + suffix.size() > nameLimit) {
        std::size_t keep = nameLimit > suffix.size() ? nameLimit - suffix.size() : 0;
        // Never end inside a multi-byte character: back up over continuation bytes.
        while (keep > 0 && keep < name.size() &&
               (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
            --keep;
        name.resize(keep);
    }
    return path.substr(0, nameStart) + name + suffix;
}

std::string MoveAside(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    const std::size_t nameLimit = limit > 0 ? static_cast<std::size_t>(limit) : NAME_MAX;
    for (int n = 0; n < 1000; ++n) {
        std::string candidate = AsideName(path, n, nameLimit);
        if (RenameNoReplace(path, candidate))
            return candidate;
        if (errno != EEXIST)
            return {};
    }
    return {};
}

bool MoveBack(const std::string& from, const std::string& to) {
    return RenameNoReplace(from, to);
}

std::string FollowLinks(const std::string& path) {
    std::string current = path;
    // As many hops as the kernel itself allows before it calls it a loop.
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        std::string text(PATH_MAX, '\0');
        const ssize_t length = ::readlink(current.c_str(), text.data(), text.size());
        if (length <= 0)
            return current;
        text.resize(static_cast<std::size_t>(length));
        if (text[0] != '/') {
            const std::size_t slash = current.rfind('/');
            if (slash != std::string::npos)
                text.insert(0, current, 0, slash + 1);
        }
        current = text;
    }
    return current;
}

std::int64_t FileSize(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size)
                                                           : -1;
}

HoldProbe ProbeHold(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return errno == ENOENT ? HoldProbe{} : NotExamined(errno);
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() >= 0) {
        // Taking the lock ourselves is the only sure test; it is given back at once.
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
            ::flock(fd.get(), LOCK_UN);
            // Engines that lock byte ranges instead still show in the table.
            return Found(LockTableListsFile(st) == 1);
        }
        if (errno == EWOULDBLOCK)
            return Found(true);
        // The file system refused the test itself (a network one may).
        const int lockError = errno;
        return LockTableListsFile(st) == 1 ? Found(true) : NotExamined(lockError);
    }
    const int openError = errno;
    switch (LockTableListsFile(st)) {
        case 0:
            return Found(false);
        case 1:
            return Found(true);
        default:
            return NotExamined(openError);
    }
}

bool IsHeldOpen(const std::string& path) {
    return ProbeHold(path).state != HoldState::Free;
}

}  // namespace restore
