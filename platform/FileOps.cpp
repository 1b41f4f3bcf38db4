#include "platform/FileOps.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace platform {

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
// when the file cannot be opened for the probe (no read permission).
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

std::string MoveAside(const std::string& path) {
    const std::string base = path + ".before-restore";
    for (int n = 0; n < 1000; ++n) {
        std::string candidate = n == 0 ? base : base + "." + std::to_string(n);
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

bool IsHeldOpen(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return errno != ENOENT;
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() >= 0) {
        // Taking the lock ourselves is the only sure test; it is given back at once.
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
            return true;
        ::flock(fd.get(), LOCK_UN);
        // Engines that lock byte ranges instead still show in the table.
        return LockTableListsFile(st) == 1;
    }
    return LockTableListsFile(st) != 0;
}

}  // namespace platform
