#include "platform/fs/FileSystem.h"

#include <atomic>

namespace platform::fs {

namespace {
std::atomic<FileSystem*> installed{nullptr};
}

bool PassesSearchAttributes(std::uint32_t entryAttributes, std::uint32_t searchAttributes) {
    constexpr std::uint32_t kExcludable = faHidden | faSysFile | faVolumeID | faDirectory;
    return (entryAttributes & kExcludable & ~searchAttributes) == 0;
}

bool FileSystem::FindFolders(const std::string& folder, std::uint32_t searchAttributes,
                             const std::function<bool(const DirEntry&)>& onEntry) {
    return FindEntries(folder, "*", searchAttributes | faDirectory,
                       [&](const DirEntry& e) { return e.IsDirectory() ? onEntry(e) : true; });
}

FileSystem& Files() {
    FileSystem* files = installed.load();
    return files ? *files : SystemFiles();
}

FileSystem* SetFileSystem(FileSystem* files) {
    return installed.exchange(files);
}

}  // namespace platform::fs
