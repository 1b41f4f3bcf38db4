#pragma once
// The few file operations a restore needs around the target database file:
// test, delete, move aside under a fresh name and back, a probe for a file
// that a database engine holds open, and where a link really leads.

#include <cstdint>
#include <string>

namespace restore {

bool FileExists(const std::string& path);
// Removes the file; true when nothing is left at the path afterwards.
bool DeleteFile(const std::string& path);

// The name the n-th try of MoveAside uses: "name.before-restore", then
// "name.before-restore.1", ... A name that would not fit the folder's name
// limit (`nameLimit` bytes) is shortened first, never inside a character.
std::string AsideName(const std::string& path, int n, std::size_t nameLimit);

// Renames the file to a name in the same folder that nothing else uses (see
// AsideName); never replaces an existing file. Returns the new path, or an
// empty text when the move failed, with errno telling why.
std::string MoveAside(const std::string& path);

// Renames `from` to `to`, failing instead of replacing a file at `to`.
bool MoveBack(const std::string& from, const std::string& to);

// What the probe for a database engine's lock on a file found.
enum class HoldState {
    Free,     // no process holds a lock on it (or there is no file)
    Held,     // a process holds one, as an engine does on every database it has open
    Unknown,  // the file could not be examined
};
struct HoldProbe {
    HoldState state = HoldState::Free;
    std::string reason;  // why it could not be examined (Unknown only)
};
HoldProbe ProbeHold(const std::string& path);

// True unless the probe found the file free: a file that cannot be examined
// counts as held, so that a doubtful file is never moved or deleted under a
// running server.
bool IsHeldOpen(const std::string& path);

// The file a path finally names once symbolic links are followed (to the
// last link's target even when that does not exist yet); the path itself
// when it is no link. Relative link texts count from the link's own folder.
std::string FollowLinks(const std::string& path);

// The file's size in bytes, or -1 when it cannot be examined.
std::int64_t FileSize(const std::string& path);

}  // namespace restore
