#pragma once
// The tree base of the browsing controls: nodes that own their data, the
// platform tree view's events at the points a derived tree hooks into, a
// selection outline kept visible without the focus, the context-menu keys,
// and the colour and frame handling it shares with the file list.

#include <QCollator>
#include <QMenu>
#include <QPen>
#include <QPointer>
#include <QTreeWidget>
#include <functional>
#include <memory>
#include <string>

#include "controls/RzFramedControl.h"
#include "core/Component.h"

// Orders names for display: the user's locale, letter case ignored.
const QCollator& DisplayNameCollator();

// A node of the tree. Real nodes carry data the node owns.
class TTreeNode : public QTreeWidgetItem {
  public:
    struct Data {
        virtual ~Data() = default;
    };

    explicit TTreeNode(const std::string& text);

    std::string Text() const;
    void SetText(const std::string& text);
    TTreeNode* Parent() const;
    int Count() const { return childCount(); }
    TTreeNode* Item(int index) const;
    int Level() const;

    Data* NodeData() const { return data_.get(); }
    void SetNodeData(std::unique_ptr<Data> data) { data_ = std::move(data); }

    // Image shown normally and while selected.
    QIcon image;
    QIcon selectedImage;

  private:
    std::unique_ptr<Data> data_;
};

using TRzNodeEvent = std::function<void(TComponent* sender, TTreeNode* node)>;
using TRzNodeAllowEvent = std::function<void(TComponent* sender, TTreeNode* node, bool& allow)>;
using TRzNodeCompareEvent =
    std::function<void(TComponent* sender, TTreeNode* a, TTreeNode* b, int& compare)>;
using TRzKeyEvent = std::function<void(TComponent* sender, int& key, Qt::KeyboardModifiers shift)>;

class TRzCustomTreeView : public QTreeWidget, public TComponent, public TRzFramedControl {
    Q_OBJECT
  public:
    explicit TRzCustomTreeView(TComponent* owner = nullptr, QWidget* parent = nullptr);
    ~TRzCustomTreeView() override;

    // The words of window handles, in Qt terms. A control "has its handle"
    // once it has been shown (showEvent) or once code that needs its
    // contents asked for them (HandleNeeded); only then is CreateWnd called,
    // once, and the control builds what it shows (a tree its drives and
    // folders, a file list its entries). DestroyWnd runs when the control
    // goes and lets go of what CreateWnd built. None of them makes or
    // destroys a native window: Qt owns that. Where a new handle would
    // mean reading again (a file list given a new font), the control does
    // so itself.
    bool HandleAllocated() const { return handleAllocated_; }
    void HandleNeeded();

    // The selected node; while a right-click is handled with
    // RightClickSelect on, the right-clicked node.
    TTreeNode* Selected() const;
    void Select(TTreeNode* node);
    int RootCount() const { return topLevelItemCount(); }
    TTreeNode* Root(int index) const;
    // Appends a node under `parent` (nullptr: a root node).
    TTreeNode* AddChild(TTreeNode* parent, const std::string& text);
    // A root node placed before `before` (appended when nullptr).
    TTreeNode* InsertRoot(TTreeNode* before, const std::string& text);
    // Deletes a node and its descendants, raising OnDeletion for each.
    void DeleteNode(TTreeNode* node);
    void DeleteChildren(TTreeNode* node);
    void DeleteAll();
    // Expands through the same checks as a click on the expand button.
    void ExpandNode(TTreeNode* node);
    void MakeVisible(TTreeNode* node);
    // Orders the children of a node (roots with nullptr) by OnCompare, or
    // by caption without letter case.
    void AlphaSort(TTreeNode* parent = nullptr);

    // Repaints wait until the outermost bracket closes.
    void BeginUpdate();
    void EndUpdate();

    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool on);
    bool HideSelection() const { return hideSelection_; }
    void SetHideSelection(bool on);
    bool AutoSelect() const { return autoSelect_; }
    void SetAutoSelect(bool on);
    bool AutoExpand() const { return autoExpand_; }
    void SetAutoExpand(bool on);
    bool RightClickSelect() const { return rightClickSelect_; }
    void SetRightClickSelect(bool on) { rightClickSelect_ = on; }
    const QPen& SelectionPen() const { return selectionPen_; }
    void SetSelectionPen(const QPen& pen);
    QMenu* PopupMenu() const { return popupMenu_; }
    void SetPopupMenu(QMenu* menu) { popupMenu_ = menu; }
    void SetIndent(int pixels) { setIndentation(pixels); }
    // The caption rectangle of a node, in viewport coordinates.
    QRect CaptionRect(TTreeNode* node) const;

    TRzNodeAllowEvent OnChanging;
    TRzNodeEvent OnChange;
    TRzNodeAllowEvent OnExpanding;
    TRzNodeEvent OnExpanded;
    TRzNodeAllowEvent OnCollapsing;
    TRzNodeEvent OnCollapsed;
    TRzNodeCompareEvent OnCompare;
    TRzNotifyEvent OnClick;
    TRzNotifyEvent OnDblClick;
    TRzNodeEvent OnDeletion;
    TRzKeyEvent OnKeyDown;

  protected:
    // For derived classes, which join the owner once fully made, so that
    // siblings hear of the finished control.
    TRzCustomTreeView(TComponent* owner, QWidget* parent, bool joinOwner);
    // Set by the destructors: no events are raised from here on.
    bool destroyingView_ = false;

    // The control gets and loses its handle (see HandleAllocated);
    // subclasses build and keep their contents here.
    virtual void CreateWnd() {}
    virtual void DestroyWnd() {}
    // Asked before a node expands (may read its children) and collapses.
    virtual bool CanExpand(TTreeNode* node);
    virtual bool CanCollapse(TTreeNode* node);
    virtual void Expanded(TTreeNode* node);
    virtual void Collapsed(TTreeNode* node);
    // Asked before the selection moves to `node`.
    virtual bool CanChange(TTreeNode* node);
    // The selection moved to `node` (nullptr when none).
    virtual void Change(TTreeNode* node);
    virtual void Click();
    virtual void NodeDeleting(TTreeNode* node);
    // A caption edit was accepted; true keeps the new text.
    virtual bool CanEdit(TTreeNode* node);
    virtual bool Edited(TTreeNode* node, const std::string& text);
    // After the ordinary key handling.
    virtual void KeyHandled(int key, Qt::KeyboardModifiers modifiers);
    void StartEditing(TTreeNode* node);
    // Selects a node; false when the change handling deleted it.
    bool SelectStays(TTreeNode* node);
    // Changes the expand state without the expand and collapse events.
    void SetExpandedQuietly(TTreeNode* node, bool expanded);
    bool Loading() const override { return IsLoading(); }

    void AfterLoad() override;
    void ComponentRemoved(TComponent* component) override;

    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;

  private:
    friend class TRzTreeEditDelegate;
    void OnSelectionChanged();
    void OnItemExpanded(QTreeWidgetItem* item);
    void OnItemCollapsed(QTreeWidgetItem* item);
    void ShowPopup(TTreeNode* node, const QPoint& globalPos);
    void ShowNodeImages(TTreeNode* node, bool selected);

    bool handleAllocated_ = false;
    bool readOnly_ = true;
    bool hideSelection_ = false;
    bool autoSelect_ = false;
    bool autoExpand_ = false;
    bool rightClickSelect_ = false;
    QPen selectionPen_;
    QPointer<QMenu> popupMenu_;
    int updateCount_ = 0;
    bool expandGuard_ = false;
    TTreeNode* rightClickNode_ = nullptr;
    TTreeNode* shownSelected_ = nullptr;
    bool popupShownByPress_ = false;
    bool editing_ = false;
};
