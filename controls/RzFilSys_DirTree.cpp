// The directory tree: drives as root nodes, folders below them read when
// first needed, the selected folder shown in the linked file list.

#include <QCollator>
#include <QLabel>
#include <QLayout>
#include <algorithm>

#include "controls/RzFilSys.h"
#include "controls/RzFilSysShell.h"
#include "core/Exceptions.h"
#include "core/Format.h"
#include "core/ScopeGuard.h"
#include "platform/WindowLayer.h"

using platform::fs::Drive;
using platform::fs::Files;
using platform::fs::PathRules;
using platform::fs::PathStyle;

namespace {

constexpr const char* kPlaceholder = ":";

bool OpensWithoutTouchingMedium(int kind) {
    // Removable media and discs may be absent, a share may not answer: their
    // nodes get an expand button without asking the volume.
    return kind == platform::fs::dkUnknown || kind == platform::fs::dkNoRootDir ||
           kind == platform::fs::dkRemovable || kind == platform::fs::dkCdRom ||
           kind == platform::fs::dkRemote;
}

// Shows the hourglass; the cursor goes back to what it was when the
// returned guard goes.
[[nodiscard]] auto HourGlass() {
    const int saved = platform::Window().ScreenCursor();
    platform::Window().SetScreenCursor(platform::crHourGlass);
    return core::ScopeExit([saved] { platform::Window().SetScreenCursor(saved); });
}

}  // namespace

TRzDirectoryTree::TRzDirectoryTree(TComponent* owner, QWidget* parent)
    : TRzCustomTreeView(owner, parent, false) {
    if (owner)
        owner->InsertComponent(this);
}

TRzDirectoryTree::~TRzDirectoryTree() {
    destroyingView_ = true;
    if (HandleAllocated())
        DestroyWnd();
    if (fileList_ && fileList_->LinkedTree() == this)
        fileList_->SetLinkedTree(nullptr);
    ClearNodes();
}

const PathRules& TRzDirectoryTree::Rules() const {
    return Files().Rules();
}

TFolderInfo* TRzDirectoryTree::InfoOf(TTreeNode* node) {
    return node ? dynamic_cast<TFolderInfo*>(node->NodeData()) : nullptr;
}

// ---------------------------------------------------------------------------
// Properties and links

void TRzDirectoryTree::SetFileList(TRzFileListBox* list) {
    if (list == fileList_) {
        if (list)
            list->SetLinkedTree(this);
        return;
    }
    if (fileList_ && fileList_->LinkedTree() == this)
        fileList_->SetLinkedTree(nullptr);
    fileList_ = list;
    if (!list)
        return;
    // A list follows one tree: the one it followed lets it go.
    if (TRzDirectoryTree* other = list->LinkedTree(); other && other != this)
        other->fileList_ = nullptr;
    list->SetLinkedTree(this);
    FreeNotification(list);
}

void TRzDirectoryTree::SetDirLabel(QLabel* label) {
    dirLabel_ = label;
    UpdateDirLabel();
}

void TRzDirectoryTree::SetDriveTypes(TDriveTypes types) {
    if (types == driveTypes_)
        return;
    driveTypes_ = types;
    if (HandleAllocated())
        RefreshDrives();
}

void TRzDirectoryTree::SetShowHiddenDirs(bool on) {
    if (on == showHiddenDirs_)
        return;
    showHiddenDirs_ = on;
    if (HandleAllocated())
        Rebuild();
}

void TRzDirectoryTree::SetNetworkVolumeFormat(TNetworkVolumeFormat format) {
    if (format == networkVolumeFormat_)
        return;
    networkVolumeFormat_ = format;
    if (HandleAllocated())
        Rebuild();
}

void TRzDirectoryTree::ComponentInserted(TComponent* component) {
    auto* list = dynamic_cast<TRzFileListBox*>(component);
    if (list && !fileList_ && !list->LinkedTree())
        SetFileList(list);
}

void TRzDirectoryTree::ComponentRemoved(TComponent* component) {
    TRzCustomTreeView::ComponentRemoved(component);
    if (fileList_ && component == static_cast<TComponent*>(fileList_))
        fileList_ = nullptr;
}

// ---------------------------------------------------------------------------
// The view's life

void TRzDirectoryTree::CreateWnd() {
    updating_ = true;
    openFolderIcon_ = Shell().SmallIcon("", true);
    updating_ = false;
    RebuildDrives();
    if (&Files() == &platform::fs::SystemFiles())
        TRzDeviceNotices::Instance().WatchSystem();
    deviceHook_ = connect(&TRzDeviceNotices::Instance(), &TRzDeviceNotices::Changed, this,
                          &TRzDirectoryTree::DeviceChanged);
    if (IsDesigning())
        return;
    if (!savedDir_.empty()) {
        std::string dir = std::move(savedDir_);
        savedDir_.clear();
        OpenDir(dir);
    } else {
        OpenDir(CurrentDriveRoot());
    }
}

void TRzDirectoryTree::DestroyWnd() {
    savedDir_ = SelectedDir();
    disconnect(deviceHook_);
}

void TRzDirectoryTree::AfterLoad() {
    TRzCustomTreeView::AfterLoad();
    RebuildDrives();
    if (IsDesigning())
        return;
    OpenDir(openCurrentDir_ ? Files().CurrentDirectory() : CurrentDriveRoot());
}

std::string TRzDirectoryTree::CurrentDriveRoot() const {
    const PathRules& rules = Rules();
    const std::string current = Files().CurrentDirectory();
    if (rules.Style() == PathStyle::Windows)
        return current.substr(0, 3);
    std::string best = "/";
    for (const std::string& root : shownDrives_)
        if (rules.IsInside(current, root) && root.size() > best.size())
            best = root;
    return best;
}

// ---------------------------------------------------------------------------
// Drives

std::vector<Drive> TRzDirectoryTree::AvailableDrives() const {
    return ::AvailableDrives(driveTypes_);
}

std::int64_t TRzDirectoryTree::VolumeSerial(const std::string& root) const {
    auto it = volumeSerials_.find(Rules().WithTrailingSeparator(root));
    return it == volumeSerials_.end() ? 0 : it->second;
}

std::optional<std::int64_t> TRzDirectoryTree::CurrentSerial(const std::string& root) {
    const auto now = std::chrono::steady_clock::now();
    auto it = serialChecks_.find(root);
    if (it != serialChecks_.end() && now - it->second.at < volumeCheckInterval_)
        return it->second.serial;
    bool timedOut = false;
    auto info = Files().ReadVolume(root, &timedOut);
    if (timedOut)
        return std::nullopt;
    const std::int64_t serial = info ? static_cast<std::int64_t>(info->serial) : kUnreadableSerial;
    serialChecks_[root] = {serial, now};
    return serial;
}

void TRzDirectoryTree::AttachFolder(TTreeNode* node, const std::string& path) {
    node->image = Shell().SmallIcon(path);
    // One look-up per folder: selected, a folder shows the generic open
    // folder, and a drive its own icon.
    node->selectedImage = node->Parent() ? openFolderIcon_ : node->image;
    AttachInfo(node, path);
}

void TRzDirectoryTree::AttachInfo(TTreeNode* node, const std::string& path) {
    auto info = std::make_unique<TFolderInfo>();
    info->Path = path;
    node->setIcon(0, node->image);
    node->SetNodeData(std::move(info));
}

TTreeNode* TRzDirectoryTree::MakeDriveNode(const Drive& drive, TTreeNode* before) {
    const std::string root = Rules().WithTrailingSeparator(drive.root);
    std::string caption;
    if (drive.kind == platform::fs::dkRemovable) {
        // The desktop's name: the medium is not asked for its label.
        caption = Shell().DisplayName(root);
    } else {
        TVolumeCaption volume = VolumeCaption(root, networkVolumeFormat_, drive.kind);
        caption = volume.caption;
        volumeSerials_[root] = volume.serial;
    }
    // What was read of an earlier volume at this root says nothing of this one.
    serialChecks_.erase(root);
    TTreeNode* node = before ? InsertRoot(before, caption) : AddChild(nullptr, caption);
    if (OpensWithoutTouchingMedium(drive.kind)) {
        unaskedRoots_.push_back(root);
        // Even the icon of such a drive comes without a look at its root.
        node->image = node->selectedImage = Shell().DriveIcon(drive.kind);
        AttachInfo(node, root);
        AddChild(node, kPlaceholder);
    } else {
        AttachFolder(node, root);
        MarkExpandable(node);
    }
    return node;
}

void TRzDirectoryTree::RebuildDrives() {
    if (!HandleAllocated() || IsLoading())
        return;
    updating_ = true;
    const auto hourglass = HourGlass();
    BeginUpdate();
    const core::ScopeExit done([this] {
        EndUpdate();
        if (TTreeNode* selected = Selected())
            scrollToItem(selected);
        updating_ = false;
    });
    ClearNodes();
    platform::Window().ProcessMessages();
    std::vector<Drive> drives = AvailableDrives();
    shownDrives_.clear();
    unaskedRoots_.clear();
    for (const Drive& d : drives) shownDrives_.push_back(Rules().WithTrailingSeparator(d.root));
    for (const Drive& d : drives) {
        MakeDriveNode(d, nullptr);
        platform::Window().ProcessMessages();
    }
}

void TRzDirectoryTree::RefreshDrives() {
    updating_ = true;
    BeginUpdate();
    const core::ScopeExit done([this] {
        updating_ = false;
        EndUpdate();
        viewport()->update();
    });
    std::vector<Drive> drives = AvailableDrives();
    std::vector<std::string> roots;
    for (const Drive& d : drives) roots.push_back(Rules().WithTrailingSeparator(d.root));
    for (const std::string& root : shownDrives_) {
        if (std::find(roots.begin(), roots.end(), root) != roots.end())
            continue;
        if (TTreeNode* node = FindDriveNode(root)) {
            ResetNode(node);
            DeleteNode(node);
        }
        std::erase(unaskedRoots_, root);
    }
    for (std::size_t i = 0; i < drives.size(); ++i) {
        if (std::find(shownDrives_.begin(), shownDrives_.end(), roots[i]) != shownDrives_.end())
            continue;
        TTreeNode* before = nullptr;
        for (int r = 0; r < RootCount() && !before; ++r) {
            TFolderInfo* info = InfoOf(Root(r));
            if (info && info->Path > roots[i])
                before = Root(r);
        }
        MakeDriveNode(drives[i], before);
    }
    shownDrives_ = roots;
}

void TRzDirectoryTree::DeviceChanged() {
    RefreshDrives();
    Change(Selected());
}

TTreeNode* TRzDirectoryTree::FindDriveNode(const std::string& root) const {
    const std::string wanted = Rules().WithTrailingSeparator(root);
    for (int i = 0; i < RootCount(); ++i) {
        TFolderInfo* info = InfoOf(Root(i));
        if (info && info->Path == wanted)
            return Root(i);
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Folders

std::uint32_t TRzDirectoryTree::FolderSearchAttributes() const {
    return platform::fs::faDirectory | (showHiddenDirs_ ? platform::fs::faHidden : 0u);
}

void TRzDirectoryTree::MarkExpandable(TTreeNode* node) {
    TFolderInfo* info = InfoOf(node);
    if (!info || info->ChildrenRead || IsDesigning() || node->Count() > 0)
        return;
    // A drive that is not asked at its own node is not asked where it
    // shows as a folder of another volume either.
    if (std::find(unaskedRoots_.begin(), unaskedRoots_.end(), info->Path) != unaskedRoots_.end()) {
        AddChild(node, kPlaceholder);
        return;
    }
    bool found = false;
    Files().FindFolders(info->Path, FolderSearchAttributes(), [&](const platform::fs::DirEntry& e) {
        if (e.name == "." || e.name == "..")
            return true;
        found = true;
        return false;
    });
    if (found)
        AddChild(node, kPlaceholder);
}

void TRzDirectoryTree::FillChildren(TTreeNode* node) {
    TFolderInfo* info = InfoOf(node);
    if (!info || info->ChildrenRead || IsDesigning())
        return;
    DeleteChildren(node);
    info->ChildrenRead = true;
    std::vector<std::string> names;
    Files().FindFolders(info->Path, FolderSearchAttributes(), [&](const platform::fs::DirEntry& e) {
        if (e.name != "." && e.name != "..")
            names.push_back(e.name);
        return true;
    });
    const QCollator& collator = DisplayNameCollator();
    std::vector<std::pair<QCollatorSortKey, std::string>> keyed;
    keyed.reserve(names.size());
    for (auto& n : names)
        keyed.emplace_back(collator.sortKey(QString::fromStdString(n)), std::move(n));
    std::sort(keyed.begin(), keyed.end(),
              [](const auto& a, const auto& b) { return a.first.compare(b.first) < 0; });
    const std::string parentPath = info->Path;
    for (const auto& [key, name] : keyed) {
        TTreeNode* child = AddChild(node, name);
        AttachFolder(child, Rules().WithTrailingSeparator(parentPath + name));
    }
}

bool TRzDirectoryTree::CanExpand(TTreeNode* node) {
    {
        const auto hourglass = HourGlass();
        FillChildren(node);
        for (int i = 0; i < node->Count(); ++i) MarkExpandable(node->Item(i));
    }
    return TRzCustomTreeView::CanExpand(node);
}

void TRzDirectoryTree::ResetNode(TTreeNode* node) {
    if (!node)
        return;
    // A node whose folders are forgotten shows them again only when opened.
    SetExpandedQuietly(node, false);
    DeleteChildren(node);
    if (TFolderInfo* info = InfoOf(node))
        info->ChildrenRead = false;
    MarkExpandable(node);
}

void TRzDirectoryTree::ClearNodes() {
    const bool bracket = HandleAllocated();
    if (bracket)
        BeginUpdate();
    std::function<void(TTreeNode*)> release = [&](TTreeNode* node) {
        for (int i = 0; i < node->Count(); ++i) release(node->Item(i));
        node->SetNodeData(nullptr);
    };
    for (int i = 0; i < RootCount(); ++i) release(Root(i));
    DeleteAll();
    if (bracket)
        EndUpdate();
}

void TRzDirectoryTree::Rebuild() {
    const std::string saved = SelectedDir();
    RebuildDrives();
    if (!saved.empty())
        OpenDir(saved);
}

// ---------------------------------------------------------------------------
// Opening and selection

std::string TRzDirectoryTree::SelectedDir() const {
    TFolderInfo* info = InfoOf(Selected());
    if (!info)
        return {};
    return Rules().WithoutTrailingSeparator(info->Path);
}

std::string TRzDirectoryTree::DriveRootOf(TTreeNode* node) const {
    if (!node)
        return {};
    while (node->Parent()) node = node->Parent();
    TFolderInfo* info = InfoOf(node);
    return info ? info->Path : std::string();
}

std::string TRzDirectoryTree::SelectedDrive() const {
    std::string root = DriveRootOf(Selected());
    return root.empty() ? root : Rules().WithoutTrailingSeparator(root);
}

namespace {

// The folder itself when it exists, else its nearest existing ancestor
// (with its trailing separator); empty when there is none.
std::string NearestExistingFolder(const std::string& folder) {
    auto& files = Files();
    const PathRules& rules = files.Rules();
    if (files.DirectoryExists(folder))
        return folder;
    for (std::size_t k = folder.size(); k-- > 0;) {
        if (!rules.IsSeparator(folder[k]))
            continue;
        std::string prefix = folder.substr(0, k + 1);
        if (files.DirectoryExists(prefix))
            return prefix;
    }
    return {};
}

// The drive node whose root holds the path; with mount points nested in
// other volumes, the deepest such root.
TTreeNode* DriveNodeHolding(const TRzDirectoryTree& tree, const std::string& path) {
    const PathRules& rules = Files().Rules();
    TTreeNode* match = nullptr;
    for (int i = 0; i < tree.RootCount(); ++i) {
        TFolderInfo* info = TRzDirectoryTree::InfoOf(tree.Root(i));
        if (!info)
            break;
        if (info->Path.size() > path.size() ||
            !rules.SameName(std::string_view(path).substr(0, info->Path.size()), info->Path))
            continue;
        if (!match || info->Path.size() > TRzDirectoryTree::InfoOf(match)->Path.size())
            match = tree.Root(i);
    }
    return match;
}

// The child of `node` for the folder `path` (with its trailing separator);
// nullptr when the node does not show it.
TTreeNode* ChildFor(TTreeNode* node, const std::string& path) {
    const PathRules& rules = Files().Rules();
    for (int i = 0; i < node->Count(); ++i) {
        TFolderInfo* info = TRzDirectoryTree::InfoOf(node->Item(i));
        if (!info)
            break;
        if (rules.SameName(info->Path, path))
            return node->Item(i);
    }
    return nullptr;
}

}  // namespace

void TRzDirectoryTree::OpenDir(const std::string& path) {
    auto& files = Files();
    const PathRules& rules = files.Rules();
    std::string target = MapUncPath(rules.MakeAbsolute(path, files.CurrentDirectory()));
    if (target.empty() || rules.SameName(target, SelectedDir()))
        return;
    if (rules.Style() == PathStyle::Windows)
        target = QString::fromStdString(target).toUpper().toStdString();
    target = NearestExistingFolder(target);
    if (target.empty())
        throw EInOutError(Format("The %s directory does not exist", {path}));
    target = rules.WithTrailingSeparator(target);

    HandleNeeded();
    const auto hourglass = HourGlass();
    BeginUpdate();
    const core::ScopeExit done([this] { EndUpdate(); });

    TTreeNode* match = DriveNodeHolding(*this, target);
    if (!match)
        return;
    // A medium exchanged since its drive was last read (or a removable
    // drive not read yet) is read afresh before the walk: selecting a
    // folder of it would otherwise renew the drive and discard that folder.
    RenewIfExchanged(InfoOf(match)->Path);
    if (!InfoOf(match)->ChildrenRead)
        FillChildren(match);
    std::size_t pos = InfoOf(match)->Path.size();
    while (pos < target.size()) {
        std::size_t next = pos;
        while (next < target.size() && !rules.IsSeparator(target[next])) ++next;
        // A folder the tree does not show (hidden, or on a drive it leaves
        // out) cannot be reached: the selection stays.
        match = ChildFor(match, target.substr(0, next + 1));
        if (!match)
            return;
        if (!InfoOf(match)->ChildrenRead)
            FillChildren(match);
        pos = next + 1;
    }
    Select(match);
    // The change handling may have put the selection elsewhere, and even
    // deleted `match`: what is selected now is what is shown.
    MakeVisible(Selected());
}

bool TRzDirectoryTree::CanChange(TTreeNode* node) {
    if (!TRzCustomTreeView::CanChange(node))
        return false;
    driveBeforeChange_ = SelectedDrive();
    return true;
}

void TRzDirectoryTree::Change(TTreeNode* node) {
    if (destroyingView_ || updating_ || renewingInChange_)
        return;
    const unsigned change = ++changesBegun_;
    // A handler below may open another folder (OpenDir from the list's
    // OnChange or from OnDriveChange); that change runs in full, and this
    // one, no longer about the selected node, ends there.
    auto overtaken = [&] { return changesBegun_ != change; };
    // Moving the selection to a reset drive below asks about the change
    // again; the drive the user came from is the one before this change.
    const std::string driveBefore = driveBeforeChange_;
    if (InfoOf(node)) {
        const std::string root = DriveRootOf(node);
        // Forgetting the old medium's folders moves the selection, and so
        // does selecting the drive below; only recursion is kept out.
        const auto renewing = core::SetForScope(renewingInChange_, true);
        if (RenewIfExchanged(root)) {
            // The folders of the old medium are gone, `node` among them:
            // the drive itself is what is selected now.
            node = FindDriveNode(root);
            Select(node);
        }
    }
    if (SelectedDrive() != driveBefore) {
        driveBeforeChange_ = SelectedDrive();
        if (OnDriveChange)
            OnDriveChange(this);
        if (overtaken())
            return;
    }
    if (fileList_) {
        fileList_->SetListDir(SelectedDir());
        if (overtaken())
            return;
    }
    UpdateDirLabel();
    TRzCustomTreeView::Change(node);
}

bool TRzDirectoryTree::RenewIfExchanged(const std::string& root) {
    // A volume that does not answer in time (a slow share, a drive spinning
    // up) is not taken as exchanged: its folders stay.
    const std::optional<std::int64_t> serial = CurrentSerial(root);
    if (!serial || *serial == VolumeSerial(root))
        return false;
    TTreeNode* drive = FindDriveNode(root);
    if (!drive)
        return false;
    ResetNode(drive);
    TVolumeCaption volume = VolumeCaption(root, networkVolumeFormat_);
    drive->SetText(volume.caption);
    volumeSerials_[root] = volume.serial;
    if (volume.serial == kUnreadableSerial)
        DeleteChildren(drive);
    else if (drive->Count() == 0)
        AddChild(drive, kPlaceholder);
    return true;
}

void TRzDirectoryTree::Click() {
    TTreeNode* node = Selected();
    if (InfoOf(node)) {
        const std::string root = DriveRootOf(node);
        const std::optional<std::int64_t> serial = CurrentSerial(root);
        if (serial && *serial != VolumeSerial(root)) {
            Change(node);
            return;
        }
    }
    TRzCustomTreeView::Click();
}

namespace {

bool LayoutHolds(const QLayout& layout, const QWidget& widget) {
    for (int i = 0; i < layout.count(); ++i) {
        QLayoutItem* item = layout.itemAt(i);
        if (item->widget() == &widget || (item->layout() && LayoutHolds(*item->layout(), widget)))
            return true;
    }
    return false;
}

// A label sizes itself when a layout gives it its text's width and never
// more: its own width is then that of the text it showed before.
bool SizesItself(const QLabel& label) {
    const QWidget* parent = label.parentWidget();
    return parent && parent->layout() &&
           !(label.sizePolicy().horizontalPolicy() & QSizePolicy::GrowFlag) &&
           LayoutHolds(*parent->layout(), label);
}

}  // namespace

void TRzDirectoryTree::UpdateDirLabel() {
    if (!dirLabel_)
        return;
    const int width = SizesItself(*dirLabel_) ? this->width() : dirLabel_->width();
    dirLabel_->setText(
        QString::fromStdString(ShortenPathForLabel(SelectedDir(), dirLabel_->font(), width)));
}

// ---------------------------------------------------------------------------
// Renaming

bool TRzDirectoryTree::CanEdit(TTreeNode* node) {
    return node && node->Level() > 0 && InfoOf(node);
}

bool TRzDirectoryTree::Edited(TTreeNode* node, const std::string& text) {
    TFolderInfo* info = InfoOf(node);
    if (!info || node->Level() == 0)
        return false;
    auto& files = Files();
    const PathRules& rules = files.Rules();
    const std::string oldPath = rules.WithoutTrailingSeparator(info->Path);
    const std::string sep(1, rules.Separator());
    const std::string newPath =
        rules.MakeAbsolute(oldPath + sep + ".." + sep + text, files.CurrentDirectory());
    // A name with a separator in it would move the folder elsewhere.
    if (!rules.IsValidName(text) || !files.Rename(oldPath, newPath)) {
        platform::Window().ShowMessage(
            "A directory name cannot contain any of the following characters:\r\\ / : * ? \" < > |",
            "", platform::MessageIcon::Stop);
        return false;
    }
    // The folders below keep pointing at their new place.
    const std::string oldPrefix = info->Path;
    const std::string newPrefix = rules.WithTrailingSeparator(newPath);
    std::function<void(TTreeNode*)> move = [&](TTreeNode* n) {
        if (TFolderInfo* i = InfoOf(n))
            i->Path = newPrefix + i->Path.substr(oldPrefix.size());
        for (int c = 0; c < n->Count(); ++c) move(n->Item(c));
    };
    move(node);
    node->SetText(text);
    Change(node);
    return true;
}

void TRzDirectoryTree::KeyHandled(int key, Qt::KeyboardModifiers modifiers) {
    TRzCustomTreeView::KeyHandled(key, modifiers);
    if (key == Qt::Key_F2)
        StartEditing(Selected());
}
