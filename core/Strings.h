#pragma once
// An ordered list of text lines with name=value access and change hooks.
// The before-change hook may refuse a change by raising; the list is then
// left exactly as it was.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

class TStrings {
  public:
    using Hook = std::function<void()>;

    TStrings() = default;
    TStrings(std::initializer_list<std::string> lines) : lines_(lines) {}
    // Copies carry the lines only; hooks belong to the owner of a list.
    TStrings(const TStrings& other) : lines_(other.lines_) {}
    TStrings& operator=(const TStrings& other);
    virtual ~TStrings() = default;

    int Count() const { return static_cast<int>(lines_.size()); }
    bool Empty() const { return lines_.empty(); }
    const std::string& operator[](int index) const;
    const std::string& Strings(int index) const { return (*this)[index]; }
    const std::vector<std::string>& Lines() const { return lines_; }

    void Put(int index, std::string line);
    int Add(std::string line);
    void Insert(int index, std::string line);
    void Delete(int index);
    void Clear();
    // Replaces every line by a copy of the other list's lines.
    void Assign(const TStrings& other);
    void SetLines(std::vector<std::string> lines);

    // Lines joined with CR LF after each line, and split back on CR LF or LF.
    std::string Text() const;
    void SetText(std::string_view text);

    // The name of a line is the text before its first "=" (empty without "="),
    // its value the text after the first "=".
    static std::string NameOf(std::string_view line);
    static std::string ValueOf(std::string_view line);
    std::string Names(int index) const { return NameOf((*this)[index]); }
    std::string ValueFromIndex(int index) const { return ValueOf((*this)[index]); }
    int IndexOfName(std::string_view name) const;
    int IndexOf(std::string_view line) const;
    std::string Values(std::string_view name) const;
    void SetValue(std::string_view name, std::string_view value);

    // Groups several changes into one after-change call. The before-change
    // hook runs when the bracket opens and again before each change in it.
    void BeginUpdate();
    void EndUpdate();

    Hook OnChanging;
    Hook OnChange;

    bool operator==(const TStrings& other) const { return lines_ == other.lines_; }

  private:
    void Changing();
    void Changed();
    void CheckIndex(int index, bool allowEnd) const;

    std::vector<std::string> lines_;
    int updateCount_ = 0;
    bool changedInUpdate_ = false;
};
