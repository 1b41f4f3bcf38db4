#pragma once
// The plain controls of the main window, drawn in the flat look of the tool:
// picture buttons with hot-track and focus frames, flat panels and group
// boxes, a lowered separator line, and the busy animation.

#include <QAbstractButton>
#include <QColor>
#include <QGroupBox>
#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <utility>

// Fonts the stored description names, mapped onto installed fonts that have
// Hangul, so the window's text renders on every machine we ship to.
void InstallFontSubstitutes();

// Lightness moved by `delta` on a 0..240 scale, hue and saturation kept.
QColor AdjustLightness(const QColor& color, int delta);
// `parts` of 255 of `a`, the rest of `b`.
QColor Blend(const QColor& a, const QColor& b, int parts);
// The platform colours the flat look is built from.
QColor FlatShadowColor();
QColor FlatGrayTextColor();

class TPictureButton : public QAbstractButton {
    Q_OBJECT
  public:
    enum class Placement { Above, Left };
    // What the button shows now, by the rules of the flat look.
    enum class Look { Face, Hot, Pressed, Focused };

    explicit TPictureButton(QWidget* parent = nullptr);

    void SetColor(const QColor& color);
    void SetHighlightColor(const QColor& color);
    void SetHotTrack(bool on);
    void SetHotTrackColor(const QColor& color);
    void SetTextColor(const QColor& color);
    // `disabled` is shown while the button is disabled; without it the
    // normal picture is drawn in grey.
    void SetGlyph(const QPixmap& normal, const QPixmap& disabled = QPixmap());
    void SetPlacement(Placement placement);

    const QColor& Color() const { return color_; }
    const QColor& HighlightColor() const { return highlight_; }
    const QColor& HotTrackColor() const { return hotTrackColor_; }
    bool HotTrack() const { return hotTrack_; }
    Look CurrentLook() const;
    // The two rings of the frame drawn for a look (outer, inner); invalid
    // colours for the looks without a frame.
    std::pair<QColor, QColor> FrameColors(Look look) const;
    QColor FaceColor(Look look) const;

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    QColor color_{240, 240, 240};
    QColor highlight_{106, 141, 244};
    QColor hotTrackColor_{255, 199, 60};
    QColor textColor_{0, 0, 0};
    QPixmap glyph_;
    QPixmap disabledGlyph_;
    Placement placement_ = Placement::Left;
    bool hotTrack_ = false;
    bool hot_ = false;
};

// A panel in one colour, with a one-pixel flat frame or none.
class TFlatPanel : public QWidget {
    Q_OBJECT
  public:
    explicit TFlatPanel(QWidget* parent = nullptr);
    void SetColor(const QColor& color);
    void SetFlatBorder(bool on);
    const QColor& Color() const { return color_; }
    bool FlatBorder() const { return flatBorder_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor color_{240, 240, 240};
    bool flatBorder_ = false;
};

// A group box in the flat group style: a one-pixel frame with cut corners
// that starts half a text line below the top, and the caption at the top
// left on the box's colour, grey while the box is disabled.
class TFlatGroupBox : public QGroupBox {
    Q_OBJECT
  public:
    explicit TFlatGroupBox(const QString& title, QWidget* parent = nullptr);
    void SetColor(const QColor& color);
    const QColor& Color() const { return color_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor color_{240, 240, 240};
};

// A lowered horizontal separator line.
class TBevel : public QWidget {
    Q_OBJECT
  public:
    explicit TBevel(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// The busy animation: a sheet of paper flying from one folder to another,
// played frame by frame and repeated without end while active.
class TBusyAnimation : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kFrameCount = 20;
    static constexpr int kFrameIntervalMs = 60;

    explicit TBusyAnimation(QWidget* parent = nullptr);
    void Play();
    void Stop();
    bool Active() const { return timer_.isActive(); }
    int Frame() const { return frame_; }
    // Moves to the next frame (the timer's step; wraps after the last).
    void Step();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QTimer timer_;
    int frame_ = 0;
};
