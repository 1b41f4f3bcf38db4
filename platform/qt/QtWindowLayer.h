#pragma once
// The window layer on Qt Widgets.

#include "platform/WindowLayer.h"

namespace platform {

class QtWindowLayer final : public WindowLayer {
public:
    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;
    int ScreenCursor() const override { return cursor_; }
    void SetScreenCursor(int code) override;
    void ProcessMessages() override;

private:
    int cursor_ = crDefault;
};

}  // namespace platform
