#include "fakes/FakeFileSystem.h"

#include <algorithm>

namespace platform::fs {

FakeFileSystem::FakeFileSystem(PathStyle style) : rules_(RulesFor(style)) {
    current_ = style == PathStyle::Windows ? "C:\\" : "/";
}

std::string FakeFileSystem::Full(const std::string& path) const {
    return rules_.WithoutTrailingSeparator(rules_.MakeAbsolute(path, current_));
}

std::string FakeFileSystem::Key(const std::string& path) const {
    return rules_.NameKey(Full(path));
}

FakeFileSystem::Node* FakeFileSystem::Find(const std::string& path) {
    if (path.empty())
        return nullptr;
    auto it = nodes_.find(Key(path));
    return it == nodes_.end() ? nullptr : &it->second;
}

FakeFileSystem::FakeDrive* FakeFileSystem::DriveOf(const std::string& root) {
    for (auto& d : drives_)
        if (rules_.SameName(rules_.WithTrailingSeparator(d.root),
                            rules_.WithTrailingSeparator(root)))
            return &d;
    return nullptr;
}

void FakeFileSystem::AddDrive(const std::string& root, int kind, const std::string& label,
                              std::uint32_t serial, const std::string& universal) {
    drives_.push_back({root, kind, label, serial, true, universal, false});
    // A volume mounted in another one's folder lists there by its name.
    const std::string name = rules_.LastComponent(Full(root));
    nodes_[Key(root)] = Node{name.empty() ? root : name, faDirectory, 0, 0, false};
}

void FakeFileSystem::RemoveDrive(const std::string& root) {
    std::erase_if(drives_, [&](const FakeDrive& d) { return rules_.SameName(d.root, root); });
    Remove(root);
}

void FakeFileSystem::SetVolume(const std::string& root, bool readable, const std::string& label,
                               std::uint32_t serial) {
    if (FakeDrive* d = DriveOf(root)) {
        d->readable = readable;
        d->label = label;
        d->serial = serial;
    }
}

void FakeFileSystem::SetVolumeSlow(const std::string& root, bool slow) {
    if (FakeDrive* d = DriveOf(root))
        d->slow = slow;
}

void FakeFileSystem::AddFolder(const std::string& path, std::uint32_t attributes) {
    std::string full = Full(path);
    std::string parent = rules_.ParentFolder(full);
    if (!parent.empty() && !Find(parent))
        AddFolder(parent);
    std::string name = rules_.LastComponent(full);
    nodes_[Key(full)] = Node{name.empty() ? full : name, attributes | faDirectory, 0, 0, false};
}

void FakeFileSystem::AddFile(const std::string& path, std::int64_t size, std::uint32_t attributes,
                             std::int64_t time) {
    std::string full = Full(path);
    std::string parent = rules_.ParentFolder(full);
    if (!parent.empty() && !Find(parent))
        AddFolder(parent);
    nodes_[Key(full)] =
        Node{rules_.LastComponent(full), attributes & ~faDirectory, size, time, false};
}

void FakeFileSystem::Remove(const std::string& path) {
    std::string key = Key(path);
    std::erase_if(
        nodes_, [&](const auto& kv) { return kv.first == key || rules_.IsInside(kv.first, key); });
}

void FakeFileSystem::SetLocked(const std::string& path, bool locked) {
    if (Node* n = Find(path))
        n->locked = locked;
}

bool FakeFileSystem::FindEntries(const std::string& folder, const std::string& pattern,
                                 std::uint32_t searchAttributes,
                                 const std::function<bool(const DirEntry&)>& onEntry) {
    ++findCalls;
    foldersSearched.push_back(folder);
    Node* dir = Find(folder);
    if (!dir || !(dir->attributes & faDirectory) || dir->locked)
        return false;
    // A drive without a readable medium lists nothing.
    for (auto& d : drives_)
        if (!d.readable && rules_.IsInside(Full(folder), Full(d.root)))
            return false;
    std::string prefix = rules_.WithTrailingSeparator(Key(folder));
    std::vector<DirEntry> entries;
    for (auto it = nodes_.lower_bound(prefix); it != nodes_.end(); ++it) {
        const std::string& key = it->first;
        if (key.compare(0, prefix.size(), prefix) != 0)
            break;
        if (key.size() == prefix.size())
            continue;
        if (key.find(rules_.Separator(), prefix.size()) != std::string::npos)
            continue;
        const Node& n = it->second;
        if (!rules_.Matches(n.listedName, pattern))
            continue;
        if (!PassesSearchAttributes(n.attributes, searchAttributes))
            continue;
        entries.push_back({n.listedName, n.attributes, n.size, n.time});
    }
    for (const auto& e : entries)
        if (!onEntry(e))
            break;
    return true;
}

bool FakeFileSystem::SetCurrentDirectory(const std::string& path, std::string* error) {
    Node* n = Find(path);
    bool ready = true;
    for (auto& d : drives_)
        if (!d.readable && rules_.IsInside(Full(path), Full(d.root)))
            ready = false;
    if (!n || !(n->attributes & faDirectory) || n->locked || !ready) {
        if (error)
            *error = !ready ? "The device is not ready"
                     : n    ? "Access is denied"
                            : "The system cannot find the path specified";
        return false;
    }
    std::string full = Full(path);
    // Report the folder with the names as listed, as the system does.
    std::string listed;
    std::string walk = full;
    std::vector<std::string> parts;
    while (!rules_.IsRoot(walk) && !walk.empty()) {
        Node* w = Find(walk);
        if (!w)
            break;
        parts.push_back(w->listedName);
        walk = rules_.ParentFolder(walk);
    }
    listed = rules_.Style() == PathStyle::Windows ? AsciiUpper(walk) : walk;
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) listed = rules_.Join(listed, *it);
    current_ = listed;
    return true;
}

bool FakeFileSystem::DirectoryExists(const std::string& path) {
    Node* n = Find(path);
    return n && (n->attributes & faDirectory);
}

bool FakeFileSystem::FileExists(const std::string& path) {
    Node* n = Find(path);
    return n && !(n->attributes & faDirectory);
}

std::optional<std::string> FakeFileSystem::ListedName(const std::string& path) {
    Node* n = Find(path);
    if (!n)
        return std::nullopt;
    return n->listedName;
}

bool FakeFileSystem::Rename(const std::string& from, const std::string& to, std::string* error) {
    std::string src = Key(from), dst = Key(to);
    if (!nodes_.count(src) || nodes_.count(dst) ||
        !DirectoryExists(rules_.ParentFolder(Full(to)))) {
        if (error)
            *error = "Cannot rename";
        return false;
    }
    std::map<std::string, Node> moved;
    for (auto it = nodes_.begin(); it != nodes_.end();) {
        if (it->first == src || rules_.IsInside(it->first, src)) {
            moved[dst + it->first.substr(src.size())] = it->second;
            it = nodes_.erase(it);
        } else {
            ++it;
        }
    }
    moved[dst].listedName = rules_.LastComponent(Full(to));
    nodes_.merge(moved);
    return true;
}

std::vector<Drive> FakeFileSystem::Drives() {
    std::vector<Drive> out;
    for (const auto& d : drives_) out.push_back({d.root, d.kind});
    std::sort(out.begin(), out.end(),
              [](const Drive& a, const Drive& b) { return a.root < b.root; });
    return out;
}

std::optional<VolumeInfo> FakeFileSystem::ReadVolume(const std::string& root, bool* timedOut) {
    ++volumeReads;
    FakeDrive* d = DriveOf(root);
    if (timedOut)
        *timedOut = d && d->slow;
    if (d && d->slow)
        return std::nullopt;
    if (!d || !d->readable)
        return std::nullopt;
    return VolumeInfo{d->label, d->serial};
}

std::string FakeFileSystem::UniversalName(const std::string& path) {
    std::string full = rules_.MakeAbsolute(path, current_);
    for (const auto& d : drives_) {
        if (d.universal.empty() || !rules_.IsInside(full, d.root))
            continue;
        std::string rest = full.substr(rules_.WithoutTrailingSeparator(d.root).size());
        if (rules_.Style() == PathStyle::Windows && !rest.empty() && rest[0] != '\\')
            rest = "\\" + rest;
        if (rest.empty())
            rest = std::string(1, rules_.Separator());
        return d.universal + rest;
    }
    return path;
}

}  // namespace platform::fs
