#include "app/Application.h"

#include <QCoreApplication>
#include <QString>

#include "core/Exceptions.h"
#include "platform/WindowLayer.h"

namespace {
TApplication* current = nullptr;
}

TApplication::TApplication() : TComponent(nullptr) {
    if (!current)
        current = this;
}

TApplication::~TApplication() {
    if (current == this)
        current = nullptr;
}

TApplication* Application() {
    return current;
}

void TApplication::SetTitle(std::string title) {
    title_ = std::move(title);
    // The application name (not the display name) carries it: Qt appends a
    // display name to every window caption, which the window must not show.
    if (QCoreApplication::instance())
        QCoreApplication::setApplicationName(QString::fromStdString(title_));
}

std::string WithFullStop(std::string text) {
    // Compared as bytes: every multi-byte character of UTF-8 ends in a byte
    // above "." and so counts like a letter, as a Korean syllable should.
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.')
        text += '.';
    return text;
}

void TApplication::HandleException(const std::exception& error) {
    if (dynamic_cast<const EAbort*>(&error))
        return;
    platform::Window().ShowMessage(WithFullStop(error.what()), title_, platform::MessageIcon::Stop);
}

void TApplication::HandleUnknownException() {
    platform::Window().ShowMessage(WithFullStop("Unknown error"), title_,
                                   platform::MessageIcon::Stop);
}
