#include <gtest/gtest.h>

#include "ControlsTestSupport.h"
#include "fakes/FakeFileSystem.h"

using namespace platform::fs;

namespace {

// A machine with drive letters: floppy A, system C, data D, a drive without
// root directory E, a RAM disk R, a network drive N and a CD-ROM Z.
class DrivesAndPaths : public ControlsTest {
  protected:
    DrivesAndPaths() : use_(fs) {
        fs.AddDrive("A:\\", dkRemovable);
        fs.SetVolume("A:\\", false);
        fs.AddDrive("C:\\", dkFixed, "SYSTEM", 0x1234);
        fs.AddDrive("D:\\", dkFixed, "DATA", 0xD);
        fs.AddDrive("E:\\", dkNoRootDir);
        fs.AddDrive("N:\\", dkRemote, "share", 0x99, "\\\\SRV\\SHARE");
        fs.AddDrive("R:\\", dkRamDisk, "", 0x7);
        fs.AddDrive("Z:\\", dkCdRom);
    }

    FakeFileSystem fs{PathStyle::Windows};

  private:
    ScopedFileSystem use_;
};

std::uint32_t Letters(std::initializer_list<char> letters) {
    std::uint32_t mask = 0;
    for (char c : letters) mask |= 1u << (c - 'A');
    return mask;
}

TEST_F(DrivesAndPaths, TheDefaultDriveTypesKeepEveryDrive) {
    EXPECT_EQ(DriveMask(AvailableDrives(kDefaultDriveTypes)),
              Letters({'A', 'C', 'D', 'E', 'N', 'R', 'Z'}));
}

TEST_F(DrivesAndPaths, LeavingOutAKindDropsItsDrivesButNeverThoseWithoutRoot) {
    TDriveTypes noFixed = kDefaultDriveTypes & ~DriveTypeBit(dtFixed);
    EXPECT_EQ(DriveMask(AvailableDrives(noFixed)), Letters({'A', 'E', 'N', 'R', 'Z'}));
    EXPECT_EQ(DriveMask(AvailableDrives(0)), Letters({'E'}));
    EXPECT_EQ(DriveMask(AvailableDrives(DriveTypeBit(dtRAM))), Letters({'E', 'R'}));
}

TEST_F(DrivesAndPaths, CaptionsOfLocalDrives) {
    EXPECT_EQ(VolumeCaption("D:\\", nvfExplorer).caption, "Data (D:)");
    EXPECT_EQ(VolumeCaption("d:\\", nvfExplorer).serial, 0xD);
    EXPECT_EQ(VolumeCaption("R:\\", nvfExplorer).caption, " (R:)");
    TVolumeCaption floppy = VolumeCaption("A:\\", nvfExplorer);
    EXPECT_EQ(floppy.caption, "(A:)");
    EXPECT_EQ(floppy.serial, kUnreadableSerial);
}

TEST_F(DrivesAndPaths, CaptionsOfNetworkDrivesFollowTheFormat) {
    EXPECT_EQ(UncRoot("N:\\"), "\\\\Srv\\Share");
    EXPECT_EQ(VolumeCaption("N:\\", nvfExplorer).caption, "Share on 'Srv' (N:)");
    EXPECT_EQ(VolumeCaption("N:\\", nvfUNC).caption, "\\\\Srv\\Share (N:)");
    EXPECT_EQ(VolumeCaption("N:\\", nvfVolumeOnly).caption, "Share (N:)");
}

TEST_F(DrivesAndPaths, NetworkPathsLandOnTheDriveThatMapsTheShare) {
    EXPECT_EQ(MapUncPath("C:\\Data"), "C:\\Data");
    EXPECT_EQ(MapUncPath("\\\\srv\\share\\dir"), "N:\\dir");
    EXPECT_EQ(MapUncPath("\\\\srv\\share\\"), "N:\\");
    EXPECT_EQ(MapUncPath("\\\\srv\\share"), "");
    EXPECT_EQ(MapUncPath("\\\\other\\share\\dir"), "");
}

TEST_F(DrivesAndPaths, AShareMappedOnlyOnTheFirstDriveIsNotFound) {
    fs.RemoveDrive("N:\\");
    fs.RemoveDrive("A:\\");
    fs.AddDrive("A:\\", dkRemote, "share", 1, "\\\\SRV\\SHARE");
    EXPECT_EQ(MapUncPath("\\\\srv\\share\\dir"), "");
}

TEST_F(DrivesAndPaths, LongPathsLoseTheirLeadingFoldersFirst) {
    const std::string path = "C:\\Program Files\\App\\BackUp";
    auto width = [](const std::string& text) { return static_cast<int>(text.size()); };
    EXPECT_EQ(ShortenPathForLabel(path, width, 100), path);
    EXPECT_EQ(ShortenPathForLabel(path, width, 26), "C:\\...\\App\\BackUp");
    EXPECT_EQ(ShortenPathForLabel(path, width, 16), "C:\\...\\BackUp");
    EXPECT_EQ(ShortenPathForLabel(path, width, 12), "...\\BackUp");
    EXPECT_EQ(ShortenPathForLabel(path, width, 8), "BackUp");
    EXPECT_EQ(ShortenPathForLabel(path, width, 2), "BackUp");
}

// This system: mount points instead of letters, "/" paths, shares in
// their two network forms.
class MountedVolumes : public ControlsTest {
  protected:
    MountedVolumes() : use_(fs) {
        fs.AddDrive("/", dkFixed, "", 1);
        fs.AddDrive("/mnt/data", dkFixed, "DATA", 2);
        fs.AddDrive("/mnt/share", dkRemote, "share", 3, "//SRV/SHARE");
        fs.AddDrive("/mnt/nfs", dkRemote, "export", 4, "srv:/Export");
        fs.AddDrive("/media/usb", dkRemovable);
        fs.SetVolume("/media/usb", false);
    }

    FakeFileSystem fs{PathStyle::Posix};

  private:
    ScopedFileSystem use_;
};

TEST_F(MountedVolumes, CaptionsNameTheMountPoint) {
    EXPECT_EQ(VolumeCaption("/mnt/data", nvfExplorer).caption, "Data (/mnt/data)");
    EXPECT_EQ(VolumeCaption("/media/usb/", nvfExplorer).caption, "(/media/usb)");
    EXPECT_EQ(VolumeCaption("/", nvfExplorer).caption, " (/)");
    EXPECT_EQ(VolumeCaption("/mnt/share", nvfExplorer).caption, "Share on 'Srv' (/mnt/share)");
    EXPECT_EQ(VolumeCaption("/mnt/nfs", nvfUNC).caption, "srv:/Export (/mnt/nfs)");
}

TEST_F(MountedVolumes, SharesInEitherFormMapOntoTheirMountPoint) {
    EXPECT_EQ(MapUncPath("/srv/data"), "/srv/data");
    EXPECT_EQ(MapUncPath("//srv/share/dir"), "/mnt/share/dir");
    EXPECT_EQ(MapUncPath("srv:/Export/dir"), "/mnt/nfs/dir");
    EXPECT_EQ(MapUncPath("srv:/export/dir"), "");
    EXPECT_EQ(MapUncPath("//srv/share"), "");
}

TEST_F(MountedVolumes, LongPathsLoseTheirLeadingFoldersFirst) {
    const std::string path = "/opt/Programs/App/BackUp";
    auto width = [](const std::string& text) { return static_cast<int>(text.size()); };
    EXPECT_EQ(ShortenPathForLabel(path, width, 24), path);
    EXPECT_EQ(ShortenPathForLabel(path, width, 20), "/.../App/BackUp");
    EXPECT_EQ(ShortenPathForLabel(path, width, 14), "/.../BackUp");
    EXPECT_EQ(ShortenPathForLabel(path, width, 10), ".../BackUp");
    EXPECT_EQ(ShortenPathForLabel(path, width, 8), "BackUp");
}

// The desktop's own shell, as the controls use it outside the tests.
TEST(DesktopShell, ADriveIsNamedByItsFolder) {
    EXPECT_EQ(Shell().DisplayName("/media/usb/"), "usb");
    EXPECT_EQ(Shell().DisplayName("/media/usb"), "usb");
    EXPECT_EQ(Shell().DisplayName("/"), "/");
}

}  // namespace
