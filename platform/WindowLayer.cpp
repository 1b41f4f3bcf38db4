#include "platform/WindowLayer.h"

#include "core/Seam.h"

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

WindowLayer& SilentLayer() {
    static SilentWindowLayer layer;
    return layer;
}

core::Seam<WindowLayer> seam(SilentLayer);

}  // namespace

WindowLayer& Window() {
    return seam.Get();
}

WindowLayer* SetWindowLayer(WindowLayer* layer) {
    return seam.Install(layer);
}

}  // namespace platform
