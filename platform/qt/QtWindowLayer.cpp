#include "platform/qt/QtWindowLayer.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QString>

namespace platform {

QString MessageBoxText(const std::string& text) {
    // Texts break lines with CR LF or with a bare CR each; Qt breaks only on
    // LF and would fold "\r\r" into one break, losing the empty line.
    QString result = QString::fromStdString(text);
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return result;
}

void QtWindowLayer::ShowMessage(const std::string& text, const std::string& caption,
                                MessageIcon icon) {
    QMessageBox box(icon == MessageIcon::Stop ? QMessageBox::Critical : QMessageBox::Information,
                    QString::fromStdString(caption), MessageBoxText(text), QMessageBox::Ok,
                    QApplication::activeWindow());
    // The box belongs to the application: every window waits for it.
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

void QtWindowLayer::SetScreenCursor(int code) {
    // The override stack holds at most our one cursor, so restoring the
    // default never leaves an hourglass behind.
    while (QGuiApplication::overrideCursor()) QGuiApplication::restoreOverrideCursor();
    cursor_ = code;
    switch (code) {
        case crDefault:
            break;
        case crHourGlass:
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
            break;
        case crHandPoint:
            QGuiApplication::setOverrideCursor(Qt::PointingHandCursor);
            break;
        default:
            QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
            break;
    }
}

void QtWindowLayer::ProcessMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace platform
