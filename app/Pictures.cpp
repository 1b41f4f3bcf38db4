#include "app/Pictures.h"

#include <QBitmap>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>

#include <cmath>

#include "app/Widgets.h"

namespace {

// Pixel art is drawn without smoothing so the background colour stays exact
// and can be keyed out.
QImage Canvas(int size, const QColor& background) {
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(background);
    return image;
}

void Fill(QPainter& p, int x, int y, int w, int h, const QColor& c) {
    p.fillRect(x, y, w, h, c);
}

}  // namespace

QPixmap TransparentByCorner(const QImage& image) {
    QPixmap pixmap = QPixmap::fromImage(image);
    const QColor key = image.pixelColor(0, image.height() - 1);
    pixmap.setMask(pixmap.createMaskFromColor(key, Qt::MaskInColor));
    return pixmap;
}

QPixmap RestoreButtonPicture() {
    const QColor magenta(255, 0, 255), black(0, 0, 0), dark(64, 64, 64), silver(192, 192, 192),
        white(255, 255, 255), red(220, 0, 0), darkRed(128, 0, 0), grey(128, 128, 128);
    QImage image = Canvas(32, magenta);
    QPainter p(&image);
    // Speed lines behind the runner.
    Fill(p, 1, 6, 6, 1, grey);
    Fill(p, 0, 10, 8, 1, dark);
    Fill(p, 2, 14, 6, 1, grey);
    Fill(p, 1, 18, 7, 1, dark);
    // The disk, its top-right corner cut.
    Fill(p, 9, 2, 19, 20, black);
    Fill(p, 26, 2, 2, 2, magenta);
    Fill(p, 27, 4, 1, 1, magenta);
    // Metal shutter with its window.
    Fill(p, 13, 2, 11, 7, silver);
    Fill(p, 19, 3, 3, 5, dark);
    // Label.
    Fill(p, 12, 12, 13, 9, white);
    Fill(p, 14, 14, 9, 1, grey);
    Fill(p, 14, 17, 9, 1, grey);
    // Legs in mid-stride: one reaching back, one forward.
    p.setPen(QPen(black, 2));
    p.drawLine(14, 22, 11, 27);
    p.drawLine(22, 22, 25, 27);
    // Red shoes.
    Fill(p, 7, 27, 5, 3, red);
    Fill(p, 7, 29, 5, 1, darkRed);
    Fill(p, 24, 27, 6, 3, red);
    Fill(p, 24, 29, 6, 1, darkRed);
    p.end();
    return TransparentByCorner(image);
}

QPixmap TitlePicture() {
    const QColor magenta(255, 0, 255), grey(128, 128, 128), darkGrey(80, 80, 80),
        silver(200, 200, 200), white(255, 255, 255), red(210, 0, 0);
    QImage image = Canvas(32, magenta);
    QPainter p(&image);
    // Body with the four corners left in the background colour.
    Fill(p, 1, 1, 30, 30, grey);
    for (int x : {1, 30})
        for (int y : {1, 30}) Fill(p, x, y, 1, 1, magenta);
    // Shutter and its window.
    Fill(p, 9, 1, 14, 10, silver);
    Fill(p, 17, 3, 4, 6, darkGrey);
    // Label with a white cross on a red square.
    Fill(p, 5, 14, 22, 16, white);
    Fill(p, 10, 16, 12, 12, red);
    Fill(p, 12, 21, 8, 2, white);
    Fill(p, 15, 18, 2, 8, white);
    p.end();
    return TransparentByCorner(image);
}

namespace {

QPixmap Door(const QColor& frame, const QColor& opening, const QColor& door, const QColor& knob) {
    const QColor olive(128, 128, 0);
    QImage image = Canvas(16, olive);
    QPainter p(&image);
    // Frame and the dark opening behind the door.
    Fill(p, 5, 1, 9, 14, frame);
    Fill(p, 7, 3, 5, 11, opening);
    // The door swung open towards the viewer, hinged on the frame's left side.
    QPolygon leaf;
    leaf << QPoint(6, 2) << QPoint(2, 4) << QPoint(2, 15) << QPoint(6, 14);
    p.setPen(door);
    p.setBrush(door);
    p.drawPolygon(leaf);
    Fill(p, 3, 9, 1, 1, knob);
    // The bottom-left pixel must stay the background colour.
    Fill(p, 0, 15, 2, 1, olive);
    p.end();
    return TransparentByCorner(image);
}

}  // namespace

QPixmap CloseButtonPicture() {
    return Door(QColor(255, 255, 0), QColor(0, 0, 0), QColor(128, 0, 0), QColor(255, 255, 0));
}

QPixmap CloseButtonDisabledPicture() {
    return Door(QColor(255, 255, 255), QColor(128, 128, 128), QColor(128, 128, 128),
                QColor(255, 255, 255));
}

QSize CopyAnimationSize() {
    return QSize(272, 60);
}

namespace {

void PaintFolder(QPainter& p, int x, int y, bool open) {
    const QColor edge(128, 96, 0), body(255, 214, 90), light(255, 236, 160);
    p.setPen(QPen(edge, 1));
    p.setBrush(body);
    // Tab, then the back and the front of the folder.
    p.drawRect(x + 2, y, 18, 6);
    p.drawRect(x, y + 4, 52, 34);
    if (open) {
        QPolygonF front;
        front << QPointF(x + 6, y + 14) << QPointF(x + 58, y + 14) << QPointF(x + 52, y + 38)
              << QPointF(x, y + 38);
        p.setBrush(light);
        p.drawPolygon(front);
    }
}

void PaintSheet(QPainter& p, double cx, double cy, double angle) {
    p.save();
    p.translate(cx, cy);
    p.rotate(angle);
    p.setPen(QPen(QColor(40, 40, 40), 1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(-8, -10, 16, 20));
    p.setPen(QPen(QColor(90, 120, 200), 1));
    for (int i = 0; i < 4; ++i) p.drawLine(QPointF(-5, -6 + 4 * i), QPointF(5, -6 + 4 * i));
    p.restore();
}

}  // namespace

void PaintCopyAnimationFrame(QPainter& painter, int frame) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    PaintFolder(painter, 18, 16, true);
    PaintFolder(painter, 200, 16, true);
    // The sheet rises out of the left folder, arcs over and drops into the right.
    const double t = static_cast<double>(frame % TBusyAnimation::kFrameCount) /
                     (TBusyAnimation::kFrameCount - 1);
    const double x = 46 + t * 182;
    const double y = 36 - std::sin(t * M_PI) * 20;
    PaintSheet(painter, x, y, -25 + t * 50);
    // A trail of dots along the path already flown.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(150, 150, 150));
    for (int k = 1; k <= 3; ++k) {
        const double s = t - 0.06 * k;
        if (s <= 0)
            break;
        painter.drawEllipse(QPointF(46 + s * 182, 36 - std::sin(s * M_PI) * 20), 1.5, 1.5);
    }
    painter.restore();
}
