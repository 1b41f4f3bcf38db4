// The file list: the entries of one folder, filtered by mask and
// attributes, folders first, each drawn with its shell icon.

#include <QApplication>
#include <QCollator>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <algorithm>
#include <cstdlib>
#include <unordered_set>

#include "controls/RzFilSys.h"
#include "controls/RzFilSysShell.h"
#include "core/Exceptions.h"
#include "core/Format.h"
#include "core/ScopeGuard.h"
#include "platform/WindowLayer.h"

using platform::fs::Files;
using platform::fs::PathRules;
using platform::fs::PathStyle;

// ---------------------------------------------------------------------------
// Icon cache

TExtensionIconCache& TExtensionIconCache::Instance() {
    static TExtensionIconCache* cache = [] {
        auto* c = new TExtensionIconCache;
        // The icons go with the application object, before the pixmap
        // machinery they belong to.
        qAddPostRoutine([] { TExtensionIconCache::Instance().Clear(); });
        return c;
    }();
    return *cache;
}

std::optional<QIcon> TExtensionIconCache::Find(const std::string& extension) const {
    std::string key = platform::fs::AsciiLower(extension);
    auto it = std::lower_bound(entries_.begin(), entries_.end(), key,
                               [](const auto& e, const std::string& k) { return e.first < k; });
    if (it == entries_.end() || it->first != key)
        return std::nullopt;
    return it->second;
}

void TExtensionIconCache::Add(const std::string& extension, const QIcon& icon) {
    std::string key = platform::fs::AsciiLower(extension);
    auto it = std::lower_bound(entries_.begin(), entries_.end(), key,
                               [](const auto& e, const std::string& k) { return e.first < k; });
    if (it != entries_.end() && it->first == key)
        return;
    entries_.insert(it, {key, icon});
}

// ---------------------------------------------------------------------------
// Model and drawing

class TFileListModel : public QAbstractListModel {
  public:
    TFileListModel(const std::vector<TRzFileInfo>& entries, QObject* parent)
        : QAbstractListModel(parent), entries_(entries) {}

    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(entries_.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount({}))
            return {};
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
            return QString::fromStdString(
                entries_[static_cast<std::size_t>(index.row())].EntryName);
        return {};
    }
    void BeginReset() { beginResetModel(); }
    void EndReset() { endResetModel(); }

  private:
    const std::vector<TRzFileInfo>& entries_;
};

class TFileListDelegate : public QStyledItemDelegate {
  public:
    explicit TFileListDelegate(TFileListBox* list) : QStyledItemDelegate(list), list_(list) {}

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
        // Items are as wide as the list: names longer than that are cut.
        const int width = list_->viewport()->width();
        return {list_->Columns() > 0 ? std::max(3, width / list_->Columns()) : std::max(width, 1),
                list_->ItemHeight()};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const int row = index.row();
        if (row < 0 || row >= list_->Count())
            return;
        const TRzFileInfo& entry = list_->Entries(row);
        const bool glyphs = list_->ShowGlyphs();
        const bool selected = option.state & QStyle::State_Selected;
        QRect area = option.rect;
        // The icon column stays in the list's background colour.
        if (glyphs)
            area.setLeft(option.rect.left() + 24);
        const QPalette& palette = option.palette;
        const auto group = list_->isEnabled()
                               ? (list_->hasFocus() ? QPalette::Active : QPalette::Inactive)
                               : QPalette::Disabled;
        painter->save();
        painter->fillRect(area, selected ? palette.brush(group, QPalette::Highlight)
                                         : palette.brush(group, QPalette::Base));
        const QFontMetrics metrics(option.font);
        const int offset = (area.height() - metrics.height()) / 2;
        painter->setClipRect(area);
        painter->setFont(option.font);
        painter->setPen(
            palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        painter->drawText(
            QRect(area.left() + 2, area.top() + offset, area.width() - 2, metrics.height()),
            Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
            QString::fromStdString(entry.EntryName));
        painter->setClipping(false);
        if (glyphs) {
            QPixmap pixmap;
            if (selected) {
                // The highlighted variant is asked for each time it is drawn.
                const PathRules& rules = Files().Rules();
                QIcon icon = Shell().SmallIcon(rules.Join(list_->ListDir(), entry.EntryName));
                pixmap = icon.pixmap(QSize(16, 16), QIcon::Selected);
            } else if (!entry.Icon.isNull()) {
                pixmap = entry.Icon.pixmap(QSize(16, 16));
            }
            if (!pixmap.isNull())
                painter->drawPixmap(area.left() - 20, area.top() + offset - 1, pixmap);
        }
        if (option.state & QStyle::State_HasFocus) {
            QStyleOptionFocusRect focus;
            focus.rect = area;
            focus.state = option.state;
            focus.backgroundColor =
                palette.color(group, selected ? QPalette::Highlight : QPalette::Base);
            list_->style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, list_);
        }
        painter->restore();
    }

  private:
    TFileListBox* list_;
};

// ---------------------------------------------------------------------------
// File list

namespace {

bool HasWildcard(const std::string& text) {
    return text.find_first_of("*?") != std::string::npos;
}

std::string LowerExtension(const std::string& name) {
    auto dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : platform::fs::AsciiLower(name.substr(dot));
}

bool IconPerFile(const std::string& extension) {
    return extension == ".exe" || extension == ".lnk" || extension == ".ico" || extension == ".scr";
}

// The parts of a mask, cut at each ";" and taken verbatim; empty parts match
// nothing and are left out.
std::vector<std::string> MaskParts(const std::string& mask) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= mask.size()) {
        std::size_t end = mask.find(';', start);
        if (end == std::string::npos)
            end = mask.size();
        if (end > start)
            parts.push_back(mask.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// Makes a folder current or raises with the system's text.
void EnterFolder(const std::string& folder) {
    std::string error;
    if (!Files().SetCurrentDirectory(folder, &error))
        throw EInOutError(error);
}

// A typed path text taken apart against the process's current directory.
struct TPathText {
    char driveLetter = 0;  // none for a network path or a path without letters
    std::string folderPart;
    std::string filePart;
    bool network = false;
};

// Takes a typed path apart: a "[name]" stands for a name on the current
// drive, a last component that is no file is a folder, and every folder
// named must be enterable. The folders are entered on the way, so the
// caller puts the current directory back.
TPathText SplitPathText(const std::string& text) {
    auto& files = Files();
    const PathRules& rules = files.Rules();
    const bool windows = rules.Style() == PathStyle::Windows;
    const char sep = rules.Separator();
    const std::string current = files.CurrentDirectory();
    TPathText result;
    std::string drivePortion;
    std::string rest = text;
    if (rest.size() >= 2 && rest.front() == '[' && rest.back() == ']') {
        rest = rest.substr(1, rest.size() - 2);
        if (windows && !current.empty())
            result.driveLetter = platform::fs::AsciiUpper(current.substr(0, 1))[0];
        drivePortion = std::string(rules.DrivePortion(current));
    } else {
        std::string_view own = rules.DrivePortion(rest);
        drivePortion = own.empty() ? std::string(rules.DrivePortion(current)) : std::string(own);
        rest = rest.substr(own.size());
        if (windows && drivePortion.size() == 2 && drivePortion[1] == ':')
            result.driveLetter = platform::fs::AsciiUpper(drivePortion.substr(0, 1))[0];
        result.network = rules.IsNetworkPath(drivePortion);
        // A drive portion alone names the current folder of that drive: on
        // the drive that is current, that is the current directory itself,
        // and relative names stay in it. Another drive is entered at its root.
        if (!drivePortion.empty() && !rules.SameName(rules.DrivePortion(current), drivePortion) &&
            files.DirectoryExists(rules.WithTrailingSeparator(drivePortion)))
            files.SetCurrentDirectory(rules.WithTrailingSeparator(drivePortion));
    }
    // The current folder without its drive portion, "\" for a root.
    auto currentFolder = [&] {
        std::string folder = files.CurrentDirectory();
        folder.erase(0, rules.DrivePortion(folder).size());
        return folder.empty() ? std::string(1, sep) : folder;
    };
    std::size_t last = rest.size();
    while (last > 0 && !rules.IsSeparator(rest[last - 1])) --last;
    result.filePart = rest.substr(last);
    if (last == 1)
        result.folderPart = std::string(1, sep);
    else if (last > 1)
        result.folderPart = rest.substr(0, last - 1);
    else
        result.folderPart = currentFolder();
    auto enter = [&](const std::string& folder) {
        const bool rooted = !folder.empty() && rules.IsSeparator(folder[0]);
        EnterFolder(rooted ? drivePortion + folder : folder);
        // From here on the folder part is absolute, however it was typed.
        result.folderPart = currentFolder();
    };
    if (!result.folderPart.empty())
        enter(result.folderPart);
    if (!result.filePart.empty() && !HasWildcard(result.filePart) &&
        !files.FileExists(rules.Join(files.CurrentDirectory(), result.filePart))) {
        enter(result.filePart);
        result.filePart.clear();
    }
    if (result.network)
        result.folderPart = drivePortion + result.folderPart;
    return result;
}

}  // namespace

TFileListBox::TFileListBox(TComponent* owner, QWidget* parent)
    : TFileListBox(owner, parent, true) {}

TFileListBox::TFileListBox(TComponent* owner, QWidget* parent, bool joinOwner)
    : QListView(parent), TComponent(nullptr) {
    listDir_ = Files().CurrentDirectory();
    model_ = new TFileListModel(entries_, this);
    setModel(model_);
    setItemDelegate(new TFileListDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformItemSizes(true);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setMovement(QListView::Static);
    // One column as wide as the list: names longer than it are cut.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    resize(145, height());
    RecomputeItemHeight();
    if (joinOwner && owner)
        owner->InsertComponent(this);
}

TFileListBox::~TFileListBox() {
    model_->BeginReset();
    ReleaseEntries();
    model_->EndReset();
}

int TFileListBox::ItemHeightFor(int cellHeight, bool glyphs) {
    return glyphs ? std::max(cellHeight - 1, 18) : cellHeight - 1;
}

void TFileListBox::RecomputeItemHeight() {
    itemHeight_ = ItemHeightFor(QFontMetrics(font()).height(), showGlyphs_);
    doItemsLayout();
}

void TFileListBox::SetItemHeight(int height) {
    itemHeight_ = std::max(height, 1);
    doItemsLayout();
}

void TFileListBox::SetMask(const std::string& mask) {
    if (mask == mask_)
        return;
    mask_ = mask;
    ReadEntries();
}

void TFileListBox::SetFileType(TFileType type) {
    if (type == fileType_)
        return;
    fileType_ = type;
    ReadEntries();
}

void TFileListBox::SetShowGlyphs(bool on) {
    if (on == showGlyphs_)
        return;
    showGlyphs_ = on;
    RecomputeItemHeight();
    if (on)
        ReadEntries();
    viewport()->update();
}

void TFileListBox::SetShowLongNames(bool on) {
    if (on == showLongNames_)
        return;
    showLongNames_ = on;
    ReadEntries();
}

void TFileListBox::SetColumns(int columns) {
    columns_ = std::max(columns, 0);
    setWrapping(columns_ > 0);
    setFlow(QListView::TopToBottom);
    setResizeMode(columns_ > 0 ? QListView::Adjust : QListView::Fixed);
    setHorizontalScrollBarPolicy(columns_ > 0 ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    if (columns_ > 0)
        setMinimumWidth(3);
    doItemsLayout();
}

void TFileListBox::SetListDir(const std::string& folder) {
    auto& files = Files();
    const PathRules& rules = files.Rules();
    // A folder that could not be read may have come back since.
    if (rules.SameName(folder, listDir_) && !readFailed_)
        return;
    // A folder that cannot be entered (missing, or shut to this account)
    // stays the list's folder and lists nothing. Taking whatever folder is
    // current instead would show another list's files under this list's
    // tree, where they could be chosen as if they lay here.
    readFailed_ = !files.SetCurrentDirectory(rules.WithTrailingSeparator(folder));
    if (!readFailed_)
        listDir_ = files.CurrentDirectory();
    else
        listDir_ =
            rules.WithoutTrailingSeparator(rules.MakeAbsolute(folder, files.CurrentDirectory()));
    ReadEntries();
}

int TFileListBox::ItemIndex() const {
    QModelIndex current = currentIndex();
    return current.isValid() ? current.row() : -1;
}

void TFileListBox::SetItemIndex(int index) {
    const bool valid = index >= 0 && index < Count();
    if (multiSelect_) {
        if (valid)
            selectionModel()->setCurrentIndex(model_->index(index, 0),
                                              QItemSelectionModel::NoUpdate);
        else
            selectionModel()->clearCurrentIndex();
        return;
    }
    if (!valid) {
        selectionModel()->clear();
        return;
    }
    setCurrentIndex(model_->index(index, 0));
    selectionModel()->select(model_->index(index, 0), QItemSelectionModel::ClearAndSelect);
}

void TFileListBox::SetSelected(int index, bool selected) {
    if (index < 0 || index >= Count())
        return;
    if (multiSelect_) {
        selectionModel()->select(model_->index(index, 0), selected ? QItemSelectionModel::Select
                                                                   : QItemSelectionModel::Deselect);
    } else if (selected) {
        SetItemIndex(index);
    } else if (ItemIndex() == index) {
        SetItemIndex(-1);
    }
}

void TFileListBox::SetMultiSelect(bool on) {
    if (on == multiSelect_)
        return;
    multiSelect_ = on;
    setSelectionMode(on ? QAbstractItemView::ExtendedSelection
                        : QAbstractItemView::SingleSelection);
    ReadEntries();
}

bool TFileListBox::Selected(int index) const {
    return index >= 0 && index < Count() && selectionModel()->isSelected(model_->index(index, 0));
}

int TFileListBox::FindExact(const std::string& text) const {
    const PathRules& rules = Files().Rules();
    for (int i = 0; i < Count(); ++i)
        if (rules.SameName(Items(i), text))
            return i;
    return -1;
}

std::string TFileListBox::SelectedName() const {
    const int index = ItemIndex();
    if (index < 0 || Count() == 0 || !Selected(index))
        return {};
    return Items(index);
}

std::string TFileListBox::SelectedPath() const {
    std::string name = SelectedName();
    if (name.empty())
        return {};
    return Files().Rules().Join(listDir_, name);
}

std::string TFileListBox::SelectedLongPath() const {
    std::string path = SelectedPath();
    if (path.empty())
        return {};
    auto& files = Files();
    const PathRules& rules = files.Rules();
    path = rules.MakeAbsolute(path, files.CurrentDirectory());
    const std::size_t root = rules.RootLength(path);
    if (path.size() <= root)
        return path;
    path = rules.WithoutTrailingSeparator(path);
    std::string result;
    std::string prefix = path;
    while (prefix.size() > root) {
        auto listed = files.ListedName(prefix);
        result = rules.Separator() + (listed ? *listed : rules.LastComponent(prefix)) + result;
        std::size_t cut = prefix.size();
        while (cut > 0 && !rules.IsSeparator(prefix[cut - 1])) --cut;
        prefix.resize(cut > 0 ? cut - 1 : 0);
    }
    return prefix + result;
}

std::string TFileListBox::SelectedShortPath() const {
    std::string path = SelectedPath();
    return path.empty() ? path : Files().ShortPathName(path);
}

void TFileListBox::ReleaseEntries() {
    entries_.clear();
}

void TFileListBox::HandleNeeded() {
    if (handleAllocated_)
        return;
    handleAllocated_ = true;
    CreateWnd();
}

void TFileListBox::CreateWnd() {
    ReadEntries();
}

void TFileListBox::BeginUpdate() {
    if (updateCount_++ == 0)
        setUpdatesEnabled(false);
}

void TFileListBox::EndUpdate() {
    if (updateCount_ > 0 && --updateCount_ == 0)
        setUpdatesEnabled(true);
}

// Whatever fails while a list reads its folder, the cursor comes back, the
// list is usable again and its reading is over, the change handling
// included.
class TFileListBox::TReading {
  public:
    explicit TReading(TFileListBox* list)
        : list_(list), cursor_(platform::Window().ScreenCursor()) {
        list_->readingEntries_ = true;
        list_->model_->BeginReset();
    }
    ~TReading() {
        EndModel();
        RestoreCursor();
        list_->readingEntries_ = false;
    }
    TReading(const TReading&) = delete;
    TReading& operator=(const TReading&) = delete;

    void EndModel() {
        if (modelOpen_)
            list_->model_->EndReset();
        modelOpen_ = false;
    }
    void RestoreCursor() {
        if (!cursorRestored_)
            platform::Window().SetScreenCursor(cursor_);
        cursorRestored_ = true;
    }

  private:
    TFileListBox* list_;
    int cursor_;
    bool modelOpen_ = true;
    bool cursorRestored_ = false;
};

void TFileListBox::ReadEntries() {
    if (!handleAllocated_)
        return;
    auto& files = Files();
    const std::uint32_t search = fileType_ & 0x3F;
    // A folder that cannot be entered lists nothing, whether it has gone away
    // since it was entered or is shut to this account: the current directory
    // is then whatever another list read last, and its names would be joined
    // to this list's folder.
    const bool entered = files.SetCurrentDirectory(listDir_);
    readFailed_ = !entered;
    TReading reading(this);
    ReleaseEntries();
    if (entered) {
        const std::string folder = files.CurrentDirectory();
        // Only a mask of several parts can find an entry twice.
        std::unordered_set<std::string> seen;
        std::unordered_set<std::string>* once =
            mask_.find(';') != std::string::npos ? &seen : nullptr;
        for (const std::string& part : MaskParts(mask_))
            if (!files.FindEntries(folder, part, search, [&](const platform::fs::DirEntry& e) {
                    AddEntry(folder, e, search, once);
                    return true;
                }))
                readFailed_ = true;
    }
    if (entries_.size() > 1) {
        BeginUpdate();
        SortEntries();
        EndUpdate();
    }
    reading.EndModel();
    reading.RestoreCursor();
    Change();
}

void TFileListBox::AddEntry(const std::string& folder, const platform::fs::DirEntry& e,
                            std::uint32_t search, std::unordered_set<std::string>* once) {
    if (!(fileType_ & FileAttrBit(ftNormal)) && !(e.attributes & search))
        return;
    if (once && !once->insert(Files().Rules().NameKey(e.name)).second)
        return;
    if (e.IsDirectory() && (e.name == "." || e.name == ".."))
        return;
    TRzFileInfo info;
    info.EntryName = e.name;
    info.Attributes = e.attributes;
    info.TimeStamp = e.time;
    info.ByteSize = e.size;
    info.IsFolder = e.IsDirectory();
    if (showGlyphs_)
        info.Icon = IconOf(folder, e);
    entries_.push_back(std::move(info));
    if (entries_.size() == 101)
        platform::Window().SetScreenCursor(platform::crHourGlass);
}

QIcon TFileListBox::IconOf(const std::string& folder, const platform::fs::DirEntry& e) const {
    const std::string path = Files().Rules().Join(folder, e.name);
    if (e.IsDirectory())
        return Shell().SmallIcon(path);
    const std::string extension = LowerExtension(e.name);
    // Programs, links and icon files each look different; everything else
    // looks like the others of its extension.
    if (IconPerFile(extension))
        return Shell().SmallIcon(path);
    TExtensionIconCache& cache = TExtensionIconCache::Instance();
    if (std::optional<QIcon> cached = cache.Find(extension))
        return *cached;
    QIcon icon = Shell().SmallIcon(path);
    cache.Add(extension, icon);
    return icon;
}

void TFileListBox::SortEntries() {
    // Sort keys are made once per name, so the comparisons stay cheap.
    const QCollator& collator = DisplayNameCollator();
    struct Slot {
        bool folder;
        QCollatorSortKey key;
        std::size_t index;
    };
    std::vector<Slot> order;
    order.reserve(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i)
        order.push_back({entries_[i].IsFolder,
                         collator.sortKey(QString::fromStdString(entries_[i].EntryName)), i});
    // Names that compare equal may come in either order.
    std::sort(order.begin(), order.end(), [](const Slot& a, const Slot& b) {
        if (a.folder != b.folder)
            return a.folder;
        return a.key.compare(b.key) < 0;
    });
    std::vector<TRzFileInfo> sorted;
    sorted.reserve(entries_.size());
    for (const Slot& s : order) sorted.push_back(std::move(entries_[s.index]));
    entries_.swap(sorted);
}

void TFileListBox::Change() {
    lastSelIndex_ = ItemIndex();
    lastSelected_ = Selected(lastSelIndex_);
    if (fileEdit_) {
        std::string name = SelectedName();
        fileEdit_->setText(QString::fromStdString(name.empty() ? mask_ : name));
        fileEdit_->selectAll();
    }
    if (OnChange)
        OnChange(this);
}

void TFileListBox::SelectionClick() {
    if (OnClick)
        OnClick(this);
    if (ItemIndex() != lastSelIndex_ || Selected(ItemIndex()) != lastSelected_)
        Change();
}

void TFileListBox::DblClick() {
    if (OnDblClick)
        OnDblClick(this);
    const int index = ItemIndex();
    if (index < 0 || index >= Count())
        return;
    const std::string name = Items(index);
    auto& files = Files();
    const PathRules& rules = files.Rules();
    if (files.DirectoryExists(rules.Join(listDir_, name))) {
        BeginUpdate();
        const core::ScopeExit done([this] { EndUpdate(); });
        ApplyPathText(name);
    } else if (allowOpen_) {
        if (!Shell().OpenDocument(rules.Join(listDir_, name)))
            platform::Window().ShowMessage("Could not open file.", "",
                                           platform::MessageIcon::Information);
    }
}

void TFileListBox::ApplyPathText(const std::string& text) {
    auto& files = Files();
    const PathRules& rules = files.Rules();
    if (text.empty() || rules.SameName(text, SelectedPath()))
        return;

    TPathText parts;
    {
        // Names are this list's, whichever list read its folder last: with
        // its folder gone or shut, a relative name has nothing to stand on.
        const std::string saved = files.CurrentDirectory();
        const core::ScopeExit back([&] { files.SetCurrentDirectory(saved); });
        std::string error;
        if (!files.SetCurrentDirectory(listDir_, &error) && !rules.IsAbsolute(text))
            throw EInOutError(error);
        parts = SplitPathText(text);
    }

    // Without drive letters every local path can be opened in the tree; a
    // network path stays where it is.
    const bool windows = rules.Style() == PathStyle::Windows;
    const bool local = windows ? parts.driveLetter != 0 : !parts.network;
    const std::string target = parts.driveLetter
                                   ? std::string(1, parts.driveLetter) + ":" + parts.folderPart
                                   : parts.folderPart;
    if (linkedTree_) {
        if (local)
            linkedTree_->OpenDir(target);
    } else {
        SetListDir(target);
    }
    const std::string& filePart = parts.filePart;
    if (HasWildcard(filePart)) {
        SetMask(filePart);
    } else if (!filePart.empty()) {
        if (!rules.SameName(SelectedName(), filePart)) {
            SetItemIndex(FindExact(filePart));
            Change();
        }
        if (!files.FileExists(rules.Join(listDir_, filePart)))
            throw EInOutError(Format("The %s file does not exist", {text}));
        if (SelectedName().empty()) {
            SetMask(filePart);
            SetItemIndex(FindExact(filePart));
            Change();
        }
    }
}

void TFileListBox::ComponentInserted(TComponent* component) {
    auto* tree = dynamic_cast<TRzDirectoryTree*>(component);
    auto* self = dynamic_cast<TRzFileListBox*>(this);
    // Only a tree and a list that are both free link by themselves.
    if (tree && self && !tree->FileList() && !linkedTree_)
        tree->SetFileList(self);
}

void TFileListBox::ComponentRemoved(TComponent* component) {
    if (linkedTree_ && component == static_cast<TComponent*>(linkedTree_))
        linkedTree_ = nullptr;
}

void TFileListBox::showEvent(QShowEvent* e) {
    HandleNeeded();
    QListView::showEvent(e);
}

void TFileListBox::changeEvent(QEvent* e) {
    QListView::changeEvent(e);
    if (e->type() == QEvent::FontChange) {
        // A new font gives the list a new native window, which reads its
        // folder again.
        RecomputeItemHeight();
        ReadEntries();
    }
}

void TFileListBox::ByView(const std::function<void()>& handle, bool click) {
    if (inViewInput_) {
        handle();
        return;
    }
    viewMovedSelection_ = false;
    {
        const auto input = core::SetForScope(inViewInput_, true);
        handle();
    }
    if (viewMovedSelection_ || click)
        SelectionClick();
}

void TFileListBox::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QListView::currentChanged(current, previous);
    if (inViewInput_)
        viewMovedSelection_ = true;
}

void TFileListBox::selectionChanged(const QItemSelection& selected,
                                    const QItemSelection& deselected) {
    QListView::selectionChanged(selected, deselected);
    if (inViewInput_)
        viewMovedSelection_ = true;
}

void TFileListBox::mousePressEvent(QMouseEvent* e) {
    const bool click = e->button() == Qt::LeftButton && indexAt(e->position().toPoint()).isValid();
    ByView([&] { QListView::mousePressEvent(e); }, click);
}

void TFileListBox::mouseMoveEvent(QMouseEvent* e) {
    ByView([&] { QListView::mouseMoveEvent(e); }, false);
}

void TFileListBox::mouseReleaseEvent(QMouseEvent* e) {
    ByView([&] { QListView::mouseReleaseEvent(e); }, false);
}

void TFileListBox::mouseDoubleClickEvent(QMouseEvent* e) {
    ByView([&] { QListView::mouseDoubleClickEvent(e); }, false);
    if (e->button() == Qt::LeftButton)
        DblClick();
}

void TFileListBox::keyPressEvent(QKeyEvent* e) {
    ByView([&] { QListView::keyPressEvent(e); }, false);
}

// ---------------------------------------------------------------------------
// File list with colours and frame

TRzFileListBox::TRzFileListBox(TComponent* owner, QWidget* parent)
    : TFileListBox(owner, parent, false), TRzFramedControl(this, this) {
    ApplyColor();
    if (owner)
        owner->InsertComponent(this);
}

TRzFileListBox::~TRzFileListBox() = default;

void TRzFileListBox::AfterLoad() {
    ApplyLoadedLook();
}

void TRzFileListBox::FrameRecreated() {
    ReadEntries();
}

bool TRzFileListBox::event(QEvent* e) {
    const bool result = TFileListBox::event(e);
    FramedEvent(e);
    return result;
}

void TRzFileListBox::wheelEvent(QWheelEvent* e) {
    const int notches = WheelNotches(e);
    const TRzNotifyEvent& each = notches < 0 ? OnMouseWheelDown : OnMouseWheelUp;
    for (int i = 0; i < std::abs(notches) && each; ++i) each(this);
    ScrollByWheel(notches, TPastTop::Ignore);
}
