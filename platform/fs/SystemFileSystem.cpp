// The file system of this machine, on the POSIX calls and the kernel's
// mount table.

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "platform/fs/FileSystem.h"
#include "platform/fs/MountTable.h"
#include "platform/fs/PosixRename.h"

namespace platform::fs {

namespace {

using namespace std::chrono_literals;

// How long the user-interface thread waits for a volume before taking it
// as unreadable.
constexpr auto kVolumeTimeout = 750ms;

// The volumes being probed. A probe left hanging may finish while the
// program ends, after the statics are gone: these two are never destroyed.
struct PendingProbes {
    std::mutex mutex;
    std::set<std::string> keys;
};
PendingProbes& Pending() {
    static auto* pending = new PendingProbes;
    return *pending;
}

// Runs `work` on a thread of its own and waits at most `timeout` for it. A
// volume that does not answer (a dead share, a drive spinning up) leaves
// the thread behind, not the caller; while it hangs, later probes of the
// same key fail at once instead of piling up more threads.
template <class T, class Work>
std::optional<T> Probe(const std::string& key, std::chrono::milliseconds timeout, Work work) {
    struct State {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        std::optional<T> result;
    };
    {
        std::lock_guard lock(Pending().mutex);
        if (!Pending().keys.insert(key).second)
            return std::nullopt;
    }
    auto state = std::make_shared<State>();
    try {
        std::thread([state, key, work]() {
            std::optional<T> result = work();
            // The key is free again before the caller hears of the result,
            // so that its next probe of the same volume is not refused.
            {
                std::lock_guard lock(Pending().mutex);
                Pending().keys.erase(key);
            }
            {
                std::lock_guard lock(state->mutex);
                state->result = std::move(result);
                state->finished = true;
            }
            state->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        std::lock_guard lock(Pending().mutex);
        Pending().keys.erase(key);
        return std::nullopt;
    }
    std::unique_lock lock(state->mutex);
    if (!state->done.wait_for(lock, timeout, [&] { return state->finished; }))
        return std::nullopt;
    return state->result;
}

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};

std::string LabelOfShare(const std::string& source) {
    std::string s = source;
    std::replace(s.begin(), s.end(), '\\', '/');
    while (!s.empty() && s.back() == '/') s.pop_back();
    auto slash = s.rfind('/');
    auto colon = s.find(':');
    if (slash == std::string::npos)
        return colon == std::string::npos ? s : s.substr(colon + 1);
    return s.substr(slash + 1);
}

bool InGroup(gid_t gid) {
    if (gid == ::getegid())
        return true;
    int n = ::getgroups(0, nullptr);
    if (n <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(n));
    n = ::getgroups(n, groups.data());
    return std::find(groups.begin(), groups.begin() + std::max(n, 0), gid) !=
           groups.begin() + std::max(n, 0);
}

// What a search lets through.
struct TFilter {
    std::string pattern;
    std::uint32_t search;
    bool foldersOnly;
    uid_t euid;
};

// The attributes a stat gives: folders; every regular file carries the
// archive bit, as nearly every file on a disk with drive letters does, there
// being no backup flag here; anything neither a folder nor a regular file
// (pipes, sockets, devices) counts as a system file; read-only when the
// searching account may not write it (never so for root).
std::uint32_t StatAttributes(const struct stat& st, uid_t euid) {
    std::uint32_t attributes = 0;
    if (S_ISDIR(st.st_mode))
        attributes |= faDirectory;
    else if (S_ISREG(st.st_mode))
        attributes |= faArchive;
    else
        attributes |= faSysFile;
    if (euid != 0) {
        mode_t bit = st.st_uid == euid ? S_IWUSR : InGroup(st.st_gid) ? S_IWGRP : S_IWOTH;
        if (!(st.st_mode & bit))
            attributes |= faReadOnly;
    }
    return attributes;
}

// An entry of the open folder `fd` with the attributes this system gives
// it; none when the filter leaves it out or it cannot be looked at.
std::optional<DirEntry> EntryOf(int fd, const dirent& e, const TFilter& filter,
                                const std::vector<std::string>& shares) {
    const PathRules& rules = RulesFor(PathStyle::Posix);
    DirEntry entry;
    entry.name = e.d_name;
    if (!rules.Matches(entry.name, filter.pattern))
        return std::nullopt;
    // Dot-files are this system's hidden files.
    if (entry.name[0] == '.')
        entry.attributes |= faHidden;
    // Leave out what the filter drops anyway before paying for a stat.
    if (!PassesSearchAttributes(entry.attributes, filter.search))
        return std::nullopt;
    if (e.d_type == DT_DIR && !(filter.search & faDirectory))
        return std::nullopt;
    if (filter.foldersOnly && e.d_type != DT_DIR && e.d_type != DT_LNK && e.d_type != DT_UNKNOWN)
        return std::nullopt;
    if (std::find(shares.begin(), shares.end(), entry.name) != shares.end()) {
        entry.attributes |= faDirectory;
        return PassesSearchAttributes(entry.attributes, filter.search) ? std::optional(entry)
                                                                       : std::nullopt;
    }
    struct stat st {};
    if (::fstatat(fd, e.d_name, &st, 0) != 0 &&
        ::fstatat(fd, e.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    entry.attributes |= StatAttributes(st, filter.euid);
    if (!PassesSearchAttributes(entry.attributes, filter.search))
        return std::nullopt;
    if (filter.foldersOnly && !entry.IsDirectory())
        return std::nullopt;
    entry.size = static_cast<std::int64_t>(st.st_size);
    entry.time = static_cast<std::int64_t>(st.st_mtime);
    return entry;
}

class SystemFileSystem final : public FileSystem {
  public:
    const PathRules& Rules() const override { return RulesFor(PathStyle::Posix); }

    bool FindEntries(const std::string& folder, const std::string& pattern, std::uint32_t search,
                     const std::function<bool(const DirEntry&)>& onEntry) override {
        return Search(folder, pattern, search, false, onEntry);
    }

    bool FindFolders(const std::string& folder, std::uint32_t search,
                     const std::function<bool(const DirEntry&)>& onEntry) override {
        return Search(folder, "*", search | faDirectory, true, onEntry);
    }

    bool Search(const std::string& folder, const std::string& pattern, std::uint32_t search,
                bool foldersOnly, const std::function<bool(const DirEntry&)>& onEntry) {
        int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return false;
        std::unique_ptr<DIR, DirCloser> dir(::fdopendir(fd));
        if (!dir) {
            ::close(fd);
            return false;
        }
        // A share mounted here is a folder; a stat of it could wait for a
        // server that is gone, on the user-interface thread.
        const std::vector<std::string> shares = SharesMountedIn(
            shareMounts_.Current(), Rules().MakeAbsolute(folder, CurrentDirectory()));
        const TFilter filter{pattern, search, foldersOnly, ::geteuid()};
        while (dirent* e = ::readdir(dir.get())) {
            std::optional<DirEntry> entry = EntryOf(fd, *e, filter, shares);
            if (entry && !onEntry(*entry))
                break;
        }
        return true;
    }

    std::string CurrentDirectory() override {
        std::string buffer(4096, '\0');
        while (!::getcwd(buffer.data(), buffer.size())) {
            if (errno != ERANGE)
                return {};
            buffer.resize(buffer.size() * 2);
        }
        buffer.resize(std::strlen(buffer.c_str()));
        return buffer;
    }

    bool SetCurrentDirectory(const std::string& path, std::string* error) override {
        if (::chdir(path.c_str()) == 0)
            return true;
        if (error)
            *error = std::strerror(errno);
        return false;
    }

    bool DirectoryExists(const std::string& path) override {
        struct stat st {};
        return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }

    bool FileExists(const std::string& path) override {
        struct stat st {};
        return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
    }

    std::optional<std::string> ListedName(const std::string& path) override {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0)
            return std::nullopt;
        // Names are exact here: the folder lists what was asked for.
        std::string name = Rules().LastComponent(path);
        return name.empty() ? path : name;
    }

    bool Rename(const std::string& from, const std::string& to, std::string* error) override {
        // Never replace an existing entry, as a move of a folder must not.
        const int failure = RenameWithoutReplacing(from, to);
        if (failure != 0 && error)
            *error = std::strerror(failure);
        return failure == 0;
    }

    std::vector<Drive> Drives() override {
        auto mounts = ReadMountTable();
        std::vector<Drive> drives;
        for (std::size_t i = 0; i < mounts.size(); ++i) {
            const MountEntry& m = mounts[i];
            if (!IsBrowsableMount(m))
                continue;
            bool shadowed = false;
            for (std::size_t j = i + 1; j < mounts.size(); ++j)
                if (mounts[j].mountPoint == m.mountPoint)
                    shadowed = true;
            if (shadowed)
                continue;
            // Single files mounted into place are not volumes; a share is
            // taken on trust, as asking it could hang.
            if (!IsNetworkFsType(m.fsType) && m.mountPoint != "/") {
                auto isDir =
                    Probe<bool>("dir:" + m.mountPoint, kVolumeTimeout, [mp = m.mountPoint] {
                        struct stat st {};
                        return std::optional<bool>(::stat(mp.c_str(), &st) == 0 &&
                                                   S_ISDIR(st.st_mode));
                    });
                if (isDir && !*isDir)
                    continue;
            }
            drives.push_back({m.mountPoint, DriveKindOf(m, IsRemovableDevice(m.source))});
        }
        std::sort(drives.begin(), drives.end(),
                  [](const Drive& a, const Drive& b) { return a.root < b.root; });
        return drives;
    }

    std::optional<VolumeInfo> ReadVolume(const std::string& root, bool* timedOut) override {
        auto mounts = ReadMountTable();
        const MountEntry* m = MountOf(mounts, root);
        // The probe answers -1 for a volume that cannot be read, and nothing
        // when the volume kept it waiting.
        // What names the medium comes from udev and the kernel, without a
        // look at the medium itself.
        VolumeIdentity identity;
        const bool device = m && m->source.rfind("/dev/", 0) == 0;
        if (device) {
            identity.uuid = DiskLinkName("/dev/disk/by-uuid", m->source);
            identity.diskSequence = DiskSequence("/sys/dev/block", m->device);
        }
        auto fsid = Probe<std::int64_t>("vol:" + root, kVolumeTimeout, [root, identity] {
            struct statvfs vfs {};
            if (::statvfs(root.c_str(), &vfs) != 0)
                return std::optional<std::int64_t>(-1);
            VolumeIdentity read = identity;
            read.fsid = static_cast<std::uint64_t>(vfs.f_fsid);
            return std::optional<std::int64_t>(VolumeSerialOf(read));
        });
        if (timedOut)
            *timedOut = !fsid;
        if (!fsid || *fsid < 0)
            return std::nullopt;
        VolumeInfo info;
        info.serial = static_cast<std::uint32_t>(*fsid);
        if (m && IsNetworkFsType(m->fsType))
            info.label = LabelOfShare(m->source);
        else if (device)
            info.label = DiskLinkName("/dev/disk/by-label", m->source);
        return info;
    }

    std::string UniversalName(const std::string& path) override {
        auto mounts = ReadMountTable();
        const MountEntry* m = MountOf(mounts, path);
        if (!m || !IsNetworkFsType(m->fsType))
            return path;
        std::string source = m->source;
        if (m->fsType.rfind("nfs", 0) != 0)
            std::replace(source.begin(), source.end(), '\\', '/');
        while (source.size() > 1 && source.back() == '/') source.pop_back();
        std::string rest = m->mountPoint == "/" ? path : path.substr(m->mountPoint.size());
        if (!rest.empty() && rest[0] != '/')
            rest = "/" + rest;
        return source + rest;
    }

  private:
    ShareMounts shareMounts_;
};

}  // namespace

FileSystem& SystemFiles() {
    static SystemFileSystem files;
    return files;
}

}  // namespace platform::fs
