#pragma once
// The tree base of the browsing controls, and the colour and frame handling
// it shares with the file list: a plain colour that gives way to a focus or
// disabled colour, a flat frame drawn over the border, a selection outline
// kept visible without the focus, the context-menu keys and a wheel that
// scrolls by whole lines.

#include <QAbstractScrollArea>
#include <QCollator>
#include <QColor>
#include <QMenu>
#include <QPen>
#include <QPointer>
#include <QTreeWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Component.h"

class QEvent;
class QPainter;
class QWheelEvent;

// Notifications carry the control that raised them.
using TRzNotifyEvent = std::function<void(TComponent* sender)>;
using TRzMouseWheelEvent = std::function<void(TComponent* sender, int delta, bool& handled)>;

enum TFrameStyle {
    fsNone,
    fsFlat,
    fsFlatBold,
    fsFlatRounded,
    fsGroove,
    fsBump,
    fsLowered,
    fsButtonDown,
    fsRaised,
    fsButtonUp,
    fsStatus,
    fsPopup,
};

enum TSide { sdLeft, sdTop, sdRight, sdBottom };
using TSides = unsigned;
constexpr TSides SideBit(TSide side) {
    return 1u << side;
}
constexpr TSides sdAllSides = 0xF;

enum TFramingPreference { fpCustomFraming, fpXPThemes };

// The colours the controls start with, from the application's palette.
QColor WindowColor();      // the background of text areas
QColor ButtonFaceColor();  // the face of buttons
QColor ButtonShadowColor();

// Orders names for display: the user's locale, letter case ignored.
const QCollator& DisplayNameCollator();

class TRzFrameController;

// The colour and frame settings of a control, and the event handling that
// keeps them shown: the control hands every event to FramedEvent once its
// own base class has handled it, and its wheel turns to WheelTurn.
class TRzFramedControl {
  public:
    // `sender` is the control as its events name it.
    TRzFramedControl(QAbstractScrollArea* control, TComponent* sender);
    virtual ~TRzFramedControl();
    TRzFramedControl(const TRzFramedControl&) = delete;
    TRzFramedControl& operator=(const TRzFramedControl&) = delete;

    const QColor& Color() const { return plainColor_; }
    // A colour set from outside; the focus colour follows it while the two
    // were equal.
    void SetColor(const QColor& color);
    const QColor& DisabledColor() const { return disabledColor_; }
    void SetDisabledColor(const QColor& color);
    const QColor& FocusColor() const { return focusColor_; }
    void SetFocusColor(const QColor& color);
    // The colour shown now (plain, focus or disabled).
    QColor ShownColor() const;

    bool FrameVisible() const { return frameVisible_; }
    void SetFrameVisible(bool on);
    const QColor& FrameColor() const { return frameColor_; }
    void SetFrameColor(const QColor& color);
    const QColor& FrameHotColor() const { return frameHotColor_; }
    void SetFrameHotColor(const QColor& color);
    bool FrameHotTrack() const { return frameHotTrack_; }
    void SetFrameHotTrack(bool on);
    TFrameStyle FrameStyle() const { return frameStyle_; }
    void SetFrameStyle(TFrameStyle style);
    TFrameStyle FrameHotStyle() const { return frameHotStyle_; }
    void SetFrameHotStyle(TFrameStyle style);
    TSides FrameSides() const { return frameSides_; }
    void SetFrameSides(TSides sides);
    TFramingPreference FramingPreference() const { return framingPreference_; }
    void SetFramingPreference(TFramingPreference preference);
    TRzFrameController* FrameController() const { return frameController_; }
    void SetFrameController(TRzFrameController* controller);

    // Older stored forms name these settings differently.
    void SetFrameFlat(bool on);
    void SetFrameFocusStyle(TFrameStyle style) { SetFrameHotStyle(style); }
    void SetFrameFlatStyle(TFrameStyle) {}

    // Whether the frame would be drawn now, and with which look.
    bool FrameShown() const;
    bool FrameHot() const;
    bool MouseOver() const { return mouseOver_; }

    TRzNotifyEvent OnMouseEnter;
    TRzNotifyEvent OnMouseLeave;
    TRzMouseWheelEvent OnMouseWheel;

  protected:
    // Re-applies plain, focus or disabled colour.
    void ApplyColor();
    // Colour and frame once a stored form has been read.
    void ApplyLoadedLook();
    // Paint, focus, mouse, enabled and size changes, after the control's
    // base class has handled `e`.
    void FramedEvent(QEvent* e);
    // Takes a wheel event: the turn (in eighths of a degree) that is left to
    // scroll by, or 0 when there is none or OnMouseWheel handled it.
    int WheelTurn(QWheelEvent* e);
    // What an upward turn does that would pass the top.
    enum class TPastTop { Ignore, StopAtTop };
    // Scrolls by the system's wheel-scroll lines for each notch of `turn`.
    void ScrollByWheel(int turn, TPastTop pastTop);
    // Turning the frame on gives the control a new native window; a control
    // whose contents come from that window reads them again here.
    virtual void FrameRecreated() {}
    void PaintFrame(QPainter& painter);
    void RepaintFrame();
    // Called when the frame controller goes away.
    void ForgetFrameController(TRzFrameController* controller);
    virtual bool Loading() const { return false; }
    // While the control reads its contents, frame repaints wait.
    virtual bool FrameRepaintSuppressed() const { return false; }

  private:
    friend class TRzFrameController;
    void NoteMouse(bool over);

    QAbstractScrollArea* control_;
    TComponent* sender_;
    QColor plainColor_;
    QColor disabledColor_;
    QColor focusColor_;
    bool frameVisible_ = false;
    QColor frameColor_;
    QColor frameHotColor_;
    bool frameHotTrack_ = false;
    TFrameStyle frameStyle_ = fsFlat;
    TFrameStyle frameHotStyle_ = fsFlatBold;
    TSides frameSides_ = sdAllSides;
    TFramingPreference framingPreference_ = fpXPThemes;
    TRzFrameController* frameController_ = nullptr;
    bool mouseOver_ = false;
};

// Holds frame settings for several controls; what it sets is copied to
// every registered control.
class TRzFrameController : public TComponent {
  public:
    explicit TRzFrameController(TComponent* owner = nullptr);
    ~TRzFrameController() override;

    void SetFrameColor(const QColor& color);
    void SetFrameHotColor(const QColor& color);
    void SetFrameStyle(TFrameStyle style);
    void SetFrameHotStyle(TFrameStyle style);
    void SetFrameVisible(bool on);
    void SetFrameSides(TSides sides);
    const std::vector<TRzFramedControl*>& Controls() const { return controls_; }

  private:
    friend class TRzFramedControl;
    void Register(TRzFramedControl* control);
    void Unregister(TRzFramedControl* control);
    void ApplyTo(TRzFramedControl* control) const;
    void ApplyAll() const;

    std::vector<TRzFramedControl*> controls_;
    QColor frameColor_;
    QColor frameHotColor_;
    TFrameStyle frameStyle_ = fsFlat;
    TFrameStyle frameHotStyle_ = fsFlatBold;
    bool frameVisible_ = true;
    TSides frameSides_ = sdAllSides;
};

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
    std::unique_ptr<Data> TakeNodeData() { return std::move(data_); }

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

    // The tree view exists on screen terms (its drives and folders are
    // built) once it was shown or needed.
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

    // The tree view comes into existence and goes away; subclasses build
    // and keep their contents here.
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
    bool InUpdate() const { return updateCount_ > 0; }
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
