#pragma once
// The colour and frame handling the tree and the file list share: a plain
// colour that gives way to a focus or disabled colour, a flat frame drawn
// over the border, a controller that sets the frames of several controls
// at once, and a wheel that scrolls by whole lines.

#include <QAbstractScrollArea>
#include <QColor>
#include <functional>
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

class TRzFrameController;

// The colour and frame settings of a control, and the event handling that
// keeps them shown: the control hands every event to FramedEvent once its
// own base class has handled it, and its wheel turns to WheelNotches.
class TRzFramedControl {
  public:
    // `sender` is the control as its events name it.
    TRzFramedControl(QAbstractScrollArea* control, TComponent* sender);
    virtual ~TRzFramedControl();
    TRzFramedControl(const TRzFramedControl&) = delete;
    TRzFramedControl& operator=(const TRzFramedControl&) = delete;

    const QColor& Color() const { return plainColor_; }
    // A colour set from outside; the focus colour follows it while the two
    // were equal. It ends taking the parent's colour.
    void SetColor(const QColor& color);
    // On: the parent's background colour is taken as if set from outside,
    // now and whenever it changes.
    bool ParentColor() const { return parentColor_; }
    void SetParentColor(bool on);
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
    // Takes a wheel event: the whole notches it completes (up positive), or
    // 0 when it completes none or OnMouseWheel handled it. Touchpads and
    // fine wheels send parts of a notch; they add up until one is whole.
    int WheelNotches(QWheelEvent* e);
    // What an upward turn does that would pass the top.
    enum class TPastTop { Ignore, StopAtTop };
    // Scrolls by the system's wheel-scroll lines for each notch.
    void ScrollByWheel(int notches, TPastTop pastTop);
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
    void TakeColor(const QColor& color);
    void FollowParentColor();

    QAbstractScrollArea* control_;
    TComponent* sender_;
    QColor plainColor_;
    QColor disabledColor_;
    QColor focusColor_;
    bool parentColor_ = false;
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
    // The part of a notch turned so far, in eighths of a degree.
    int wheelPart_ = 0;
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
