#pragma once
// The few file operations the restore command needs around the target
// database file: test, delete, move aside under a fresh name and back, and
// a probe for a file that a database engine holds open.

#include <string>

namespace platform {

bool FileExists(const std::string& path);
// Removes the file; true when nothing is left at the path afterwards.
bool DeleteFile(const std::string& path);

// Renames the file to a name in the same folder that nothing else uses
// ("name.before-restore", "name.before-restore.1", ...); never replaces an
// existing file. Returns the new path, or an empty text when the move failed.
std::string MoveAside(const std::string& path);

// Renames `from` to `to`, failing instead of replacing a file at `to`.
bool MoveBack(const std::string& from, const std::string& to);

// True when a process holds a lock on the file, as a database engine does on
// every database file it has open. A file that cannot be examined counts as
// held, so that a doubtful target is never moved away under a running server.
bool IsHeldOpen(const std::string& path);

}  // namespace platform
