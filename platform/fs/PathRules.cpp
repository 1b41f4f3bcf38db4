#include "platform/fs/PathRules.h"

#include <vector>

namespace platform::fs {

namespace {

using core::UpperAscii;

// "host:/export": a colon before the first separator, followed by one.
bool IsRemoteExportForm(std::string_view path) {
    auto colon = path.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return false;
    if (path.substr(0, colon).find('/') != std::string_view::npos)
        return false;
    return colon + 1 < path.size() && path[colon + 1] == '/';
}

}  // namespace

std::string_view PathRules::DrivePortion(std::string_view path) const {
    if (style_ == PathStyle::Windows && path.size() >= 2 && path[1] == ':')
        return path.substr(0, 2);
    // Two leading separators and a server name: the share ends the portion.
    if (path.size() > 2 && IsSeparator(path[0]) && IsSeparator(path[1]) && !IsSeparator(path[2])) {
        std::size_t i = 2;
        while (i < path.size() && !IsSeparator(path[i])) ++i;  // server
        if (i < path.size())
            ++i;
        while (i < path.size() && !IsSeparator(path[i])) ++i;  // share
        return path.substr(0, i);
    }
    if (style_ == PathStyle::Posix && IsRemoteExportForm(path))
        return path.substr(0, path.find(':') + 1);
    return {};
}

bool PathRules::IsNetworkPath(std::string_view path) const {
    if (path.size() > 2 && IsSeparator(path[0]) && IsSeparator(path[1]) && !IsSeparator(path[2]))
        return true;
    return style_ == PathStyle::Posix && IsRemoteExportForm(path);
}

std::size_t PathRules::RootLength(std::string_view path) const {
    if (path.empty())
        return 0;
    if (IsNetworkPath(path)) {
        auto drive = DrivePortion(path);
        if (style_ == PathStyle::Posix && IsRemoteExportForm(path))
            return drive.size() + 1;
        return drive.size() < path.size() ? drive.size() + 1 : drive.size();
    }
    if (style_ == PathStyle::Windows) {
        if (path.size() >= 3 && path[1] == ':' && IsSeparator(path[2]))
            return 3;
        return 0;
    }
    return path[0] == '/' ? 1 : 0;
}

bool PathRules::IsRoot(std::string_view path) const {
    auto n = RootLength(path);
    return n > 0 && n == path.size();
}

std::string PathRules::Join(std::string_view folder, std::string_view name) const {
    std::string result(folder);
    if (!result.empty() && !EndsWithSeparator(result))
        result += Separator();
    result += name;
    return result;
}

std::string PathRules::WithTrailingSeparator(std::string_view path) const {
    std::string result(path);
    if (!EndsWithSeparator(result))
        result += Separator();
    return result;
}

std::string PathRules::WithoutTrailingSeparator(std::string_view path) const {
    std::string result(path);
    std::size_t keep = std::max<std::size_t>(RootLength(path), 1);
    while (result.size() > keep && EndsWithSeparator(result)) result.pop_back();
    return result;
}

std::string PathRules::LastComponent(std::string_view path) const {
    std::string trimmed = WithoutTrailingSeparator(path);
    std::size_t root = RootLength(trimmed);
    if (root == trimmed.size() && root > 0)
        return {};
    std::size_t i = trimmed.size();
    while (i > root && !IsSeparator(trimmed[i - 1])) --i;
    return trimmed.substr(i);
}

std::string PathRules::ParentFolder(std::string_view path) const {
    std::string trimmed = WithoutTrailingSeparator(path);
    std::size_t root = RootLength(trimmed);
    if (root == trimmed.size())
        return {};
    std::size_t i = trimmed.size();
    while (i > root && !IsSeparator(trimmed[i - 1])) --i;
    if (i == 0)
        return {};
    return WithoutTrailingSeparator(std::string_view(trimmed).substr(0, i));
}

std::string PathRules::MakeAbsolute(std::string_view path, std::string_view base) const {
    if (style_ == PathStyle::Posix && IsRemoteExportForm(path))
        return std::string(path);
    std::string full;
    if (IsAbsolute(path) || (IsNetworkPath(path) && DrivePortion(path).size() == path.size())) {
        full = path;
    } else if (style_ == PathStyle::Windows && !path.empty() && IsSeparator(path[0])) {
        full = std::string(DrivePortion(base)) + std::string(path);
    } else if (style_ == PathStyle::Windows && path.size() >= 2 && path[1] == ':') {
        full = std::string(path.substr(0, 2)) + Separator() + std::string(path.substr(2));
    } else {
        full = Join(base, path);
    }
    if (style_ == PathStyle::Windows)
        for (char& c : full)
            if (c == '/')
                c = '\\';

    std::size_t root = RootLength(full);
    bool trailing = full.size() > root && EndsWithSeparator(full);
    std::vector<std::string_view> parts;
    std::string_view rest = std::string_view(full).substr(root);
    std::size_t i = 0;
    while (i <= rest.size()) {
        std::size_t j = i;
        while (j < rest.size() && !IsSeparator(rest[j])) ++j;
        std::string_view part = rest.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = j + 1;
    }
    std::string result = full.substr(0, root);
    // A share named without anything after it stays as it was given.
    if (root > 0 && !EndsWithSeparator(result) && full.size() > root)
        result += Separator();
    for (std::size_t k = 0; k < parts.size(); ++k) {
        if (k > 0)
            result += Separator();
        result += parts[k];
    }
    if (trailing && !parts.empty())
        result += Separator();
    return result;
}

bool PathRules::SameName(std::string_view a, std::string_view b) const {
    if (CaseSensitive())
        return a == b;
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (UpperAscii(a[i]) != UpperAscii(b[i]))
            return false;
    return true;
}

bool PathRules::IsInside(std::string_view path, std::string_view folder) const {
    std::string f = WithoutTrailingSeparator(folder);
    std::string p = WithoutTrailingSeparator(path);
    if (p.size() < f.size() || !SameName(std::string_view(p).substr(0, f.size()), f))
        return false;
    if (p.size() == f.size())
        return true;
    return EndsWithSeparator(f) || IsSeparator(p[f.size()]);
}

std::string PathRules::NameKey(std::string_view name) const {
    return CaseSensitive() ? std::string(name) : AsciiUpper(name);
}

bool PathRules::Matches(std::string_view name, std::string_view pattern) const {
    if (pattern.empty())
        return false;
    if (pattern == "*" || pattern == "*.*")
        return true;
    auto same = [this](char a, char b) {
        return CaseSensitive() ? a == b : UpperAscii(a) == UpperAscii(b);
    };
    // Greedy matching with one back-track point: linear for patterns with
    // a single star, and never exponential.
    std::size_t n = 0, p = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || same(pattern[p], name[n]))) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::string_view PathRules::ForbiddenNameCharacters() const {
    if (style_ == PathStyle::Windows)
        return "\\/:*?\"<>|";
    return std::string_view("/\0", 2);
}

bool PathRules::IsValidName(std::string_view name) const {
    if (name.empty() || name == "." || name == "..")
        return false;
    return name.find_first_of(ForbiddenNameCharacters()) == std::string_view::npos;
}

const PathRules& RulesFor(PathStyle style) {
    static const PathRules posix(PathStyle::Posix);
    static const PathRules windows(PathStyle::Windows);
    return style == PathStyle::Windows ? windows : posix;
}

}  // namespace platform::fs
