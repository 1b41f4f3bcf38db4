#include "tests/support/Files.h"

#include <stdlib.h>

#include <cerrno>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace test_support {

TempFolder::TempFolder(const std::string& prefix, const fs::path& parent) {
    std::string templ = (parent / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(templ.data()) == nullptr)
        throw std::system_error(errno, std::generic_category(), "cannot make " + templ);
    root_ = fs::canonical(templ);
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(root_, ignored);
}

std::string TempFolder::Path(const std::string& relative) const {
    return relative.empty() ? root_.string() : (root_ / relative).string();
}

std::string TempFolder::File(const std::string& relative, const std::string& content) const {
    const fs::path path = root_ / relative;
    fs::create_directories(path.parent_path());
    WriteFile(path, content);
    return path.string();
}

std::string TempFolder::Folder(const std::string& relative) const {
    fs::create_directories(root_ / relative);
    return (root_ / relative).string();
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

std::vector<std::string> FolderNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace test_support
