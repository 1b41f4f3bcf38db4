#include "platform/fs/MountTable.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "platform/fs/FileSystem.h"

namespace platform::fs {

namespace {

std::string Unescape(std::string_view field) {
    auto octal = [](char c) { return c >= '0' && c <= '7'; };
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && octal(field[i + 1]) &&
            octal(field[i + 2]) && octal(field[i + 3])) {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                     (field[i + 3] - '0'));
            i += 3;
            continue;
        }
        out += field[i];
    }
    return out;
}

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') ++i;
        std::size_t j = i;
        while (j < line.size() && line[j] != ' ') ++j;
        if (j > i)
            out.push_back(line.substr(i, j - i));
        i = j;
    }
    return out;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool UnderFolder(std::string_view path, std::string_view folder) {
    return path == folder ||
           (StartsWith(path, folder) && path.size() > folder.size() && path[folder.size()] == '/');
}

std::string ReadSmallFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
    std::vector<MountEntry> mounts;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        auto fields = Fields(text.substr(pos, end - pos));
        pos = end + 1;
        // id parent major:minor root mount-point options [optional...] - type source super-options
        std::size_t dash = 0;
        while (dash < fields.size() && fields[dash] != "-") ++dash;
        if (fields.size() < 5 || dash + 2 >= fields.size())
            continue;
        MountEntry m;
        m.mountPoint = Unescape(fields[4]);
        m.fsType = Unescape(fields[dash + 1]);
        m.source = Unescape(fields[dash + 2]);
        m.device = std::string(fields[2]);
        std::string_view options = fields[5 < fields.size() ? 5 : 4];
        m.readOnly = options == "ro" || StartsWith(options, "ro,");
        mounts.push_back(std::move(m));
    }
    return mounts;
}

std::vector<MountEntry> ReadMountTable() {
    return ParseMountInfo(ReadSmallFile("/proc/self/mountinfo"));
}

bool IsNetworkFsType(std::string_view fsType) {
    static constexpr std::array<std::string_view, 13> kNetwork = {
        "nfs",  "nfs4",      "cifs",           "smb3", "smbfs", "fuse.sshfs", "9p",
        "ceph", "glusterfs", "fuse.glusterfs", "afs",  "davfs", "fuse.davfs2"};
    return std::find(kNetwork.begin(), kNetwork.end(), fsType) != kNetwork.end();
}

bool IsBrowsableMount(const MountEntry& m) {
    if (m.mountPoint == "/")
        return true;
    static constexpr std::array kKernel = {
        "proc",       "sysfs",   "devtmpfs",  "devpts",          "cgroup",      "cgroup2",
        "mqueue",     "debugfs", "tracefs",   "securityfs",      "pstore",      "bpf",
        "configfs",   "fusectl", "hugetlbfs", "autofs",          "binfmt_misc", "efivarfs",
        "rpc_pipefs", "nsfs",    "selinuxfs", "fuse.gvfsd-fuse", "fuse.portal", "squashfs"};
    for (const char* k : kKernel)
        if (m.fsType == k)
            return false;
    // The system's own scratch areas are not volumes anyone browses; but
    // removable media are mounted under /run/media/<user> on several
    // distributions.
    const bool media = UnderFolder(m.mountPoint, "/run/media") && m.mountPoint != "/run/media";
    for (std::string_view f : {"/proc", "/sys", "/dev", "/run", "/boot/efi"})
        if (UnderFolder(m.mountPoint, f) && !media)
            return false;
    // A read-only RAM file system holds nothing anyone put there.
    if ((m.fsType == "tmpfs" || m.fsType == "ramfs") && m.readOnly)
        return false;
    return true;
}

bool IsRemovableDevice(const std::string& source) {
    if (!StartsWith(source, "/dev/"))
        return false;
    char resolved[4096];
    std::string device = source;
    if (realpath(source.c_str(), resolved))
        device = resolved;
    std::string name = device.substr(device.rfind('/') + 1);
    for (const std::string& candidate : {"/sys/class/block/" + name + "/removable",
                                         "/sys/class/block/" + name + "/../removable"}) {
        std::string flag = ReadSmallFile(candidate);
        if (!flag.empty())
            return flag[0] == '1';
    }
    return false;
}

std::string DiskLinkName(const std::string& folder, const std::string& source) {
    char wanted[4096];
    if (!realpath(source.c_str(), wanted))
        return {};
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir)
        return {};
    while (dirent* e = ::readdir(dir.get())) {
        if (e->d_name[0] == '.')
            continue;
        const std::string link = folder + "/" + e->d_name;
        char target[4096];
        if (!realpath(link.c_str(), target) || std::strcmp(target, wanted) != 0)
            continue;
        // udev writes blanks and other unsafe characters as \xNN.
        const std::string name = e->d_name;
        std::string decoded;
        for (std::size_t i = 0; i < name.size(); ++i) {
            if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' &&
                std::isxdigit(static_cast<unsigned char>(name[i + 2])) &&
                std::isxdigit(static_cast<unsigned char>(name[i + 3]))) {
                decoded += static_cast<char>(std::stoi(name.substr(i + 2, 2), nullptr, 16));
                i += 3;
            } else {
                decoded += name[i];
            }
        }
        return decoded;
    }
    return {};
}

std::optional<std::uint64_t> DiskSequence(const std::string& sysDevBlock,
                                          const std::string& device) {
    const std::string folder = sysDevBlock + "/" + device;
    for (const char* file : {"/diskseq", "/../diskseq"}) {
        const std::string text = ReadSmallFile(folder + file);
        if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0])))
            return std::stoull(text);
    }
    return std::nullopt;
}

std::uint32_t VolumeSerialOf(const VolumeIdentity& identity) {
    std::uint32_t serial = 0;
    if (identity.uuid.empty() && !identity.diskSequence) {
        serial = static_cast<std::uint32_t>(identity.fsid ^ (identity.fsid >> 32));
    } else {
        // FNV-1a over the UUID and the sequence number.
        serial = 2166136261u;
        const std::string key =
            identity.uuid + "/" +
            (identity.diskSequence ? std::to_string(*identity.diskSequence) : std::string());
        for (unsigned char c : key) serial = (serial ^ c) * 16777619u;
    }
    return serial == 0xFFFFFFFFu ? 0xFFFFFFFEu : serial;
}

int DriveKindOf(const MountEntry& m, bool removable) {
    if (m.mountPoint == "/")
        return dkFixed;
    if (IsNetworkFsType(m.fsType))
        return dkRemote;
    if (m.fsType == "iso9660" || m.fsType == "udf")
        return dkCdRom;
    if (m.fsType == "tmpfs" || m.fsType == "ramfs")
        return dkRamDisk;
    if (removable)
        return dkRemovable;
    if (StartsWith(m.source, "/dev/") || m.fsType == "overlay" || m.fsType == "zfs" ||
        m.fsType == "btrfs")
        return dkFixed;
    return dkUnknown;
}

std::vector<std::string> SharesMountedIn(const std::vector<MountEntry>& mounts,
                                         std::string_view folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.remove_suffix(1);
    std::vector<std::string> names;
    for (const auto& m : mounts) {
        const auto slash = m.mountPoint.rfind('/');
        if (!IsNetworkFsType(m.fsType) || slash == std::string::npos ||
            slash + 1 == m.mountPoint.size())
            continue;
        const std::string_view parent =
            slash == 0 ? std::string_view("/") : std::string_view(m.mountPoint).substr(0, slash);
        if (parent == folder)
            names.push_back(m.mountPoint.substr(slash + 1));
    }
    return names;
}

const MountEntry* MountOf(const std::vector<MountEntry>& mounts, std::string_view path) {
    const MountEntry* best = nullptr;
    for (const auto& m : mounts) {
        bool inside = m.mountPoint == "/" ? StartsWith(path, "/") : UnderFolder(path, m.mountPoint);
        // Later entries are mounted over earlier ones at the same point.
        if (inside && (!best || m.mountPoint.size() >= best->mountPoint.size()))
            best = &m;
    }
    return best;
}

MountWatch::MountWatch() {
    fd_ = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
}

MountWatch::~MountWatch() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool MountWatch::WaitForChange(int timeoutMs) {
    if (fd_ < 0)
        return false;
    pollfd p{fd_, POLLPRI, 0};
    int n = ::poll(&p, 1, timeoutMs);
    return n > 0 && (p.revents & (POLLPRI | POLLERR)) != 0;
}

const std::vector<MountEntry>& ShareMounts::Current() {
    if (!read_ || !watch_.IsOpen() || watch_.WaitForChange(0)) {
        shares_.clear();
        for (MountEntry& m : ReadMountTable())
            if (IsNetworkFsType(m.fsType))
                shares_.push_back(std::move(m));
        read_ = true;
    }
    return shares_;
}

}  // namespace platform::fs
