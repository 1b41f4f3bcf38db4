#include "platform/WindowLayer.h"

#include <gtest/gtest.h>

#include "fakes/FakeWindowLayer.h"

using namespace platform;

TEST(WindowLayer, WithoutAnInstalledLayerNothingIsShownAndTheCursorIsKept) {
    Window().ShowMessage("text", "caption", MessageIcon::Stop);
    Window().SetScreenCursor(crHourGlass);
    EXPECT_EQ(Window().ScreenCursor(), crHourGlass);
    Window().SetScreenCursor(crDefault);
}

TEST(WindowLayer, ScopedLayersNestAndPutThePreviousOneBack) {
    FakeWindowLayer outer, inner;
    {
        ScopedWindowLayer a(outer);
        {
            ScopedWindowLayer b(inner);
            Window().ShowMessage("inner", "c", MessageIcon::Information);
        }
        Window().ShowMessage("outer", "c", MessageIcon::Information);
    }
    Window().ShowMessage("nobody", "c", MessageIcon::Information);
    ASSERT_EQ(inner.messages.size(), 1u);
    EXPECT_EQ(inner.messages[0].text, "inner");
    ASSERT_EQ(outer.messages.size(), 1u);
    EXPECT_EQ(outer.messages[0].text, "outer");
}
