#pragma once
// The mount table of this system: which volumes are mounted where, what
// kind each is, and a watch that wakes when a volume comes or goes.

#include <string>
#include <string_view>
#include <vector>

namespace platform::fs {

struct MountEntry {
    std::string mountPoint;
    std::string fsType;
    std::string source;
    bool readOnly = false;
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
