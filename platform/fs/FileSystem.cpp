#include "platform/fs/FileSystem.h"

#include "core/Seam.h"

namespace platform::fs {

namespace {
core::Seam<FileSystem> seam(SystemFiles);
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
    return seam.Get();
}

FileSystem* SetFileSystem(FileSystem* files) {
    return seam.Install(files);
}

}  // namespace platform::fs
