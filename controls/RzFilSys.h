#pragma once
// The file browsing controls: a list of the files of one folder, a tree of
// drives and folders that drives it, and the drive and path functions under
// them. Folders are written without a trailing separator except a root
// ("/", "C:\"); joining puts one separator between folder and name.

#include <QAbstractListModel>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "controls/RzTreeVw.h"
#include "core/Component.h"
#include "platform/fs/FileSystem.h"

namespace platform::fs {
class MountWatch;
}

class QFont;
class TRzDirectoryTree;

// ---------------------------------------------------------------------------
// Drives and paths

// Kinds of drive; the ordinal is the volume's kind code.
enum TDriveType { dtUnknown, dtNoDrive, dtFloppy, dtFixed, dtNetwork, dtCDROM, dtRAM };
using TDriveTypes = unsigned;
constexpr TDriveTypes DriveTypeBit(TDriveType type) {
    return 1u << type;
}
// Every kind but "no root directory" (value 125).
constexpr TDriveTypes kDefaultDriveTypes = 125;

enum TNetworkVolumeFormat { nvfExplorer, nvfUNC, nvfVolumeOnly };

// A serial number of a volume that cannot be read.
constexpr std::int64_t kUnreadableSerial = -1;

// The volumes whose kind is among `types`, in root order. Kinds outside the
// known codes, and volumes without a root directory, are always kept.
std::vector<platform::fs::Drive> AvailableDrives(TDriveTypes types);
// With drive letters: bit 0 for A up to bit 25 for Z.
std::uint32_t DriveMask(const std::vector<platform::fs::Drive>& drives);

struct TVolumeCaption {
    std::string caption;
    std::int64_t serial = kUnreadableSerial;
};
// "Data (D:)", " (D:)", "(A:)" for an unreadable volume; network drives
// after `format`. Here the mount point stands where a drive letter is.
TVolumeCaption VolumeCaption(const std::string& root, TNetworkVolumeFormat format);
// For a caller that has the volume's kind already: finding it means listing
// every volume, which on this system probes each mount.
TVolumeCaption VolumeCaption(const std::string& root, TNetworkVolumeFormat format, int kind);
// The share a network drive maps, with server and share capitalised:
// "\\Server\Share", "//Server/Share", "server:/export".
std::string UncRoot(const std::string& root);
// A path given in a share's universal form, put on the drive that maps the
// share; any other path unchanged; empty when no drive maps it.
std::string MapUncPath(const std::string& path);
// The path with leading folders replaced by "..." until it fits `width`.
std::string ShortenPathForLabel(const std::string& path, const QFont& font, int width);
std::string ShortenPathForLabel(const std::string& path,
                                const std::function<int(const std::string&)>& textWidth, int width);

// Compares names for display: the user's locale, letter case ignored.
int CompareNamesForDisplay(const std::string& a, const std::string& b);

// Tells the trees that volumes came or went. On this system the mount table
// is watched; tests call Notify.
class TRzDeviceNotices : public QObject {
    Q_OBJECT
  public:
    static TRzDeviceNotices& Instance();
    // Starts watching the system's mount table (once).
    void WatchSystem();
    void Notify() { emit Changed(); }

  signals:
    void Changed();

  private:
    explicit TRzDeviceNotices(QObject* parent);
    ~TRzDeviceNotices() override;
    std::unique_ptr<platform::fs::MountWatch> watch_;
};

// ---------------------------------------------------------------------------
// File list

enum TFileAttr { ftReadOnly, ftHidden, ftSystem, ftVolumeID, ftDirectory, ftArchive, ftNormal };
using TFileType = unsigned;
constexpr TFileType FileAttrBit(TFileAttr attr) {
    return 1u << attr;
}
constexpr TFileType kDefaultFileType = 1u << ftNormal;

struct TRzFileInfo {
    std::string EntryName;
    std::uint32_t Attributes = 0;
    // Seconds since 1970, UTC.
    std::int64_t TimeStamp = 0;
    std::int64_t ByteSize = 0;
    bool IsFolder = false;
    // Empty when no icon was asked for or the shell gave none.
    QIcon Icon;
};

// One shell look-up per extension for the whole process.
class TExtensionIconCache {
  public:
    static TExtensionIconCache& Instance();
    // The key is the extension in lower case with its dot ("" for none).
    std::optional<QIcon> Find(const std::string& extension) const;
    // A second insert of the same extension is ignored.
    void Add(const std::string& extension, const QIcon& icon);
    int Count() const { return static_cast<int>(entries_.size()); }
    void Clear() { entries_.clear(); }

  private:
    std::vector<std::pair<std::string, QIcon>> entries_;
};

class TFileListModel;

class TFileListBox : public QListView, public TComponent {
    Q_OBJECT
  public:
    explicit TFileListBox(TComponent* owner = nullptr, QWidget* parent = nullptr);
    ~TFileListBox() override;

    const std::string& Mask() const { return mask_; }
    void SetMask(const std::string& mask);
    TFileType FileType() const { return fileType_; }
    void SetFileType(TFileType type);
    bool ShowGlyphs() const { return showGlyphs_; }
    void SetShowGlyphs(bool on);
    bool ShowLongNames() const { return showLongNames_; }
    void SetShowLongNames(bool on);
    bool AllowOpen() const { return allowOpen_; }
    void SetAllowOpen(bool on) { allowOpen_ = on; }
    QLineEdit* FileEdit() const { return fileEdit_; }
    void SetFileEdit(QLineEdit* edit) { fileEdit_ = edit; }
    int ItemHeight() const { return itemHeight_; }
    // Holds until the next recomputation (font or ShowGlyphs change).
    void SetItemHeight(int height);
    int Columns() const { return columns_; }
    void SetColumns(int columns);
    // Several items may be selected (with Ctrl and Shift); ItemIndex is then
    // the item that has the focus, selected or not. A change reads the
    // folder again, as a new native list would.
    bool MultiSelect() const { return multiSelect_; }
    void SetMultiSelect(bool on);

    // The folder shown, as the system reports it as current directory; a
    // folder that cannot be entered is kept as it was asked for. Setting
    // the same folder again reads it only when its last read failed.
    const std::string& ListDir() const { return listDir_; }
    void SetListDir(const std::string& folder);
    int LastSelIndex() const { return lastSelIndex_; }
    TRzDirectoryTree* LinkedTree() const { return linkedTree_; }
    bool ReadingEntries() const { return readingEntries_; }

    int Count() const { return static_cast<int>(entries_.size()); }
    const std::string& Items(int index) const {
        return entries_.at(static_cast<std::size_t>(index)).EntryName;
    }
    const TRzFileInfo& Entries(int index) const {
        return entries_.at(static_cast<std::size_t>(index));
    }
    int ItemIndex() const;
    // With MultiSelect on, only moves the focus.
    void SetItemIndex(int index);
    bool Selected(int index) const;
    // Without MultiSelect, selecting an item makes it the current one.
    void SetSelected(int index, bool selected);
    // Index of the item whose whole text is `text` by the platform's name
    // comparison; -1 when none.
    int FindExact(const std::string& text) const;

    std::string SelectedName() const;
    std::string SelectedPath() const;
    std::string SelectedLongPath() const;
    std::string SelectedShortPath() const;
    // Moves to the folder of a typed path, applies a pattern as mask, or
    // selects the named file.
    void ApplyPathText(const std::string& text);

    void ReadEntries();
    void ReleaseEntries();
    // The list "has its handle" once it was shown or needed, as the tree
    // view's HandleAllocated (RzTreeVw.h) tells in Qt terms; only then does
    // it read its folder (CreateWnd).
    bool HandleAllocated() const { return handleAllocated_; }
    void HandleNeeded();
    // Repaints wait until the outermost bracket closes.
    void BeginUpdate();
    void EndUpdate();

    TRzNotifyEvent OnChange;
    TRzNotifyEvent OnClick;
    TRzNotifyEvent OnDblClick;

    // The item height for a font's cell height.
    static int ItemHeightFor(int cellHeight, bool glyphs);

  protected:
    friend class TRzDirectoryTree;
    friend class TFileListDelegate;
    // For derived classes, which join the owner once fully made.
    TFileListBox(TComponent* owner, QWidget* parent, bool joinOwner);
    void SetLinkedTree(TRzDirectoryTree* tree) { linkedTree_ = tree; }
    // Selection and folder changes end here.
    virtual void Change();
    virtual void CreateWnd();
    // The user moved the selection, or clicked an item: OnClick, then the
    // change handling if the current item or its selection differ from
    // what it last reported.
    void SelectionClick();
    void DblClick();
    void RecomputeItemHeight();
    void ComponentInserted(TComponent* component) override;
    void ComponentRemoved(TComponent* component) override;

    void showEvent(QShowEvent* e) override;
    void changeEvent(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;

  private:
    class TReading;
    // Hands one input event to the view; whatever selection change the view
    // made on the way (a press of either button, a drag, Ctrl+click, a key)
    // is handled once after it, as is a click on an item.
    void ByView(const std::function<void()>& handle, bool click);
    // One entry a search found: filtered, given its icon and appended.
    void AddEntry(const std::string& folder, const platform::fs::DirEntry& entry,
                  std::uint32_t search, std::unordered_set<std::string>* once);
    QIcon IconOf(const std::string& folder, const platform::fs::DirEntry& entry) const;
    void SortEntries();

    std::string mask_ = "*.*";
    TFileType fileType_ = kDefaultFileType;
    bool showGlyphs_ = true;
    bool showLongNames_ = true;
    bool allowOpen_ = false;
    bool multiSelect_ = false;
    QPointer<QLineEdit> fileEdit_;
    int itemHeight_ = 18;
    int columns_ = 0;
    std::string listDir_;
    int lastSelIndex_ = -1;
    // Whether that item was selected, as the change handling last saw it.
    bool lastSelected_ = false;
    bool inViewInput_ = false;
    bool viewMovedSelection_ = false;
    TRzDirectoryTree* linkedTree_ = nullptr;
    bool readingEntries_ = false;
    // The folder could not be entered or listed when it was last read.
    bool readFailed_ = false;
    bool handleAllocated_ = false;
    int updateCount_ = 0;
    std::vector<TRzFileInfo> entries_;
    TFileListModel* model_ = nullptr;
};

class TRzFileListBox : public TFileListBox, public TRzFramedControl {
    Q_OBJECT
  public:
    explicit TRzFileListBox(TComponent* owner = nullptr, QWidget* parent = nullptr);
    ~TRzFileListBox() override;

    TRzNotifyEvent OnMouseWheelUp;
    TRzNotifyEvent OnMouseWheelDown;

  protected:
    bool Loading() const override { return IsLoading(); }
    bool FrameRepaintSuppressed() const override { return ReadingEntries(); }
    void FrameRecreated() override;
    void AfterLoad() override;
    bool event(QEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
};

// ---------------------------------------------------------------------------
// Directory tree

// What a real node of the tree knows of its folder.
struct TFolderInfo : TTreeNode::Data {
    // Always with a trailing separator: "/", "/srv/BackUp/", "C:\App\".
    std::string Path;
    bool ChildrenRead = false;
};

class TRzDirectoryTree : public TRzCustomTreeView {
    Q_OBJECT
  public:
    explicit TRzDirectoryTree(TComponent* owner = nullptr, QWidget* parent = nullptr);
    ~TRzDirectoryTree() override;

    TRzFileListBox* FileList() const { return fileList_; }
    void SetFileList(TRzFileListBox* list);
    // Shows the selected folder, shortened to the label's width, or to the
    // tree's for a label a layout sizes to its text (horizontal policy
    // Fixed or Maximum).
    QLabel* DirLabel() const { return dirLabel_; }
    void SetDirLabel(QLabel* label);
    TDriveTypes DriveTypes() const { return driveTypes_; }
    void SetDriveTypes(TDriveTypes types);
    bool ShowHiddenDirs() const { return showHiddenDirs_; }
    void SetShowHiddenDirs(bool on);
    TNetworkVolumeFormat NetworkVolumeFormat() const { return networkVolumeFormat_; }
    void SetNetworkVolumeFormat(TNetworkVolumeFormat format);
    bool OpenCurrentDir() const { return openCurrentDir_; }
    void SetOpenCurrentDir(bool on) { openCurrentDir_ = on; }
    // How long a volume's serial, read to notice an exchanged medium, is
    // taken as still true: one click asks twice (selection and click), and
    // each read may wait for a slow volume.
    std::chrono::milliseconds VolumeCheckInterval() const { return volumeCheckInterval_; }
    void SetVolumeCheckInterval(std::chrono::milliseconds interval) {
        volumeCheckInterval_ = interval;
    }

    // Expands the tree down to a folder and selects it. A missing folder
    // opens its nearest existing ancestor; with none, EInOutError.
    void OpenDir(const std::string& path);
    // The selected folder ("/" or "C:\" for a drive, no trailing separator
    // otherwise); empty without a selection.
    std::string SelectedDir() const;
    // The root of the drive node the selection lies under ("/mnt/data",
    // "C:\"); empty without a selection.
    std::string SelectedDrive() const;

    void Rebuild();
    void RebuildDrives();
    void RefreshDrives();
    void ClearNodes();
    void ResetNode(TTreeNode* node);
    void UpdateDirLabel();
    std::vector<platform::fs::Drive> AvailableDrives() const;
    // Roots of the drives that have nodes.
    const std::vector<std::string>& ShownDrives() const { return shownDrives_; }
    // Serial of the volume last seen at a drive root (0 before any).
    std::int64_t VolumeSerial(const std::string& root) const;
    bool Updating() const { return updating_; }
    // A volume came or went.
    void DeviceChanged();

    void FillChildren(TTreeNode* node);
    void MarkExpandable(TTreeNode* node);
    TTreeNode* FindDriveNode(const std::string& root) const;
    static TFolderInfo* InfoOf(TTreeNode* node);

    TRzNotifyEvent OnDriveChange;

  protected:
    void CreateWnd() override;
    void DestroyWnd() override;
    bool CanExpand(TTreeNode* node) override;
    bool CanChange(TTreeNode* node) override;
    void Change(TTreeNode* node) override;
    void Click() override;
    bool CanEdit(TTreeNode* node) override;
    bool Edited(TTreeNode* node, const std::string& text) override;
    void KeyHandled(int key, Qt::KeyboardModifiers modifiers) override;
    void AfterLoad() override;
    void ComponentInserted(TComponent* component) override;
    void ComponentRemoved(TComponent* component) override;

  private:
    const platform::fs::PathRules& Rules() const;
    TTreeNode* MakeDriveNode(const platform::fs::Drive& drive, TTreeNode* before);
    // Gives a node its folder and the shell's icons for it.
    void AttachFolder(TTreeNode* node, const std::string& path);
    // Gives a node its folder, keeping the icons it has.
    void AttachInfo(TTreeNode* node, const std::string& path);
    // The serial of the volume at a drive root now (or as read within the
    // check interval); none when the volume did not answer in time.
    std::optional<std::int64_t> CurrentSerial(const std::string& root);
    // When the volume at a drive root is not the one last seen, forgets the
    // drive's folders and reads its caption again; true when it did.
    bool RenewIfExchanged(const std::string& root);
    std::string DriveRootOf(TTreeNode* node) const;
    std::string CurrentDriveRoot() const;
    std::uint32_t FolderSearchAttributes() const;

    TRzFileListBox* fileList_ = nullptr;
    QPointer<QLabel> dirLabel_;
    TDriveTypes driveTypes_ = kDefaultDriveTypes;
    bool showHiddenDirs_ = false;
    TNetworkVolumeFormat networkVolumeFormat_ = nvfExplorer;
    bool openCurrentDir_ = false;
    std::map<std::string, std::int64_t> volumeSerials_;
    struct TSerialCheck {
        std::int64_t serial;
        std::chrono::steady_clock::time_point at;
    };
    std::map<std::string, TSerialCheck> serialChecks_;
    std::chrono::milliseconds volumeCheckInterval_{1000};
    std::vector<std::string> shownDrives_;
    // Roots of the shown drives whose media or servers are never asked
    // whether they hold folders.
    std::vector<std::string> unaskedRoots_;
    std::string driveBeforeChange_;
    bool updating_ = false;
    // Set while the change handling renews an exchanged drive: the
    // selection moves that causes are its own steps, not new changes.
    bool renewingInChange_ = false;
    // Counts the change handlings begun: an outer one that a nested one
    // overtook stops, the newer selection having been handled whole.
    unsigned changesBegun_ = 0;
    std::string savedDir_;
    QIcon openFolderIcon_;
    QMetaObject::Connection deviceHook_;
};
