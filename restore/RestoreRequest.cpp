#include "restore/RestoreRequest.h"

#include <sys/stat.h>

#include <filesystem>

#include "restore/FileOps.h"
#include "restore/RestoreErrors.h"

namespace restore {

namespace {

std::string Absolute(const std::string& path) {
    if (path.empty() || path.front() == '/')
        return path;
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

std::string Folder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The backup file as this machine sees it, when there is one to look at.
const std::string* LocalBackupFile(const RestoreRequest& request) {
    if (const auto* file = std::get_if<ServerFile>(&request.backup))
        return &file->path;
    const auto& stream = std::get<ClientStream>(request.backup);
    return stream.name == "-" ? nullptr : &stream.name;
}

}  // namespace

RestoreRequest WithAbsolutePaths(const RestoreRequest& request) {
    RestoreRequest resolved = request;
    if (request.targetIsRemote)
        return resolved;
    resolved.targetPath = Absolute(request.targetPath);
    if (auto* file = std::get_if<ServerFile>(&resolved.backup))
        file->path = Absolute(file->path);
    return resolved;
}

void CheckRequest(const RestoreRequest& request) {
    if (request.targetIsRemote)
        return;
    struct stat backup {};
    bool backupSeen = false;
    if (const std::string* path = LocalBackupFile(request)) {
        backupSeen = ::stat(path->c_str(), &backup) == 0;
        // A stream was opened already; only the server's own file may be missing.
        if (std::holds_alternative<ServerFile>(request.backup)) {
            if (!backupSeen)
                throw EBackupNotFound(*path);
            if (S_ISDIR(backup.st_mode))
                throw EBackupIsFolder(*path);
        }
    }
    const std::string target = FollowLinks(request.targetPath);
    struct stat folder {};
    if (::stat(Folder(target).c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
        throw ETargetFolderMissing(Folder(target));
    struct stat existing {};
    if (::stat(target.c_str(), &existing) != 0)
        return;
    if (backupSeen && existing.st_dev == backup.st_dev && existing.st_ino == backup.st_ino)
        throw ETargetIsBackup(request.targetPath);
    if (S_ISDIR(existing.st_mode))
        throw ETargetIsFolder(request.targetPath);
    if (!request.replaceExisting)
        throw ETargetExists(request.targetPath);
}

}  // namespace restore
