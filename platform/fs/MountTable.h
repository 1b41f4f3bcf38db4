#pragma once
// The mount table of this system: which volumes are mounted where, what
// kind each is, and a watch that wakes when a volume comes or goes.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::fs {

struct MountEntry {
    std::string mountPoint;
    std::string fsType;
    std::string source;
    bool readOnly = false;
    // The device number, "major:minor".
    std::string device;
};

// Parses the text of /proc/self/mountinfo; octal escapes (\040) are decoded.
std::vector<MountEntry> ParseMountInfo(std::string_view text);
// The table of this process now; empty when it cannot be read.
std::vector<MountEntry> ReadMountTable();

// Whether a mount is a volume a person browses (disks, media, shares, RAM
// file systems), as opposed to the kernel's own file systems.
bool IsBrowsableMount(const MountEntry& mount);
bool IsNetworkFsType(std::string_view fsType);
// The drive kind of a mount; `removable` tells whether its block device
// reports removable media.
int DriveKindOf(const MountEntry& mount, bool removable);
// Whether the block device behind a source ("/dev/sdb1") has removable
// media, as the kernel reports it.
bool IsRemovableDevice(const std::string& source);

// The name of the link in a folder of links to devices (udev's
// /dev/disk/by-label, /dev/disk/by-uuid) that leads to the device behind a
// source, with udev's \xNN escapes decoded; empty when none does.
std::string DiskLinkName(const std::string& folder, const std::string& source);
// The sequence number the kernel gives a disk and raises at each change of
// its medium, for a device "major:minor" (a partition's is its disk's);
// none on kernels without it. `sysDevBlock` is /sys/dev/block.
std::optional<std::uint64_t> DiskSequence(const std::string& sysDevBlock,
                                          const std::string& device);

// What tells one medium from another at the same mount point: the file
// system's UUID and the disk's sequence number. The file-system id statvfs
// gives is derived from the device on FAT, exFAT and disc file systems, so
// a stick or disc exchanged in the same device keeps it: it serves only
// where neither of the others is known (shares, RAM file systems).
struct VolumeIdentity {
    std::string uuid;
    std::optional<std::uint64_t> diskSequence;
    std::uint64_t fsid = 0;
};
// The 32-bit serial of a volume; never all ones, which stands for a
// volume that cannot be read.
std::uint32_t VolumeSerialOf(const VolumeIdentity& identity);

// The names of the entries of an absolute folder that are mount points of
// network shares: looking at one may wait for a server that no longer
// answers.
std::vector<std::string> SharesMountedIn(const std::vector<MountEntry>& mounts,
                                         std::string_view folder);

// The mount whose point is the longest folder prefix of an absolute path.
const MountEntry* MountOf(const std::vector<MountEntry>& mounts, std::string_view path);

// Wakes when the mount table changes. The kernel marks the table file
// with an exceptional condition on each change; one poll clears it.
class MountWatch {
  public:
    MountWatch();
    ~MountWatch();
    MountWatch(const MountWatch&) = delete;
    MountWatch& operator=(const MountWatch&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    // For an event loop's notifier on exceptional conditions.
    int Fd() const { return fd_; }
    // Waits at most `timeoutMs` for a change; true when one happened.
    bool WaitForChange(int timeoutMs);

  private:
    int fd_ = -1;
};

// The mounts of network shares, kept between calls and read again only
// after the mount table changed: folder reads and icon look-ups ask for
// them each time, and the table is read whole. For one thread.
class ShareMounts {
  public:
    const std::vector<MountEntry>& Current();

  private:
    // Opened before the first read, so no change after it goes unseen.
    MountWatch watch_;
    std::vector<MountEntry> shares_;
    bool read_ = false;
};

}  // namespace platform::fs
