#include "core/Strings.h"

#include "core/Exceptions.h"
#include "core/Format.h"

TStrings& TStrings::operator=(const TStrings& other) {
    if (this != &other)
        Assign(other);
    return *this;
}

void TStrings::CheckIndex(int index, bool allowEnd) const {
    int limit = allowEnd ? Count() : Count() - 1;
    if (index < 0 || index > limit)
        throw Exception(Format("List index out of bounds (%d)", {index}));
}

const std::string& TStrings::operator[](int index) const {
    CheckIndex(index, false);
    return lines_[static_cast<std::size_t>(index)];
}

void TStrings::Changing() {
    // Also inside an update bracket: the hook may refuse this very change,
    // whatever it allowed when the bracket opened.
    if (OnChanging)
        OnChanging();
}

void TStrings::Changed() {
    if (updateCount_ > 0) {
        changedInUpdate_ = true;
        return;
    }
    if (OnChange)
        OnChange();
}

void TStrings::Put(int index, std::string line) {
    CheckIndex(index, false);
    Changing();
    lines_[static_cast<std::size_t>(index)] = std::move(line);
    Changed();
}

int TStrings::Add(std::string line) {
    Insert(Count(), std::move(line));
    return Count() - 1;
}

void TStrings::Insert(int index, std::string line) {
    CheckIndex(index, true);
    Changing();
    lines_.insert(lines_.begin() + index, std::move(line));
    Changed();
}

void TStrings::Delete(int index) {
    CheckIndex(index, false);
    Changing();
    lines_.erase(lines_.begin() + index);
    Changed();
}

void TStrings::Clear() {
    if (lines_.empty())
        return;
    Changing();
    lines_.clear();
    Changed();
}

void TStrings::Assign(const TStrings& other) {
    SetLines(other.lines_);
}

void TStrings::SetLines(std::vector<std::string> lines) {
    Changing();
    lines_ = std::move(lines);
    Changed();
}

std::string TStrings::Text() const {
    std::string text;
    for (const auto& line : lines_) {
        text += line;
        text += "\r\n";
    }
    return text;
}

void TStrings::SetText(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
    SetLines(std::move(lines));
}

std::string TStrings::NameOf(std::string_view line) {
    auto eq = line.find('=');
    return eq == std::string_view::npos ? std::string() : std::string(line.substr(0, eq));
}

std::string TStrings::ValueOf(std::string_view line) {
    auto eq = line.find('=');
    return eq == std::string_view::npos ? std::string() : std::string(line.substr(eq + 1));
}

int TStrings::IndexOfName(std::string_view name) const {
    for (int i = 0; i < Count(); ++i) {
        auto eq = lines_[static_cast<std::size_t>(i)].find('=');
        if (eq != std::string::npos &&
            std::string_view(lines_[static_cast<std::size_t>(i)]).substr(0, eq) == name)
            return i;
    }
    return -1;
}

int TStrings::IndexOf(std::string_view line) const {
    for (int i = 0; i < Count(); ++i)
        if (lines_[static_cast<std::size_t>(i)] == line)
            return i;
    return -1;
}

std::string TStrings::Values(std::string_view name) const {
    int i = IndexOfName(name);
    return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStrings::SetValue(std::string_view name, std::string_view value) {
    std::string line = std::string(name) + "=" + std::string(value);
    int i = IndexOfName(name);
    if (i < 0)
        Add(std::move(line));
    else
        Put(i, std::move(line));
}

void TStrings::BeginUpdate() {
    if (updateCount_ == 0) {
        if (OnChanging)
            OnChanging();
        changedInUpdate_ = false;
    }
    ++updateCount_;
}

void TStrings::EndUpdate() {
    if (updateCount_ == 0)
        return;
    if (--updateCount_ == 0 && changedInUpdate_) {
        changedInUpdate_ = false;
        if (OnChange)
            OnChange();
    }
}
