#pragma once
// The file system and its volumes as the browsing controls see them: file
// searches with attribute filters, the process's current directory, the
// mounted volumes with their kinds, labels and serial numbers, and the
// universal names of network shares. The process uses one instance; tests
// install a fake that behaves like a system with drive letters.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/Seam.h"
#include "platform/fs/PathRules.h"

namespace platform::fs {

// Entry attribute bits, as file searches report and filter them.
enum Attribute : std::uint32_t {
    faReadOnly = 0x01,
    faHidden = 0x02,
    faSysFile = 0x04,
    faVolumeID = 0x08,
    faDirectory = 0x10,
    faArchive = 0x20,
};

struct DirEntry {
    std::string name;
    std::uint32_t attributes = 0;
    std::int64_t size = 0;
    // Modification time, seconds since 1970 (UTC).
    std::int64_t time = 0;

    bool IsDirectory() const { return (attributes & faDirectory) != 0; }
};

// An entry found by a search passes when each of its hidden, system,
// volume-label and directory bits is also among the search attributes.
bool PassesSearchAttributes(std::uint32_t entryAttributes, std::uint32_t searchAttributes);

// Kind codes of a volume (the ordinals of the drive-type set).
enum DriveKind : int {
    dkUnknown = 0,
    dkNoRootDir = 1,
    dkRemovable = 2,
    dkFixed = 3,
    dkRemote = 4,
    dkCdRom = 5,
    dkRamDisk = 6,
};

struct Drive {
    // The folder the volume is reached by: "/", "/mnt/data", "C:\".
    std::string root;
    int kind = dkUnknown;
};

struct VolumeInfo {
    std::string label;
    std::uint32_t serial = 0;
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    virtual const PathRules& Rules() const = 0;

    // Calls `onEntry` for each entry of `folder` whose name matches
    // `pattern` and that passes the search attributes, in the order the
    // folder lists them, until it returns false. False when the folder
    // cannot be listed.
    virtual bool FindEntries(const std::string& folder, const std::string& pattern,
                             std::uint32_t searchAttributes,
                             const std::function<bool(const DirEntry&)>& onEntry) = 0;
    // The sub-folders of `folder` among the entries a search with these
    // attributes finds. File systems that know an entry's kind from its
    // folder skip the files without asking the volume about each.
    virtual bool FindFolders(const std::string& folder, std::uint32_t searchAttributes,
                             const std::function<bool(const DirEntry&)>& onEntry);

    virtual std::string CurrentDirectory() = 0;
    // On failure `error` (when given) receives the system's text.
    virtual bool SetCurrentDirectory(const std::string& path, std::string* error = nullptr) = 0;

    virtual bool DirectoryExists(const std::string& path) = 0;
    // An existing entry that is not a folder.
    virtual bool FileExists(const std::string& path) = 0;
    // The last component of an existing path as its folder lists it.
    virtual std::optional<std::string> ListedName(const std::string& path) = 0;
    // The short alternative form of a path; the path itself where the
    // file system has none.
    virtual std::string ShortPathName(const std::string& path) { return path; }
    virtual bool Rename(const std::string& from, const std::string& to,
                        std::string* error = nullptr) = 0;

    // Every volume that is there now, ordered by root (plain character
    // order). Never touches a medium.
    virtual std::vector<Drive> Drives() = 0;
    // Label and serial of the volume reached by `root`; none when it cannot
    // be read (no medium, dead share). Bounded in time: a volume that does
    // not answer in time gives none too, and `timedOut` (when given) tells
    // that case from a volume that answered that it cannot be read.
    virtual std::optional<VolumeInfo> ReadVolume(const std::string& root,
                                                 bool* timedOut = nullptr) = 0;
    // The universal form of a path on a network share ("\\srv\share\dir",
    // "//srv/share/dir", "srv:/export/dir"); any other path unchanged.
    virtual std::string UniversalName(const std::string& path) = 0;
};

// The process's file system. The system's own until another is installed.
FileSystem& Files();
// Installs a file system (not owned) and returns the previous one; nullptr
// puts the system's own back.
FileSystem* SetFileSystem(FileSystem* files);
// The file system of this machine.
FileSystem& SystemFiles();

// Installs a file system for the lifetime of the guard.
using ScopedFileSystem = core::ScopedSeam<FileSystem, SetFileSystem>;

}  // namespace platform::fs
