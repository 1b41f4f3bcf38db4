#pragma once
// A window layer for tests: records every message box and cursor change and
// lets the test run code while a box is "open" or while messages are pumped.

#include <functional>
#include <string>
#include <vector>

#include "platform/WindowLayer.h"

namespace platform {

class FakeWindowLayer : public WindowLayer {
  public:
    struct Message {
        std::string text;
        std::string caption;
        MessageIcon icon;
    };

    void ShowMessage(const std::string& text, const std::string& caption,
                     MessageIcon icon) override {
        messages.push_back({text, caption, icon});
    }
    int ScreenCursor() const override { return cursor; }
    void SetScreenCursor(int code) override {
        cursor = code;
        cursorHistory.push_back(code);
    }
    void ProcessMessages() override {
        ++pumps;
        if (onProcessMessages)
            onProcessMessages();
    }

    std::vector<Message> messages;
    std::vector<int> cursorHistory;
    int cursor = crDefault;
    int pumps = 0;
    std::function<void()> onProcessMessages;
};

}  // namespace platform
