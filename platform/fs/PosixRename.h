#pragma once
// Renaming on this system without ever replacing what is at the new name.

#include <string>

namespace platform::fs {

// The kernel's atomic rename that refuses to replace (0, or -1 with errno).
using NoReplaceRename = int (*)(const char* from, const char* to);
int KernelNoReplaceRename(const char* from, const char* to);

// Renames `from` to `to` unless something is there; 0 or the errno. Where
// the file system refuses the atomic call (NFS, some FUSE file systems),
// the new name is claimed first, so that no one else's entry can be in its
// place: by an empty folder the moved folder then replaces, or, for
// anything else, by a second link that the old name then gives way to.
int RenameWithoutReplacing(const std::string& from, const std::string& to,
                           NoReplaceRename noReplace = KernelNoReplaceRename);

}  // namespace platform::fs
