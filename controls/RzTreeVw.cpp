#include "controls/RzTreeVw.h"

#include <QApplication>
#include <QCollator>
#include <QContextMenuEvent>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <algorithm>

#include "core/ScopeGuard.h"

const QCollator& DisplayNameCollator() {
    static const QCollator collator = [] {
        // Without a language of its own the user gets the common ordering,
        // which still ignores letter case as the plain one would not.
        QLocale locale = QLocale::system();
        if (locale.language() == QLocale::C)
            locale = QLocale(QLocale::English);
        QCollator c(locale);
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    return collator;
}

// ---------------------------------------------------------------------------
// Nodes

TTreeNode::TTreeNode(const std::string& text) : QTreeWidgetItem(UserType) {
    SetText(text);
}

std::string TTreeNode::Text() const {
    return text(0).toStdString();
}
void TTreeNode::SetText(const std::string& text) {
    setText(0, QString::fromStdString(text));
}
TTreeNode* TTreeNode::Parent() const {
    return static_cast<TTreeNode*>(parent());
}
TTreeNode* TTreeNode::Item(int index) const {
    return static_cast<TTreeNode*>(child(index));
}

int TTreeNode::Level() const {
    int level = 0;
    for (QTreeWidgetItem* p = parent(); p; p = p->parent()) ++level;
    return level;
}

// ---------------------------------------------------------------------------
// Caption editing

class TRzTreeEditDelegate : public QStyledItemDelegate {
  public:
    explicit TRzTreeEditDelegate(TRzCustomTreeView* tree)
        : QStyledItemDelegate(tree), tree_(tree) {}

    // What the user has typed stays when the tree repaints or lays out its
    // nodes while the editor is open.
    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        if (editor->property("captionLoaded").toBool())
            return;
        QStyledItemDelegate::setEditorData(editor, index);
        editor->setProperty("captionLoaded", true);
    }

    void setModelData(QWidget* editor, QAbstractItemModel*,
                      const QModelIndex& index) const override {
        auto* line = qobject_cast<QLineEdit*>(editor);

        auto* node = static_cast<TTreeNode*>(tree_->itemFromIndex(index));
        if (!line || !node)
            return;
        node->setFlags(node->flags() & ~Qt::ItemIsEditable);
        // The node keeps its caption unless the tree accepts the new text.
        std::string text = line->text().toStdString();
        if (text == node->Text())
            return;
        // Accepting may rebuild the node's branch; only a node still there
        // takes the text.
        const QPersistentModelIndex still(index);
        if (tree_->Edited(node, text) && still.isValid())
            static_cast<TTreeNode*>(tree_->itemFromIndex(still))->SetText(text);
    }

  private:
    TRzCustomTreeView* tree_;
};

// ---------------------------------------------------------------------------
// Tree view

TRzCustomTreeView::TRzCustomTreeView(TComponent* owner, QWidget* parent)
    : TRzCustomTreeView(owner, parent, true) {}

TRzCustomTreeView::TRzCustomTreeView(TComponent* owner, QWidget* parent, bool joinOwner)
    : QTreeWidget(parent), TComponent(nullptr), TRzFramedControl(this, this) {
    setHeaderHidden(true);
    setColumnCount(1);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformRowHeights(true);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setItemDelegate(new TRzTreeEditDelegate(this));
    setFocusPolicy(Qt::StrongFocus);
    resize(250, 150);
    selectionPen_ = QPen(ButtonShadowColor(), 1, Qt::SolidLine);
    connect(this, &QTreeWidget::itemSelectionChanged, this, &TRzCustomTreeView::OnSelectionChanged);
    connect(this, &QTreeWidget::itemExpanded, this, &TRzCustomTreeView::OnItemExpanded);
    connect(this, &QTreeWidget::itemCollapsed, this, &TRzCustomTreeView::OnItemCollapsed);
    ApplyColor();
    if (joinOwner && owner)
        owner->InsertComponent(this);
}

TRzCustomTreeView::~TRzCustomTreeView() {
    // Nothing of the derived tree may be reached from here on.
    destroyingView_ = true;
    disconnect(this, nullptr, this, nullptr);
    blockSignals(true);
    DeleteAll();
}

void TRzCustomTreeView::HandleNeeded() {
    if (handleAllocated_)
        return;
    handleAllocated_ = true;
    CreateWnd();
}

TTreeNode* TRzCustomTreeView::Selected() const {
    if (rightClickSelect_ && rightClickNode_)
        return rightClickNode_;
    if (!handleAllocated_)
        return nullptr;
    auto items = selectedItems();
    return items.isEmpty() ? nullptr : static_cast<TTreeNode*>(items.first());
}

void TRzCustomTreeView::Select(TTreeNode* node) {
    if (node) {
        setCurrentItem(node);
        return;
    }
    clearSelection();
}

TTreeNode* TRzCustomTreeView::Root(int index) const {
    return static_cast<TTreeNode*>(topLevelItem(index));
}

TTreeNode* TRzCustomTreeView::AddChild(TTreeNode* parent, const std::string& text) {
    auto* node = new TTreeNode(text);
    if (parent)
        parent->addChild(node);
    else
        addTopLevelItem(node);
    return node;
}

TTreeNode* TRzCustomTreeView::InsertRoot(TTreeNode* before, const std::string& text) {
    auto* node = new TTreeNode(text);
    int index = before ? indexOfTopLevelItem(before) : -1;
    if (index < 0)
        addTopLevelItem(node);
    else
        insertTopLevelItem(index, node);
    return node;
}

void TRzCustomTreeView::DeleteNode(TTreeNode* node) {
    if (!node)
        return;
    while (node->Count() > 0) DeleteNode(node->Item(node->Count() - 1));
    NodeDeleting(node);
    if (shownSelected_ == node)
        shownSelected_ = nullptr;
    if (rightClickNode_ == node)
        rightClickNode_ = nullptr;
    // Out of the tree first, while the node is whole: the selection moves
    // away from it before anything of it is gone.
    if (TTreeNode* parent = node->Parent())
        parent->removeChild(node);
    else
        takeTopLevelItem(indexOfTopLevelItem(node));
    if (shownSelected_ == node)
        shownSelected_ = nullptr;
    delete node;
}

void TRzCustomTreeView::DeleteChildren(TTreeNode* node) {
    if (!node)
        return;
    while (node->Count() > 0) DeleteNode(node->Item(node->Count() - 1));
}

void TRzCustomTreeView::DeleteAll() {
    while (topLevelItemCount() > 0) DeleteNode(Root(topLevelItemCount() - 1));
}

void TRzCustomTreeView::NodeDeleting(TTreeNode* node) {
    if (!destroyingView_ && OnDeletion)
        OnDeletion(this, node);
    node->SetNodeData(nullptr);
}

void TRzCustomTreeView::ExpandNode(TTreeNode* node) {
    if (node && !node->isExpanded())
        node->setExpanded(true);
}

void TRzCustomTreeView::MakeVisible(TTreeNode* node) {
    if (!node)
        return;
    std::vector<TTreeNode*> chain;
    for (TTreeNode* p = node->Parent(); p; p = p->Parent()) chain.push_back(p);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) ExpandNode(*it);
    scrollToItem(node);
}

void TRzCustomTreeView::AlphaSort(TTreeNode* parent) {
    QList<QTreeWidgetItem*> children;
    if (parent)
        children = parent->takeChildren();
    else
        while (topLevelItemCount() > 0) children.push_back(takeTopLevelItem(0));
    const QCollator& collator = DisplayNameCollator();
    std::stable_sort(children.begin(), children.end(), [&](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        int result = 0;
        if (OnCompare)
            OnCompare(this, static_cast<TTreeNode*>(a), static_cast<TTreeNode*>(b), result);
        else
            result = collator.compare(a->text(0), b->text(0));
        return result < 0;
    });
    if (parent)
        parent->addChildren(children);
    else
        addTopLevelItems(children);
}

void TRzCustomTreeView::BeginUpdate() {
    if (updateCount_++ == 0)
        setUpdatesEnabled(false);
}

void TRzCustomTreeView::EndUpdate() {
    if (updateCount_ > 0 && --updateCount_ == 0)
        setUpdatesEnabled(true);
}

void TRzCustomTreeView::SetReadOnly(bool on) {
    readOnly_ = on;
}

void TRzCustomTreeView::SetHideSelection(bool on) {
    hideSelection_ = on;
    // A hidden selection leaves no mark while the focus is elsewhere.
    QPalette palette = this->palette();
    QPalette app = QApplication::palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight,
                     on ? palette.color(QPalette::Inactive, QPalette::Base)
                        : app.color(QPalette::Inactive, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     on ? palette.color(QPalette::Inactive, QPalette::Text)
                        : app.color(QPalette::Inactive, QPalette::HighlightedText));
    setPalette(palette);
    viewport()->update();
}

void TRzCustomTreeView::SetAutoSelect(bool on) {
    autoSelect_ = on;
    if (on)
        autoExpand_ = false;
}

void TRzCustomTreeView::SetAutoExpand(bool on) {
    autoExpand_ = on;
    if (on)
        autoSelect_ = false;
}

void TRzCustomTreeView::SetSelectionPen(const QPen& pen) {
    selectionPen_ = pen;
    viewport()->update();
}

QRect TRzCustomTreeView::CaptionRect(TTreeNode* node) const {
    if (!node)
        return {};
    QRect row = visualItemRect(node);
    if (!row.isValid())
        return {};
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = row;
    option.text = node->text(0);
    option.icon = node->icon(0);
    option.features |= QStyleOptionViewItem::HasDisplay;
    if (!option.icon.isNull())
        option.features |= QStyleOptionViewItem::HasDecoration;
    QRect text = style()->subElementRect(QStyle::SE_ItemViewItemText, &option, this);
    text.setWidth(std::min(text.width(), fontMetrics().horizontalAdvance(option.text) + 6));
    return text;
}

bool TRzCustomTreeView::CanExpand(TTreeNode* node) {
    bool allow = true;
    if (OnExpanding)
        OnExpanding(this, node, allow);
    return allow;
}

bool TRzCustomTreeView::CanCollapse(TTreeNode* node) {
    bool allow = true;
    if (OnCollapsing)
        OnCollapsing(this, node, allow);
    return allow;
}

void TRzCustomTreeView::Expanded(TTreeNode* node) {
    if (autoSelect_ && !SelectStays(node))
        return;
    if (OnExpanded)
        OnExpanded(this, node);
}

void TRzCustomTreeView::Collapsed(TTreeNode* node) {
    if (OnCollapsed)
        OnCollapsed(this, node);
}

bool TRzCustomTreeView::CanChange(TTreeNode* node) {
    bool allow = true;
    if (OnChanging)
        OnChanging(this, node, allow);
    return allow;
}

void TRzCustomTreeView::Change(TTreeNode* node) {
    if (OnChange)
        OnChange(this, node);
}

void TRzCustomTreeView::Click() {
    if (OnClick)
        OnClick(this);
}

bool TRzCustomTreeView::CanEdit(TTreeNode* node) {
    return node != nullptr;
}

bool TRzCustomTreeView::Edited(TTreeNode*, const std::string&) {
    return true;
}

void TRzCustomTreeView::KeyHandled(int, Qt::KeyboardModifiers) {}

void TRzCustomTreeView::SetExpandedQuietly(TTreeNode* node, bool expanded) {
    if (!node || node->isExpanded() == expanded)
        return;
    const auto quiet = core::SetForScope(expandGuard_, true);
    node->setExpanded(expanded);
}

void TRzCustomTreeView::StartEditing(TTreeNode* node) {
    if (readOnly_ || !node || !CanEdit(node))
        return;
    node->setFlags(node->flags() | Qt::ItemIsEditable);
    editItem(node);
}

void TRzCustomTreeView::AfterLoad() {
    ApplyLoadedLook();
}

void TRzCustomTreeView::ComponentRemoved(TComponent*) {}

void TRzCustomTreeView::OnSelectionChanged() {
    if (destroyingView_)
        return;
    auto items = selectedItems();
    TTreeNode* node = items.isEmpty() ? nullptr : static_cast<TTreeNode*>(items.first());
    if (node != shownSelected_) {
        ShowNodeImages(shownSelected_, false);
        ShowNodeImages(node, true);
        shownSelected_ = node;
    }
    if (autoExpand_ && node)
        ExpandNode(node);
    Change(node);
}

void TRzCustomTreeView::ShowNodeImages(TTreeNode* node, bool selected) {
    if (!node)
        return;
    const QIcon& icon =
        selected && !node->selectedImage.isNull() ? node->selectedImage : node->image;
    node->setIcon(0, icon);
}

void TRzCustomTreeView::OnItemExpanded(QTreeWidgetItem* item) {
    if (expandGuard_ || destroyingView_)
        return;
    auto* node = static_cast<TTreeNode*>(item);
    if (!CanExpand(node)) {
        SetExpandedQuietly(node, false);
        return;
    }
    Expanded(node);
}

void TRzCustomTreeView::OnItemCollapsed(QTreeWidgetItem* item) {
    if (expandGuard_ || destroyingView_)
        return;
    auto* node = static_cast<TTreeNode*>(item);
    if (!CanCollapse(node)) {
        SetExpandedQuietly(node, true);
        return;
    }
    if (autoSelect_ && !SelectStays(node))
        return;
    Collapsed(node);
}

bool TRzCustomTreeView::SelectStays(TTreeNode* node) {
    // The change handling of a derived tree may rebuild the node's branch.
    const QPersistentModelIndex still(indexFromItem(node));
    Select(node);
    return still.isValid();
}

QItemSelectionModel::SelectionFlags TRzCustomTreeView::selectionCommand(const QModelIndex& index,
                                                                        const QEvent* event) const {
    auto flags = QTreeWidget::selectionCommand(index, event);
    if (!(flags & QItemSelectionModel::Select) || !index.isValid() || destroyingView_)
        return flags;
    auto* target = static_cast<TTreeNode*>(itemFromIndex(index));
    auto items = selectedItems();
    if (!target || (!items.isEmpty() && items.first() == target))
        return flags;
    // The platform asks before it moves the selection; a refusal keeps it.
    auto* self = const_cast<TRzCustomTreeView*>(this);
    return self->CanChange(target) ? flags : QItemSelectionModel::NoUpdate;
}

bool TRzCustomTreeView::event(QEvent* e) {
    const bool result = QTreeWidget::event(e);
    FramedEvent(e);
    return result;
}

void TRzCustomTreeView::paintEvent(QPaintEvent* e) {
    QTreeWidget::paintEvent(e);
    TTreeNode* node = Selected();
    if (hideSelection_ || hasFocus() || !node)
        return;
    QRect caption = CaptionRect(node);
    if (!caption.isValid())
        return;
    QPainter painter(viewport());
    painter.setPen(selectionPen_);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(caption.adjusted(0, 0, -1, -1));
}

void TRzCustomTreeView::showEvent(QShowEvent* e) {
    HandleNeeded();
    QTreeWidget::showEvent(e);
}

void TRzCustomTreeView::ShowPopup(TTreeNode* node, const QPoint& globalPos) {
    if (!popupMenu_)
        return;
    rightClickNode_ = node;
    popupMenu_->exec(globalPos);
    rightClickNode_ = nullptr;
}

void TRzCustomTreeView::keyPressEvent(QKeyEvent* e) {
    const auto modifiers =
        e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    const bool menuKey = (e->key() == Qt::Key_Menu && modifiers == Qt::NoModifier) ||
                         (e->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier);
    if (menuKey) {
        e->accept();
        TTreeNode* node = Selected();
        QRect caption = CaptionRect(node);
        QPoint at = node && caption.isValid() ? viewport()->mapToGlobal(caption.center())
                                              : mapToGlobal(QPoint(0, 0));
        ShowPopup(node, at);
        return;
    }
    int key = e->key();
    if (OnKeyDown)
        OnKeyDown(this, key, e->modifiers());
    if (key == 0) {
        e->accept();
        return;
    }
    QTreeWidget::keyPressEvent(e);
    KeyHandled(key, e->modifiers());
}

void TRzCustomTreeView::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::RightButton) {
        e->accept();
        if (!popupMenu_)
            return;
        auto* under = static_cast<TTreeNode*>(itemAt(e->position().toPoint()));
        popupShownByPress_ = true;
        ShowPopup(under ? under : Selected(), e->globalPosition().toPoint());
        return;
    }
    QTreeWidget::mousePressEvent(e);
}

void TRzCustomTreeView::mouseReleaseEvent(QMouseEvent* e) {
    QTreeWidget::mouseReleaseEvent(e);
    if (e->button() == Qt::LeftButton)
        Click();
}

void TRzCustomTreeView::mouseDoubleClickEvent(QMouseEvent* e) {
    if (OnDblClick)
        OnDblClick(this);
    QTreeWidget::mouseDoubleClickEvent(e);
}

void TRzCustomTreeView::contextMenuEvent(QContextMenuEvent* e) {
    // A popup already shown for the right-click is not shown again.
    if (popupShownByPress_ || e->reason() == QContextMenuEvent::Mouse) {
        popupShownByPress_ = false;
        e->accept();
        return;
    }
    QTreeWidget::contextMenuEvent(e);
}

void TRzCustomTreeView::wheelEvent(QWheelEvent* e) {
    ScrollByWheel(WheelNotches(e), TPastTop::StopAtTop);
}
