#pragma once
// The tool's own artwork, drawn in code: the restore button's running floppy
// disk, the title bar's floppy disk with a red cross, the close button's
// open door, and the frames of the busy animation.

#include <QPixmap>
#include <QSize>

class QPainter;

// 32 x 32: a black floppy disk running on two legs with red shoes.
QPixmap RestoreButtonPicture();
// 32 x 32: a grey floppy disk with a white cross on a red square.
QPixmap TitlePicture();
// 16 x 16: an open door, in colour and as the grey-and-white disabled image.
QPixmap CloseButtonPicture();
QPixmap CloseButtonDisabledPicture();

// Makes every pixel of the bottom-left pixel's colour transparent.
QPixmap TransparentByCorner(const QImage& image);

// The busy animation: a sheet of paper flying from one folder to another.
QSize CopyAnimationSize();
// Paints frame `frame` (0 .. kFrameCount-1) with its top-left at the origin.
void PaintCopyAnimationFrame(QPainter& painter, int frame);
