#pragma once
// The few services of the window layer that commands and controls use
// directly: modal message boxes, the application-wide cursor, and the
// dispatch of pending messages. Tests install a fake so that a command's
// dialogs can be answered and its cursor changes observed without a screen.

#include <string>

#include "core/Seam.h"

namespace platform {

// Cursor codes as the stored descriptions use them.
enum CursorCode : int {
    crDefault = 0,
    crHourGlass = -11,
    crHandPoint = -21,
};

enum class MessageIcon { Information, Stop };

class WindowLayer {
  public:
    virtual ~WindowLayer() = default;

    // Shows a modal box with one OK button; returns when it is dismissed.
    virtual void ShowMessage(const std::string& text, const std::string& caption,
                             MessageIcon icon) = 0;
    virtual int ScreenCursor() const = 0;
    virtual void SetScreenCursor(int code) = 0;
    // Dispatches every message waiting for the application's windows.
    virtual void ProcessMessages() = 0;
};

// The process's window layer. Until one is installed, a layer that shows
// nothing is used, so non-GUI programs and tests can run the same code.
WindowLayer& Window();
// Installs a layer (not owned) and returns the previous one; nullptr puts
// the silent default back.
WindowLayer* SetWindowLayer(WindowLayer* layer);

// Installs a layer for the lifetime of the guard.
using ScopedWindowLayer = core::ScopedSeam<WindowLayer, SetWindowLayer>;

}  // namespace platform
