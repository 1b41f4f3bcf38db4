#include "app/Widgets.h"

#include <QEnterEvent>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPolygon>
#include <QStringList>
#include <QTextOption>

#include <algorithm>

#include "app/Pictures.h"

void InstallFontSubstitutes() {
    const QStringList hangulFonts = {"NanumGothic", "Noto Sans CJK KR", "UnDotum", "Baekmuk Gulim"};
    for (const char* family : {"굴림", "Gulim", "MS Sans Serif"})
        QFont::insertSubstitutions(QString::fromUtf8(family), hangulFonts);
}

QColor AdjustLightness(const QColor& color, int delta) {
    // Qt keeps lightness on 0..255; the look's rules are written on 0..240.
    QColor hsl = color.toHsl();
    int lightness = hsl.lightness() * 240 / 255 + delta;
    lightness = std::clamp(lightness, 0, 240);
    QColor result =
        QColor::fromHsl(hsl.hslHue(), hsl.hslSaturation(), (lightness * 255 + 120) / 240);
    return result.toRgb();
}

QColor Blend(const QColor& a, const QColor& b, int parts) {
    auto mix = [parts](int x, int y) { return (x * parts + y * (255 - parts)) / 255; };
    return QColor(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()));
}

QColor FlatShadowColor() {
    return QColor(128, 128, 128);
}
QColor FlatGrayTextColor() {
    return QColor(128, 128, 128);
}

namespace {

// Two one-pixel rings just inside `rect`.
void DrawTwoPixelFrame(QPainter& painter, const QRect& rect, const QColor& outer,
                       const QColor& inner) {
    painter.setBrush(Qt::NoBrush);
    painter.setPen(outer);
    painter.drawRect(rect.adjusted(0, 0, -1, -1));
    painter.setPen(inner);
    painter.drawRect(rect.adjusted(1, 1, -2, -2));
}

QPixmap GreyedCopy(const QPixmap& source) {
    if (source.isNull())
        return source;
    QImage image = source.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            QColor c = image.pixelColor(x, y);
            if (c.alpha() == 0)
                continue;
            int grey = 128 + qGray(c.rgb()) / 2;
            image.setPixelColor(x, y, QColor(grey, grey, grey, c.alpha()));
        }
    return QPixmap::fromImage(image);
}

}  // namespace

TPictureButton::TPictureButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
}

void TPictureButton::SetColor(const QColor& color) {
    color_ = color;
    update();
}

void TPictureButton::SetHighlightColor(const QColor& color) {
    highlight_ = color;
    update();
}

void TPictureButton::SetHotTrack(bool on) {
    hotTrack_ = on;
    update();
}

void TPictureButton::SetHotTrackColor(const QColor& color) {
    hotTrackColor_ = color;
    update();
}

void TPictureButton::SetTextColor(const QColor& color) {
    textColor_ = color;
    update();
}

void TPictureButton::SetGlyph(const QPixmap& normal, const QPixmap& disabled) {
    glyph_ = normal;
    disabledGlyph_ = disabled.isNull() ? GreyedCopy(normal) : disabled;
    update();
}

void TPictureButton::SetPlacement(Placement placement) {
    placement_ = placement;
    update();
}

TPictureButton::Look TPictureButton::CurrentLook() const {
    if (isDown())
        return Look::Pressed;
    if (hotTrack_ && hot_ && isEnabled())
        return Look::Hot;
    if (hasFocus())
        return Look::Focused;
    return Look::Face;
}

QColor TPictureButton::FaceColor(Look look) const {
    return look == Look::Pressed ? AdjustLightness(color_, -10) : color_;
}

std::pair<QColor, QColor> TPictureButton::FrameColors(Look look) const {
    switch (look) {
        case Look::Hot:
            return {hotTrackColor_, Blend(hotTrackColor_, Qt::white, 65)};
        case Look::Pressed:
            if (hotTrack_ && hot_)
                return FrameColors(Look::Hot);
            return {};
        case Look::Focused: {
            QColor raised = AdjustLightness(color_, 30);
            return {Blend(highlight_, raised, 160), Blend(highlight_, raised, 60)};
        }
        case Look::Face:
            break;
    }
    return {};
}

QSize TPictureButton::sizeHint() const {
    QFontMetrics metrics(font());
    QSize caption = metrics.size(Qt::TextSingleLine, text());
    QSize picture = glyph_.isNull() ? QSize() : glyph_.size() / glyph_.devicePixelRatio();
    if (placement_ == Placement::Above)
        return QSize(std::max(caption.width(), picture.width()) + 8,
                     caption.height() + picture.height() + 12);
    return QSize(caption.width() + picture.width() + 12,
                 std::max(caption.height(), picture.height()) + 8);
}

void TPictureButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const Look look = CurrentLook();
    painter.fillRect(rect(), FaceColor(look));
    auto [outer, inner] = FrameColors(look);
    if (outer.isValid())
        DrawTwoPixelFrame(painter, rect(), outer, inner);

    const QPixmap& picture = isEnabled() ? glyph_ : disabledGlyph_;
    const QSize pictureSize = picture.isNull() ? QSize(0, 0) : picture.size();
    const QRect area = rect().adjusted(3, 3, -3, -3).translated(isDown() ? QPoint(1, 1) : QPoint());
    painter.setFont(font());
    painter.setPen(isEnabled() ? textColor_ : FlatGrayTextColor());
    QFontMetrics metrics(font());
    const int spacing = 4;

    if (placement_ == Placement::Above) {
        // A narrow button wraps its caption between syllables.
        QTextOption option(Qt::AlignHCenter | Qt::AlignTop);
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        QRect textBounds = metrics.boundingRect(QRect(0, 0, area.width(), 10000),
                                                Qt::AlignHCenter | Qt::TextWrapAnywhere, text());
        const int total = pictureSize.height() + spacing + textBounds.height();
        int top = area.top() + (area.height() - total) / 2;
        if (!picture.isNull())
            painter.drawPixmap(area.left() + (area.width() - pictureSize.width()) / 2, top,
                               picture);
        top += pictureSize.height() + spacing;
        painter.drawText(QRectF(area.left(), top, area.width(), textBounds.height()), text(),
                         option);
    } else {
        const int textWidth = metrics.horizontalAdvance(text());
        const int total = pictureSize.width() + (picture.isNull() ? 0 : spacing) + textWidth;
        int left = area.left() + std::max(0, (area.width() - total) / 2);
        if (!picture.isNull()) {
            painter.drawPixmap(left, area.top() + (area.height() - pictureSize.height()) / 2,
                               picture);
            left += pictureSize.width() + spacing;
        }
        painter.drawText(QRect(left, area.top(), area.right() - left + 1, area.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, text());
    }
}

void TPictureButton::enterEvent(QEnterEvent* event) {
    hot_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void TPictureButton::leaveEvent(QEvent* event) {
    hot_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

TFlatPanel::TFlatPanel(QWidget* parent) : QWidget(parent) {}

void TFlatPanel::SetColor(const QColor& color) {
    color_ = color;
    update();
}

void TFlatPanel::SetFlatBorder(bool on) {
    flatBorder_ = on;
    update();
}

void TFlatPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), color_);
    if (flatBorder_) {
        painter.setPen(AdjustLightness(FlatShadowColor(), 30));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

TFlatGroupBox::TFlatGroupBox(const QString& title, QWidget* parent) : QGroupBox(title, parent) {
    setFlat(true);
}

void TFlatGroupBox::SetColor(const QColor& color) {
    color_ = color;
    update();
}

void TFlatGroupBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), color_);
    QFontMetrics metrics(font());
    const int top = metrics.height() / 2;
    const int right = width() - 1;
    const int bottom = height() - 1;
    // One-pixel frame with its four corners cut by a diagonal pixel.
    QPolygon frame;
    frame << QPoint(1, top) << QPoint(right - 1, top) << QPoint(right, top + 1)
          << QPoint(right, bottom - 1) << QPoint(right - 1, bottom) << QPoint(1, bottom)
          << QPoint(0, bottom - 1) << QPoint(0, top + 1) << QPoint(1, top);
    painter.setPen(AdjustLightness(FlatShadowColor(), 30));
    painter.setBrush(Qt::NoBrush);
    painter.drawPolyline(frame);

    const QString caption = title();
    if (caption.isEmpty())
        return;
    const QRect textRect(8, 0, metrics.horizontalAdvance(caption) + 4, metrics.height());
    painter.fillRect(textRect, color_);
    painter.setPen(isEnabled() ? palette().color(QPalette::Active, QPalette::WindowText)
                               : FlatGrayTextColor());
    painter.drawText(textRect.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, caption);
}

TBevel::TBevel(QWidget* parent) : QWidget(parent) {}

void TBevel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(FlatShadowColor());
    painter.drawLine(0, 0, width() - 1, 0);
    painter.setPen(Qt::white);
    painter.drawLine(0, 1, width() - 1, 1);
}

TBusyAnimation::TBusyAnimation(QWidget* parent) : QWidget(parent) {
    timer_.setInterval(kFrameIntervalMs);
    connect(&timer_, &QTimer::timeout, this, &TBusyAnimation::Step);
}

void TBusyAnimation::Play() {
    frame_ = 0;
    timer_.start();
    update();
}

void TBusyAnimation::Stop() {
    timer_.stop();
}

void TBusyAnimation::Step() {
    frame_ = (frame_ + 1) % kFrameCount;
    update();
}

void TBusyAnimation::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // Transparent: only the picture itself is drawn, centred.
    const QSize picture = CopyAnimationSize();
    painter.translate((width() - picture.width()) / 2, (height() - picture.height()) / 2);
    PaintCopyAnimationFrame(painter, frame_);
}
