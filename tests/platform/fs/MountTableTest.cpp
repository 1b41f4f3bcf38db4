#include "platform/fs/MountTable.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>

#include "platform/fs/FileSystem.h"
#include "tests/support/Files.h"

using namespace platform::fs;

namespace {

constexpr const char* kSample =
    "26 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
    "21 26 0:20 / /proc rw,relatime - proc proc rw\n"
    "24 23 0:22 / /dev/shm rw,relatime - tmpfs tmpfs rw\n"
    "40 26 0:40 / /mnt/my\\040data rw,relatime shared:5 - ext4 /dev/sdb1 rw\n"
    "41 26 0:41 / /mnt/share rw,relatime - cifs //srv/share rw\n"
    "42 26 0:42 / /mnt/nfs rw - nfs4 srv:/export/data rw\n"
    "43 26 0:43 / /media/cd ro - iso9660 /dev/sr0 ro\n"
    "44 26 0:44 / /scratch rw - tmpfs tmpfs rw\n"
    "45 26 0:45 / /opt/tools ro - tmpfs tools ro,size=4k\n"
    "garbage line\n";

TEST(MountTable, ParsesFieldsAndDecodesEscapes) {
    auto mounts = ParseMountInfo(kSample);
    ASSERT_EQ(mounts.size(), 9u);
    EXPECT_EQ(mounts[0].mountPoint, "/");
    EXPECT_EQ(mounts[0].fsType, "ext4");
    EXPECT_EQ(mounts[3].mountPoint, "/mnt/my data");
    EXPECT_EQ(mounts[3].source, "/dev/sdb1");
    EXPECT_EQ(mounts[3].device, "0:40");
    EXPECT_TRUE(mounts[6].readOnly);
    EXPECT_FALSE(mounts[0].readOnly);
}

TEST(MountTable, KernelFileSystemsAndReadOnlyScratchAreNotVolumes) {
    auto mounts = ParseMountInfo(kSample);
    std::vector<std::string> browsable;
    for (const auto& m : mounts)
        if (IsBrowsableMount(m))
            browsable.push_back(m.mountPoint);
    EXPECT_EQ(browsable, (std::vector<std::string>{"/", "/mnt/my data", "/mnt/share", "/mnt/nfs",
                                                   "/media/cd", "/scratch"}));
}

TEST(MountTable, MediaUnderRunAreVolumesButTheSystemsRuntimeMountsAreNot) {
    struct Case {
        const char* mountPoint;
        const char* fsType;
        bool browsable;
    };
    const Case cases[] = {
        {"/run/media/anna/STICK", "vfat", true},
        {"/run/media/anna/DISC", "iso9660", true},
        {"/run/media", "tmpfs", false},
        {"/run/mediaspare", "ext4", false},
        {"/run/user/1000", "tmpfs", false},
        {"/run/lock", "tmpfs", false},
        {"/run/credentials/systemd-journald.service", "ramfs", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsBrowsableMount({c.mountPoint, c.fsType, "/dev/sdc1", false, "8:33"}),
                  c.browsable)
            << c.mountPoint;
}

TEST(MountTable, KindsFollowTheFileSystem) {
    auto mounts = ParseMountInfo(kSample);
    EXPECT_EQ(DriveKindOf(mounts[0], false), dkFixed);
    EXPECT_EQ(DriveKindOf(mounts[3], false), dkFixed);
    EXPECT_EQ(DriveKindOf(mounts[3], true), dkRemovable);
    EXPECT_EQ(DriveKindOf(mounts[4], false), dkRemote);
    EXPECT_EQ(DriveKindOf(mounts[5], false), dkRemote);
    EXPECT_EQ(DriveKindOf(mounts[6], false), dkCdRom);
    EXPECT_EQ(DriveKindOf(mounts[7], false), dkRamDisk);
}

TEST(MountTable, AnExchangedMediumGetsAnotherSerial) {
    struct Case {
        const char* name;
        VolumeIdentity before, after;
        bool same;
    };
    const std::uint64_t device = 0x801;  // FAT and discs take the device as their id
    const Case cases[] = {
        {"another UUID",
         {"1A2B-3C4D", std::nullopt, device},
         {"5E6F-7081", std::nullopt, device},
         false},
        {"another disk sequence", {"", 7, device}, {"", 8, device}, false},
        {"the same medium", {"1A2B-3C4D", 7, device}, {"1A2B-3C4D", 7, device}, true},
        {"a share by its id", {"", std::nullopt, 41}, {"", std::nullopt, 42}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VolumeSerialOf(c.before) == VolumeSerialOf(c.after), c.same) << c.name;
        EXPECT_NE(VolumeSerialOf(c.before), 0xFFFFFFFFu) << c.name;
    }
}

TEST(MountTable, AMediumIsNamedByUdevsLinksAndTheKernelsDiskSequence) {
    test_support::TempFolder dir("disks");
    const std::string device = dir.File("dev/sdb1");
    dir.File("dev/sdc1");
    dir.Folder("by-label");
    std::filesystem::create_symlink("../dev/sdc1", dir.Path("by-label/OTHER"));
    std::filesystem::create_symlink("../dev/sdb1", dir.Path("by-label/MY\\x20STICK"));
    EXPECT_EQ(DiskLinkName(dir.Path("by-label"), device), "MY STICK");
    EXPECT_EQ(DiskLinkName(dir.Path("by-label"), dir.Path("dev/sdd1")), "");
    // A partition's sequence is its disk's.
    dir.File("block/sdb/diskseq", "12\n");
    dir.Folder("block/sdb/sdb1");
    dir.Folder("sys");
    std::filesystem::create_symlink("../block/sdb/sdb1", dir.Path("sys/8:17"));
    std::filesystem::create_symlink("../block/sdb", dir.Path("sys/8:16"));
    EXPECT_EQ(DiskSequence(dir.Path("sys"), "8:17"), 12u);
    EXPECT_EQ(DiskSequence(dir.Path("sys"), "8:16"), 12u);
    EXPECT_EQ(DiskSequence(dir.Path("sys"), "8:32"), std::nullopt);
}

TEST(MountTable, APathBelongsToTheDeepestMount) {
    auto mounts = ParseMountInfo(kSample);
    EXPECT_EQ(MountOf(mounts, "/mnt/share/dir")->mountPoint, "/mnt/share");
    EXPECT_EQ(MountOf(mounts, "/mnt/shared")->mountPoint, "/");
    EXPECT_EQ(MountOf(mounts, "/")->mountPoint, "/");
}

TEST(MountTable, SharesAreFoundByTheFolderTheyAreMountedIn) {
    auto mounts = ParseMountInfo(kSample);
    EXPECT_EQ(SharesMountedIn(mounts, "/mnt"), (std::vector<std::string>{"share", "nfs"}));
    EXPECT_EQ(SharesMountedIn(mounts, "/mnt/"), (std::vector<std::string>{"share", "nfs"}));
    EXPECT_TRUE(SharesMountedIn(mounts, "/media").empty());
    EXPECT_TRUE(SharesMountedIn(mounts, "/").empty());
}

TEST(MountTable, TheSystemTableHasTheRoot) {
    auto mounts = ReadMountTable();
    ASSERT_FALSE(mounts.empty());
    EXPECT_NE(MountOf(mounts, "/"), nullptr);
}

// Callers keep what they read and read again only when the watch wakes.
TEST(MountTable, AFreshWatchReportsNoChangeBeforeOneHappens) {
    MountWatch watch;
    ASSERT_TRUE(watch.IsOpen());
    EXPECT_FALSE(watch.WaitForChange(0));
}

TEST(MountTable, TheWatchWakesWhenAVolumeIsMounted) {
    auto dir =
        std::filesystem::temp_directory_path() / ("mountwatch-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    MountWatch watch;
    watch.WaitForChange(0);
    if (::mount("none", dir.c_str(), "tmpfs", 0, "size=64k") != 0) {
        std::filesystem::remove(dir);
        GTEST_SKIP() << "mounting is not permitted here";
    }
    const bool woke = watch.WaitForChange(2000);
    ::umount(dir.c_str());
    std::filesystem::remove(dir);
    EXPECT_TRUE(woke);
}

}  // namespace
