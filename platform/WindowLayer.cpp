#include "platform/WindowLayer.h"

namespace platform {

namespace {

class SilentWindowLayer final : public WindowLayer {
  public:
    void ShowMessage(const std::string&, const std::string&, MessageIcon) override {}
    int ScreenCursor() const override { return cursor_; }
    void SetScreenCursor(int code) override { cursor_ = code; }
    void ProcessMessages() override {}

  private:
    int cursor_ = crDefault;
};

SilentWindowLayer silentLayer;
WindowLayer* current = nullptr;

}  // namespace

WindowLayer& Window() {
    return current ? *current : silentLayer;
}

WindowLayer* SetWindowLayer(WindowLayer* layer) {
    WindowLayer* previous = current;
    current = layer;
    return previous;
}

}  // namespace platform
