#include "controls/RzFramedControl.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cstdlib>

QColor WindowColor() {
    return QApplication::palette().color(QPalette::Active, QPalette::Base);
}
QColor ButtonFaceColor() {
    return QApplication::palette().color(QPalette::Active, QPalette::Button);
}
QColor ButtonShadowColor() {
    return QApplication::palette().color(QPalette::Active, QPalette::Dark);
}

namespace {

void DrawSides(QPainter& p, const QRect& r, TSides sides, const QColor& topLeft,
               const QColor& bottomRight) {
    if (sides & SideBit(sdTop)) {
        p.setPen(topLeft);
        p.drawLine(r.left(), r.top(), r.right(), r.top());
    }
    if (sides & SideBit(sdLeft)) {
        p.setPen(topLeft);
        p.drawLine(r.left(), r.top(), r.left(), r.bottom());
    }
    if (sides & SideBit(sdBottom)) {
        p.setPen(bottomRight);
        p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
    }
    if (sides & SideBit(sdRight)) {
        p.setPen(bottomRight);
        p.drawLine(r.right(), r.top(), r.right(), r.bottom());
    }
}

}  // namespace

TRzFramedControl::TRzFramedControl(QAbstractScrollArea* control, TComponent* sender)
    : control_(control),
      sender_(sender),
      plainColor_(WindowColor()),
      disabledColor_(ButtonFaceColor()),
      focusColor_(WindowColor()),
      frameColor_(ButtonShadowColor()),
      frameHotColor_(ButtonShadowColor()) {}

TRzFramedControl::~TRzFramedControl() {
    if (frameController_)
        frameController_->Unregister(this);
}

void TRzFramedControl::SetColor(const QColor& color) {
    parentColor_ = false;
    TakeColor(color);
}

void TRzFramedControl::TakeColor(const QColor& color) {
    if (focusColor_ == plainColor_)
        focusColor_ = color;
    plainColor_ = color;
    ApplyColor();
}

void TRzFramedControl::SetParentColor(bool on) {
    parentColor_ = on;
    FollowParentColor();
}

void TRzFramedControl::FollowParentColor() {
    const QWidget* parent = control_->parentWidget();
    if (!parentColor_ || !parent)
        return;
    const QColor color = parent->palette().color(parent->backgroundRole());
    if (color != plainColor_)
        TakeColor(color);
}

void TRzFramedControl::SetDisabledColor(const QColor& color) {
    disabledColor_ = color;
    ApplyColor();
}

void TRzFramedControl::SetFocusColor(const QColor& color) {
    focusColor_ = color;
    ApplyColor();
}

QColor TRzFramedControl::ShownColor() const {
    // Only a control switched off itself shows its disabled colour; one that
    // lies in a disabled container keeps its own, as a group box that is
    // disabled to block input leaves its contents looking as they are.
    if (control_->testAttribute(Qt::WA_ForceDisabled))
        return disabledColor_;
    if (control_->hasFocus())
        return focusColor_;
    return plainColor_;
}

void TRzFramedControl::ApplyColor() {
    QPalette palette = control_->palette();
    QColor shown = ShownColor();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setColor(group, QPalette::Base, shown);
    control_->setPalette(palette);
    control_->viewport()->update();
}

void TRzFramedControl::SetFrameVisible(bool on) {
    const bool turnedOn = on && !frameVisible_;
    frameVisible_ = on;
    if (on) {
        // Room for the widest frame style, drawn by PaintFrame over it.
        control_->setFrameStyle(QFrame::Box | QFrame::Plain);
        control_->setLineWidth(2);
    }
    if (turnedOn)
        FrameRecreated();
    RepaintFrame();
}

void TRzFramedControl::SetFrameColor(const QColor& color) {
    frameColor_ = color;
    RepaintFrame();
}

void TRzFramedControl::SetFrameHotColor(const QColor& color) {
    frameHotColor_ = color;
    RepaintFrame();
}

void TRzFramedControl::SetFrameHotTrack(bool on) {
    frameHotTrack_ = on;
    if (on) {
        if (!frameVisible_)
            SetFrameVisible(true);
        if (!Loading())
            frameSides_ = sdAllSides;
    }
    RepaintFrame();
}

void TRzFramedControl::SetFrameStyle(TFrameStyle style) {
    frameStyle_ = style;
    RepaintFrame();
}

void TRzFramedControl::SetFrameHotStyle(TFrameStyle style) {
    frameHotStyle_ = style;
    RepaintFrame();
}

void TRzFramedControl::SetFrameSides(TSides sides) {
    frameSides_ = sides & sdAllSides;
    RepaintFrame();
}

void TRzFramedControl::SetFramingPreference(TFramingPreference preference) {
    framingPreference_ = preference;
    RepaintFrame();
}

void TRzFramedControl::SetFrameController(TRzFrameController* controller) {
    if (controller == frameController_)
        return;
    if (frameController_)
        frameController_->Unregister(this);
    frameController_ = controller;
    if (controller) {
        controller->Register(this);
        controller->ApplyTo(this);
    }
}

void TRzFramedControl::SetFrameFlat(bool on) {
    SetFrameHotTrack(on);
    if (on) {
        frameStyle_ = fsStatus;
        frameHotStyle_ = fsLowered;
    }
    RepaintFrame();
}

bool TRzFramedControl::FrameShown() const {
    // No desktop theme engine here draws the frame styles, so the preference
    // for themed framing never hides the control's own frame.
    return frameVisible_;
}

bool TRzFramedControl::FrameHot() const {
    return frameHotTrack_ && (control_->hasFocus() || mouseOver_);
}

void TRzFramedControl::NoteMouse(bool over) {
    mouseOver_ = over;
    ApplyColor();
    if (frameHotTrack_)
        RepaintFrame();
    const TRzNotifyEvent& event = over ? OnMouseEnter : OnMouseLeave;
    if (event)
        event(sender_);
}

void TRzFramedControl::ApplyLoadedLook() {
    ApplyColor();
    if (frameHotTrack_)
        RepaintFrame();
}

void TRzFramedControl::FramedEvent(QEvent* e) {
    switch (e->type()) {
        case QEvent::Paint: {
            // The base class has painted its border; the frame goes over it.
            QPainter painter(control_);
            PaintFrame(painter);
            break;
        }
        case QEvent::EnabledChange:
            ApplyColor();
            break;
        case QEvent::FocusIn:
        case QEvent::FocusOut:
            ApplyColor();
            RepaintFrame();
            break;
        case QEvent::Enter:
            NoteMouse(true);
            break;
        case QEvent::Leave:
            NoteMouse(false);
            break;
        case QEvent::Resize:
            RepaintFrame();
            break;
        // A parent's new palette reaches its children as a change of theirs.
        case QEvent::ParentChange:
        case QEvent::PaletteChange:
            FollowParentColor();
            break;
        default:
            break;
    }
}

int TRzFramedControl::WheelNotches(QWheelEvent* e) {
    e->accept();
    const int turn = e->angleDelta().y();
    if (turn == 0)
        return 0;
    bool handled = false;
    if (OnMouseWheel)
        OnMouseWheel(sender_, turn, handled);
    if (handled)
        return 0;
    // A turn back starts a new notch rather than undoing the part before.
    if ((wheelPart_ < 0) != (turn < 0))
        wheelPart_ = 0;
    wheelPart_ += turn;
    const int notches = wheelPart_ / QWheelEvent::DefaultDeltasPerStep;
    wheelPart_ -= notches * QWheelEvent::DefaultDeltasPerStep;
    return notches;
}

void TRzFramedControl::ScrollByWheel(int notches, TPastTop pastTop) {
    QScrollBar* bar = control_->verticalScrollBar();
    if (!bar || notches == 0)
        return;
    const int lines = QApplication::wheelScrollLines() * std::abs(notches);
    if (notches < 0) {
        bar->setValue(bar->value() + lines);
        return;
    }
    const int value = bar->value() - lines;
    if (value >= 0)
        bar->setValue(value);
    else if (pastTop == TPastTop::StopAtTop)
        bar->setValue(0);
}

void TRzFramedControl::RepaintFrame() {
    if (FrameRepaintSuppressed())
        return;
    control_->update();
}

void TRzFramedControl::ForgetFrameController(TRzFrameController* controller) {
    if (frameController_ == controller)
        frameController_ = nullptr;
}

void TRzFramedControl::PaintFrame(QPainter& p) {
    if (!FrameShown())
        return;
    const bool hot = FrameHot();
    const TFrameStyle style = hot ? frameHotStyle_ : frameStyle_;
    const QColor color = hot ? frameHotColor_ : frameColor_;
    const QColor face = ShownColor();
    const QColor light = QApplication::palette().color(QPalette::Light);
    const QColor dark = color.darker(150);
    QRect outer = control_->rect();
    QRect inner = outer.adjusted(1, 1, -1, -1);
    const TSides sides = frameSides_;
    switch (style) {
        case fsNone:
            DrawSides(p, outer, sides, face, face);
            DrawSides(p, inner, sides, face, face);
            break;
        case fsFlat:
        case fsFlatRounded:
            DrawSides(p, outer, sides, color, color);
            DrawSides(p, inner, sides, face, face);
            if (style == fsFlatRounded) {
                p.setPen(face);
                for (QPoint c :
                     {outer.topLeft(), outer.topRight(), outer.bottomLeft(), outer.bottomRight()})
                    p.drawPoint(c);
            }
            break;
        case fsFlatBold:
            DrawSides(p, outer, sides, color, color);
            DrawSides(p, inner, sides, color, color);
            break;
        case fsStatus:
        case fsButtonDown:
            DrawSides(p, outer, sides, color, light);
            DrawSides(p, inner, sides, face, face);
            break;
        case fsLowered:
        case fsGroove:
            DrawSides(p, outer, sides, color, light);
            DrawSides(p, inner, sides, style == fsGroove ? light : dark,
                      style == fsGroove ? color : face);
            break;
        case fsRaised:
        case fsButtonUp:
        case fsBump:
        case fsPopup:
            DrawSides(p, outer, sides, light, color);
            DrawSides(p, inner, sides, style == fsBump ? color : face,
                      style == fsBump ? light : dark);
            break;
    }
}

TRzFrameController::TRzFrameController(TComponent* owner)
    : TComponent(owner), frameColor_(ButtonShadowColor()), frameHotColor_(ButtonShadowColor()) {}

TRzFrameController::~TRzFrameController() {
    for (TRzFramedControl* c : controls_) c->frameController_ = nullptr;
}

void TRzFrameController::Register(TRzFramedControl* control) {
    if (std::find(controls_.begin(), controls_.end(), control) == controls_.end())
        controls_.push_back(control);
}

void TRzFrameController::Unregister(TRzFramedControl* control) {
    std::erase(controls_, control);
}

void TRzFrameController::ApplyTo(TRzFramedControl* c) const {
    c->frameColor_ = frameColor_;
    c->frameHotColor_ = frameHotColor_;
    c->frameStyle_ = frameStyle_;
    c->frameHotStyle_ = frameHotStyle_;
    c->frameSides_ = frameSides_;
    c->SetFrameVisible(frameVisible_);
}

void TRzFrameController::ApplyAll() const {
    for (TRzFramedControl* c : controls_) ApplyTo(c);
}

void TRzFrameController::SetFrameColor(const QColor& color) {
    frameColor_ = color;
    ApplyAll();
}
void TRzFrameController::SetFrameHotColor(const QColor& color) {
    frameHotColor_ = color;
    ApplyAll();
}
void TRzFrameController::SetFrameStyle(TFrameStyle style) {
    frameStyle_ = style;
    ApplyAll();
}
void TRzFrameController::SetFrameHotStyle(TFrameStyle style) {
    frameHotStyle_ = style;
    ApplyAll();
}
void TRzFrameController::SetFrameVisible(bool on) {
    frameVisible_ = on;
    ApplyAll();
}
void TRzFrameController::SetFrameSides(TSides sides) {
    frameSides_ = sides;
    ApplyAll();
}
