#include <gtest/gtest.h>

#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include "ControlsTestSupport.h"
#include "controls/RzTreeVw.h"

using Strings = std::vector<std::string>;

namespace {

class TreeView : public ControlsTest {
  protected:
    TreeView() {
        a = tree.AddChild(nullptr, "a");
        b = tree.AddChild(nullptr, "b");
        a1 = tree.AddChild(a, "a1");
        a2 = tree.AddChild(a, "a2");
        tree.HandleNeeded();
    }

    TRzCustomTreeView tree;
    TTreeNode* a;
    TTreeNode* b;
    TTreeNode* a1;
    TTreeNode* a2;
};

TEST_F(TreeView, ARefusedSelectionChangeKeepsTheSelection) {
    tree.Select(a);
    std::vector<std::string> events;
    tree.OnChanging = [&](TComponent*, TTreeNode* node, bool& allow) {
        events.push_back("changing " + node->Text());
        allow = node != b;
    };
    tree.OnChange = [&](TComponent*, TTreeNode* node) {
        events.push_back("change " + node->Text());
    };
    tree.Select(b);
    EXPECT_EQ(tree.Selected(), a);
    tree.Select(a1);
    EXPECT_EQ(tree.Selected(), a1);
    EXPECT_EQ(events, (Strings{"changing b", "changing a1", "change a1"}));
}

TEST_F(TreeView, DeletingANodeReportsItAndEachDescendant) {
    Strings deleted;
    tree.OnDeletion = [&](TComponent*, TTreeNode* node) { deleted.push_back(node->Text()); };
    tree.DeleteNode(a);
    EXPECT_EQ(deleted, (Strings{"a2", "a1", "a"}));
    EXPECT_EQ(tree.RootCount(), 1);
}

TEST_F(TreeView, ARefusedExpansionLeavesTheNodeClosed) {
    tree.OnExpanding = [](TComponent*, TTreeNode*, bool& allow) { allow = false; };
    tree.ExpandNode(a);
    EXPECT_FALSE(a->isExpanded());
    tree.OnExpanding = nullptr;
    Strings expanded;
    tree.OnExpanded = [&](TComponent*, TTreeNode* node) { expanded.push_back(node->Text()); };
    tree.ExpandNode(a);
    EXPECT_TRUE(a->isExpanded());
    EXPECT_EQ(expanded, Strings{"a"});
}

TEST_F(TreeView, AutoSelectAndAutoExpandExcludeEachOther) {
    tree.SetAutoSelect(true);
    tree.SetAutoExpand(true);
    EXPECT_FALSE(tree.AutoSelect());
    tree.SetAutoSelect(true);
    EXPECT_FALSE(tree.AutoExpand());
    tree.ExpandNode(a);
    EXPECT_EQ(tree.Selected(), a);
}

TEST_F(TreeView, NodesSortByCaptionOrByTheCompareEvent) {
    tree.AddChild(nullptr, "B2");
    tree.AlphaSort();
    EXPECT_EQ(tree.Root(0)->Text(), "a");
    EXPECT_EQ(tree.Root(2)->Text(), "B2");
    tree.OnCompare = [](TComponent*, TTreeNode* x, TTreeNode* y, int& result) {
        result = -x->Text().compare(y->Text());
    };
    tree.AlphaSort();
    EXPECT_EQ(tree.Root(0)->Text(), "b");
    EXPECT_EQ(a->Count(), 2);
}

TEST_F(TreeView, TheMenuKeyShowsThePopupForTheSelectedNode) {
    QMenu menu;
    menu.addAction("x");
    tree.SetPopupMenu(&menu);
    tree.SetRightClickSelect(true);
    tree.Select(b);
    tree.show();
    TTreeNode* during = nullptr;
    int keys = 0;
    tree.OnKeyDown = [&](TComponent*, int& key, Qt::KeyboardModifiers) {
        if (key != Qt::Key_Shift)
            ++keys;
    };
    QTimer::singleShot(0, &menu, [&] {
        during = tree.Selected();
        menu.close();
    });
    QTest::keyClick(&tree, Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_EQ(during, b);
    EXPECT_EQ(keys, 0);
    QTest::keyClick(&tree, Qt::Key_Down);
    EXPECT_EQ(keys, 1);
}

TEST_F(TreeView, ARightClickSelectsTheClickedNodeOnlyWhileItsMenuIsOpen) {
    QMenu menu;
    menu.addAction("x");
    tree.SetPopupMenu(&menu);
    tree.SetRightClickSelect(true);
    tree.Select(a);
    tree.show();
    QApplication::processEvents();
    TTreeNode* during = nullptr;
    QTimer::singleShot(0, &menu, [&] {
        during = tree.Selected();
        menu.close();
    });
    QTest::mouseClick(tree.viewport(), Qt::RightButton, {}, tree.visualItemRect(b).center());
    EXPECT_EQ(during, b);
    EXPECT_EQ(tree.Selected(), a);
}

TEST_F(TreeView, TheWheelScrollsByLinesButNotAboveTheTop) {
    for (int i = 0; i < 80; ++i) tree.AddChild(nullptr, "n" + std::to_string(i));
    tree.resize(200, 100);
    tree.show();
    QApplication::processEvents();
    QScrollBar* bar = tree.verticalScrollBar();
    ASSERT_GT(bar->maximum(), 10);
    const QPoint at = tree.viewport()->rect().center();
    QWheelEvent down(at, tree.viewport()->mapToGlobal(at), {}, {0, -120}, Qt::NoButton, {},
                     Qt::NoScrollPhase, false);
    QApplication::sendEvent(tree.viewport(), &down);
    EXPECT_EQ(bar->value(), QApplication::wheelScrollLines());
    bar->setValue(1);
    QWheelEvent up(at, tree.viewport()->mapToGlobal(at), {}, {0, 120}, Qt::NoButton, {},
                   Qt::NoScrollPhase, false);
    QApplication::sendEvent(tree.viewport(), &up);
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(TreeView, InADisabledContainerTheTreeKeepsItsOwnColour) {
    // The window disables its group boxes only to block input; the trees
    // inside must not turn to their disabled colour.
    QWidget box;
    TRzCustomTreeView inner(nullptr, &box);
    inner.SetDisabledColor(Qt::white);
    inner.SetColor(QColor(250, 240, 230));
    box.setEnabled(false);
    EXPECT_FALSE(inner.isEnabled());
    EXPECT_EQ(inner.palette().color(QPalette::Disabled, QPalette::Base), QColor(250, 240, 230));
    box.setEnabled(true);
    inner.setEnabled(false);
    EXPECT_EQ(inner.palette().color(QPalette::Disabled, QPalette::Base), QColor(Qt::white));
}

TEST_F(TreeView, WithParentColourTreeAndListFollowTheirParentsBackground) {
    QWidget box;
    TRzCustomTreeView inner(nullptr, &box);
    TRzFileListBox list(nullptr, &box);
    auto setBackground = [&](const QColor& color) {
        QPalette palette = box.palette();
        palette.setColor(box.backgroundRole(), color);
        box.setPalette(palette);
    };
    for (TRzFramedControl* control : std::initializer_list<TRzFramedControl*>{&inner, &list}) {
        setBackground(Qt::cyan);
        control->SetColor(Qt::white);
        control->SetFocusColor(Qt::yellow);
        EXPECT_FALSE(control->ParentColor());
        control->SetParentColor(true);
        EXPECT_EQ(control->Color(), QColor(Qt::cyan));
        EXPECT_EQ(control->FocusColor(), QColor(Qt::yellow));
        setBackground(Qt::magenta);
        EXPECT_EQ(control->Color(), QColor(Qt::magenta));
        // A focus colour equal to the plain one follows it.
        control->SetFocusColor(Qt::magenta);
        setBackground(Qt::green);
        EXPECT_EQ(control->FocusColor(), QColor(Qt::green));
        // A colour of its own ends the following.
        control->SetColor(Qt::red);
        EXPECT_FALSE(control->ParentColor());
        setBackground(Qt::blue);
        EXPECT_EQ(control->Color(), QColor(Qt::red));
    }
}

TEST_F(TreeView, FocusAndMouseChangeTheColourAndAreReported) {
    tree.SetFocusColor(Qt::yellow);
    tree.SetDisabledColor(Qt::white);
    std::vector<TComponent*> entered, left;
    tree.OnMouseEnter = [&](TComponent* sender) { entered.push_back(sender); };
    tree.OnMouseLeave = [&](TComponent* sender) { left.push_back(sender); };
    tree.show();
    tree.activateWindow();
    tree.setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return tree.hasFocus(); }, 2000));
    EXPECT_EQ(tree.palette().color(QPalette::Base), QColor(Qt::yellow));
    tree.clearFocus();
    EXPECT_EQ(tree.palette().color(QPalette::Base), tree.Color());
    tree.setEnabled(false);
    EXPECT_EQ(tree.palette().color(QPalette::Disabled, QPalette::Base), QColor(Qt::white));
    entered.clear();
    left.clear();
    const QPointF at(5, 5);
    QEnterEvent enter(at, at, tree.mapToGlobal(at));
    QApplication::sendEvent(&tree, &enter);
    EXPECT_TRUE(tree.MouseOver());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&tree, &leave);
    EXPECT_FALSE(tree.MouseOver());
    EXPECT_EQ(entered, std::vector<TComponent*>{&tree});
    EXPECT_EQ(left, std::vector<TComponent*>{&tree});
}

TEST_F(TreeView, FrameSettingsComeFromTheControllerWhileItLives) {
    auto* controller = new TRzFrameController;
    controller->SetFrameColor(Qt::red);
    controller->SetFrameStyle(fsFlatBold);
    tree.SetFrameController(controller);
    EXPECT_EQ(tree.FrameColor(), QColor(Qt::red));
    EXPECT_EQ(tree.FrameStyle(), fsFlatBold);
    EXPECT_TRUE(tree.FrameVisible());
    controller->SetFrameColor(Qt::blue);
    EXPECT_EQ(tree.FrameColor(), QColor(Qt::blue));
    delete controller;
    EXPECT_EQ(tree.FrameController(), nullptr);
    auto* other = new TRzFrameController;
    {
        TRzCustomTreeView shortLived;
        shortLived.SetFrameController(other);
        EXPECT_EQ(other->Controls().size(), 1u);
    }
    EXPECT_TRUE(other->Controls().empty());
    delete other;
}

TEST_F(TreeView, OlderFrameSettingsMapOntoTheCurrentOnes) {
    tree.SetFrameFlat(true);
    EXPECT_TRUE(tree.FrameHotTrack());
    EXPECT_TRUE(tree.FrameVisible());
    EXPECT_EQ(tree.FrameStyle(), fsStatus);
    EXPECT_EQ(tree.FrameHotStyle(), fsLowered);
    tree.SetFrameFocusStyle(fsFlat);
    EXPECT_EQ(tree.FrameHotStyle(), fsFlat);
}

TEST_F(TreeView, TheSelectionOutlineIsDrawnWithoutTheFocus) {
    tree.SetSelectionPen(QPen(Qt::red));
    tree.Select(b);
    tree.resize(200, 100);
    tree.setFocusPolicy(Qt::NoFocus);
    tree.show();
    QApplication::processEvents();
    ASSERT_FALSE(tree.hasFocus());
    QImage image = tree.viewport()->grab().toImage();
    QRect caption = tree.CaptionRect(b);
    ASSERT_TRUE(caption.isValid());
    EXPECT_EQ(image.pixelColor(caption.left(), caption.center().y()), QColor(Qt::red));
    tree.SetHideSelection(true);
    image = tree.viewport()->grab().toImage();
    EXPECT_NE(image.pixelColor(caption.left(), caption.center().y()), QColor(Qt::red));
}

}  // namespace
