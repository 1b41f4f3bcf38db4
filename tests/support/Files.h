#pragma once
// Real folders and files for tests that work on the disk.

#include <filesystem>
#include <string>
#include <vector>

namespace test_support {

// A fresh folder with a name no other folder has, removed with everything
// in it (folders a test locked included) when the object goes.
class TempFolder {
  public:
    explicit TempFolder(
        const std::string& prefix = "test",
        const std::filesystem::path& parent = std::filesystem::temp_directory_path());
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Root() const { return root_; }
    std::string Path(const std::string& relative = {}) const;
    // Makes a file (and the folders above it) with `content`.
    std::string File(const std::string& relative, const std::string& content = {}) const;
    std::string Folder(const std::string& relative) const;

  private:
    std::filesystem::path root_;
};

// The whole content of a file, byte for byte; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& content);
// The names in a folder, sorted.
std::vector<std::string> FolderNames(const std::filesystem::path& folder);

}  // namespace test_support
