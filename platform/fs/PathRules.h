#pragma once
// Path rules of the file systems the browsing controls run on. Every rule
// that depends on how a platform writes paths lives here, once, chosen by
// the path style: "/" folders on this system, drive letters and "\" for the
// style the stored folder names and the tests of drive letters use.
//
// Common to both styles: a root keeps its separator ("/", "C:\",
// "\\server\share\"), every other folder is written without one, and
// joining puts exactly one separator between folder and name.

#include <string>
#include <string_view>

#include "core/Ascii.h"

namespace platform::fs {

enum class PathStyle { Posix, Windows };

class PathRules {
  public:
    explicit PathRules(PathStyle style) : style_(style) {}

    PathStyle Style() const { return style_; }
    char Separator() const { return style_ == PathStyle::Windows ? '\\' : '/'; }
    bool IsSeparator(char c) const {
        return c == '/' || (style_ == PathStyle::Windows && c == '\\');
    }
    // Whether two names of the same folder may differ only by letter case.
    bool CaseSensitive() const { return style_ == PathStyle::Posix; }

    // The leading part that names the volume: "C:" or "\\server\share"
    // (Windows), "//server/share" or "server:" (network forms here); empty
    // for a local path of this system, which has no drive portion.
    std::string_view DrivePortion(std::string_view path) const;
    // A path in a network share's universal form.
    bool IsNetworkPath(std::string_view path) const;
    // Length of the root with its separator ("/" 1, "C:\" 3), 0 for a
    // relative path.
    std::size_t RootLength(std::string_view path) const;
    bool IsAbsolute(std::string_view path) const { return RootLength(path) > 0; }
    bool IsRoot(std::string_view path) const;
    bool EndsWithSeparator(std::string_view path) const {
        return !path.empty() && IsSeparator(path.back());
    }

    std::string Join(std::string_view folder, std::string_view name) const;
    std::string WithTrailingSeparator(std::string_view path) const;
    // A root keeps its separator.
    std::string WithoutTrailingSeparator(std::string_view path) const;
    // The last component; empty for a root.
    std::string LastComponent(std::string_view path) const;
    // The folder holding the path's last component, written as a folder
    // (root with separator, others without); empty when there is none.
    std::string ParentFolder(std::string_view path) const;
    // Resolves a path against `base` and removes "." and ".." parts (never
    // above the root). A trailing separator is kept, as the platforms'
    // full-path functions keep it. Network forms keep their drive portion.
    std::string MakeAbsolute(std::string_view path, std::string_view base) const;

    // The file-name comparison of the platform.
    bool SameName(std::string_view a, std::string_view b) const;
    // Whether `path` is `folder` or lies below it (both absolute).
    bool IsInside(std::string_view path, std::string_view folder) const;
    // A name for comparing with SameName semantics in hashed sets.
    std::string NameKey(std::string_view name) const;

    // Whether a file name matches a search pattern of "*" and "?"; "*.*"
    // matches every name, as it does in the platforms' file searches.
    bool Matches(std::string_view name, std::string_view pattern) const;

    // Characters that cannot be part of a folder name.
    std::string_view ForbiddenNameCharacters() const;
    bool IsValidName(std::string_view name) const;

  private:
    PathStyle style_;
};

// The shared rule objects of the two styles.
const PathRules& RulesFor(PathStyle style);

// ASCII case folding, as the platforms' file-name comparisons do it for
// the letters that have a case.
using core::AsciiLower;
using core::AsciiUpper;

}  // namespace platform::fs
