#pragma once
// An in-memory file system for tests. In the Windows style it behaves as a
// system with drive letters does: names compared without letter case,
// "\" separators, drive roots "C:\", mapped network drives with universal
// names "\\SRV\SHARE". Volumes can be made unreadable, exchanged, added and
// removed while a test runs.

#include <map>
#include <string>
#include <vector>

#include "platform/fs/FileSystem.h"

namespace platform::fs {

class FakeFileSystem final : public FileSystem {
  public:
    explicit FakeFileSystem(PathStyle style = PathStyle::Windows);

    // A volume reached by `root`; `universal` is the share it maps
    // ("\\SRV\SHARE") for a network drive.
    void AddDrive(const std::string& root, int kind, const std::string& label = {},
                  std::uint32_t serial = 0, const std::string& universal = {});
    void RemoveDrive(const std::string& root);
    // An unreadable volume has no label and no serial (no medium in it).
    void SetVolume(const std::string& root, bool readable, const std::string& label = {},
                   std::uint32_t serial = 0);
    // A slow volume does not answer a read in time.
    void SetVolumeSlow(const std::string& root, bool slow);
    // Folders and files; missing parents are made as plain folders.
    void AddFolder(const std::string& path, std::uint32_t attributes = 0);
    void AddFile(const std::string& path, std::int64_t size = 0, std::uint32_t attributes = 0,
                 std::int64_t time = 0);
    void Remove(const std::string& path);
    // Folders that exist but cannot be entered.
    void SetLocked(const std::string& path, bool locked);

    const PathRules& Rules() const override { return rules_; }
    bool FindEntries(const std::string& folder, const std::string& pattern,
                     std::uint32_t searchAttributes,
                     const std::function<bool(const DirEntry&)>& onEntry) override;
    std::string CurrentDirectory() override { return current_; }
    bool SetCurrentDirectory(const std::string& path, std::string* error = nullptr) override;
    bool DirectoryExists(const std::string& path) override;
    bool FileExists(const std::string& path) override;
    std::optional<std::string> ListedName(const std::string& path) override;
    bool Rename(const std::string& from, const std::string& to,
                std::string* error = nullptr) override;
    std::vector<Drive> Drives() override;
    std::optional<VolumeInfo> ReadVolume(const std::string& root,
                                         bool* timedOut = nullptr) override;
    std::string UniversalName(const std::string& path) override;

    // What the tests observe.
    int findCalls = 0;
    int volumeReads = 0;
    std::vector<std::string> foldersSearched;

  private:
    struct Node {
        std::string listedName;
        std::uint32_t attributes = 0;
        std::int64_t size = 0;
        std::int64_t time = 0;
        bool locked = false;
    };
    struct FakeDrive {
        std::string root;
        int kind = dkUnknown;
        std::string label;
        std::uint32_t serial = 0;
        bool readable = true;
        std::string universal;
        bool slow = false;
    };

    std::string Key(const std::string& path) const;
    std::string Full(const std::string& path) const;
    Node* Find(const std::string& path);
    FakeDrive* DriveOf(const std::string& root);

    const PathRules& rules_;
    std::map<std::string, Node> nodes_;
    std::vector<FakeDrive> drives_;
    std::string current_;
};

}  // namespace platform::fs
