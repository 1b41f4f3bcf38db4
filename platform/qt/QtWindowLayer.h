#pragma once
// The window layer on Qt Widgets.

#include <QString>

#include "platform/WindowLayer.h"

namespace platform {

// The text as a message box shows it: every line break made an LF.
QString MessageBoxText(const std::string& text);

class QtWindowLayer final : public WindowLayer {
  public:
    void ShowMessage(const std::string& text, const std::string& caption,
                     MessageIcon icon) override;
    int ScreenCursor() const override { return cursor_; }
    void SetScreenCursor(int code) override;
    void ProcessMessages() override;

  private:
    int cursor_ = crDefault;
};

}  // namespace platform
