#include "app/Widgets.h"

#include <QEnterEvent>
#include <QImage>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

#include <set>

#include "QtTestSupport.h"
#include "app/Pictures.h"

namespace {

class WidgetsTest : public ::testing::Test {
  protected:
    void SetUp() override { EnsureQtApplication(); }
};

void Enter(QWidget& w) {
    QEnterEvent e(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QCoreApplication::sendEvent(&w, &e);
}
void Leave(QWidget& w) {
    QEvent e(QEvent::Leave);
    QCoreApplication::sendEvent(&w, &e);
}

// The widget's own painting only, on a transparent canvas.
QImage Render(QWidget& w) {
    QImage image(w.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    w.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

}  // namespace

TEST(LookColours, LightnessMovesOnTheZeroTo240Scale) {
    EXPECT_EQ(AdjustLightness(QColor(0, 0, 0), 240), QColor(255, 255, 255));
    EXPECT_EQ(AdjustLightness(QColor(255, 255, 255), -240), QColor(0, 0, 0));
    // 128 grey is 120 of 240; 30 more is 150, i.e. 159 or 160 of 255.
    QColor lighter = AdjustLightness(QColor(128, 128, 128), 30);
    EXPECT_NEAR(lighter.red(), 160, 1);
    EXPECT_EQ(lighter.red(), lighter.blue());
    // Hue stays: a lowered yellow is still yellow.
    QColor darker = AdjustLightness(QColor(255, 199, 60), -10);
    EXPECT_NEAR(darker.toHsl().hslHue(), QColor(255, 199, 60).toHsl().hslHue(), 1);
    EXPECT_LT(darker.lightness(), QColor(255, 199, 60).lightness());
}

TEST(LookColours, BlendWeighsTheFirstColourByPartsOf255) {
    EXPECT_EQ(Blend(Qt::white, Qt::black, 255), QColor(Qt::white));
    EXPECT_EQ(Blend(Qt::white, Qt::black, 0), QColor(Qt::black));
    EXPECT_EQ(Blend(QColor(255, 199, 60), Qt::white, 65), QColor(255, 240, 205));
}

TEST_F(WidgetsTest, HotTrackFrameShowsWhileTheMouseIsOverTheButton) {
    TPictureButton button;
    button.resize(95, 35);
    button.SetColor(QColor(128, 128, 128));
    button.SetHotTrack(true);
    button.SetHotTrackColor(QColor(106, 141, 244));
    EXPECT_EQ(button.CurrentLook(), TPictureButton::Look::Face);
    Enter(button);
    EXPECT_EQ(button.CurrentLook(), TPictureButton::Look::Hot);
    QImage hot = Render(button);
    EXPECT_EQ(hot.pixelColor(0, 17), QColor(106, 141, 244));
    EXPECT_EQ(hot.pixelColor(1, 17), Blend(QColor(106, 141, 244), Qt::white, 65));
    EXPECT_EQ(hot.pixelColor(2, 17), QColor(128, 128, 128));
    Leave(button);
    EXPECT_EQ(button.CurrentLook(), TPictureButton::Look::Face);
    EXPECT_EQ(Render(button).pixelColor(0, 17), QColor(128, 128, 128));
}

TEST_F(WidgetsTest, WithoutHotTrackTheMouseChangesNothing) {
    TPictureButton button;
    button.resize(40, 40);
    Enter(button);
    EXPECT_EQ(button.CurrentLook(), TPictureButton::Look::Face);
}

TEST_F(WidgetsTest, PressedFaceIsTenDarker) {
    TPictureButton button;
    button.resize(38, 208);
    button.SetColor(QColor(244, 244, 240));
    button.setDown(true);
    EXPECT_EQ(button.CurrentLook(), TPictureButton::Look::Pressed);
    EXPECT_EQ(Render(button).pixelColor(5, 5).rgb(),
              AdjustLightness(QColor(244, 244, 240), -10).rgb());
}

TEST_F(WidgetsTest, FocusFrameBlendsTheHighlightWithTheRaisedFace) {
    TPictureButton button;
    button.SetColor(QColor(244, 244, 240));
    button.SetHighlightColor(QColor(106, 141, 244));
    auto [outer, inner] = button.FrameColors(TPictureButton::Look::Focused);
    QColor raised = AdjustLightness(QColor(244, 244, 240), 30);
    EXPECT_EQ(outer, Blend(QColor(106, 141, 244), raised, 160));
    EXPECT_EQ(inner, Blend(QColor(106, 141, 244), raised, 60));
    EXPECT_FALSE(button.FrameColors(TPictureButton::Look::Face).first.isValid());
}

TEST_F(WidgetsTest, DisabledButtonShowsItsDisabledPicture) {
    TPictureButton button;
    button.resize(95, 35);
    button.SetColor(QColor(128, 128, 128));
    button.SetGlyph(CloseButtonPicture(), CloseButtonDisabledPicture());
    std::set<QRgb> enabledColours, disabledColours;
    QImage on = Render(button);
    button.setEnabled(false);
    QImage off = Render(button);
    for (int y = 0; y < 35; ++y)
        for (int x = 0; x < 95; ++x) {
            enabledColours.insert(on.pixel(x, y));
            disabledColours.insert(off.pixel(x, y));
        }
    EXPECT_TRUE(enabledColours.count(QColor(128, 0, 0).rgb()));  // dark red door
    EXPECT_FALSE(disabledColours.count(QColor(128, 0, 0).rgb()));
    EXPECT_TRUE(disabledColours.count(QColor(255, 255, 255).rgb()));
}

TEST_F(WidgetsTest, DisabledButtonWithoutItsOwnPictureShowsTheNormalOneInGrey) {
    TPictureButton button;
    button.resize(40, 40);
    button.SetColor(Qt::white);
    button.SetGlyph(RestoreButtonPicture());
    const QImage on = Render(button);
    button.setEnabled(false);
    const QImage off = Render(button);
    bool redShoes = false, pictureDrawn = false, allGrey = true;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) {
            const QColor before = on.pixelColor(x, y), after = off.pixelColor(x, y);
            redShoes |= before == QColor(220, 0, 0);
            pictureDrawn |= after != QColor(Qt::white);
            allGrey &= after.red() == after.green() && after.green() == after.blue();
        }
    EXPECT_TRUE(redShoes);
    EXPECT_TRUE(pictureDrawn);
    EXPECT_TRUE(allGrey);
}

TEST_F(WidgetsTest, PicturesHaveTheirSizesAndTransparentBackgrounds) {
    struct Case {
        QPixmap picture;
        int size;
    } cases[] = {{RestoreButtonPicture(), 32},
                 {TitlePicture(), 32},
                 {CloseButtonPicture(), 16},
                 {CloseButtonDisabledPicture(), 16}};
    for (const Case& c : cases) {
        ASSERT_EQ(c.picture.size(), QSize(c.size, c.size));
        QImage image = c.picture.toImage().convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(qAlpha(image.pixel(0, c.size - 1)), 0);
        // Something is drawn: at least a quarter of the picture is opaque.
        int opaque = 0;
        for (int y = 0; y < c.size; ++y)
            for (int x = 0; x < c.size; ++x) opaque += qAlpha(image.pixel(x, y)) == 255;
        EXPECT_GT(opaque, c.size * c.size / 4);
    }
}

TEST_F(WidgetsTest, RunningDiskWearsRedShoesAndTheTitleDiskARedCross) {
    auto count = [](const QPixmap& p, QColor c) {
        QImage image = p.toImage().convertToFormat(QImage::Format_ARGB32);
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                n += qAlpha(image.pixel(x, y)) == 255 && QColor(image.pixel(x, y)) == c;
        return n;
    };
    EXPECT_GT(count(RestoreButtonPicture(), QColor(220, 0, 0)), 10);
    EXPECT_GT(count(RestoreButtonPicture(), QColor(0, 0, 0)), 100);
    EXPECT_GT(count(TitlePicture(), QColor(210, 0, 0)), 50);
    EXPECT_GT(count(TitlePicture(), QColor(255, 255, 255)), 50);
}

TEST_F(WidgetsTest, AnimationLoopsThroughTwentyDistinctFrames) {
    TBusyAnimation animation;
    animation.resize(272, 60);
    EXPECT_FALSE(animation.Active());
    animation.Play();
    EXPECT_TRUE(animation.Active());
    EXPECT_EQ(animation.Frame(), 0);
    std::set<QByteArray> frames;
    for (int i = 0; i < TBusyAnimation::kFrameCount; ++i) {
        QImage image = Render(animation);
        frames.insert(QByteArray(reinterpret_cast<const char*>(image.constBits()),
                                 static_cast<int>(image.sizeInBytes())));
        animation.Step();
    }
    EXPECT_EQ(frames.size(), 20u);
    EXPECT_EQ(animation.Frame(), 0);  // back to the first after the last
    animation.Stop();
    EXPECT_FALSE(animation.Active());
}

TEST_F(WidgetsTest, AnimationIsTransparentAroundItsPicture) {
    TBusyAnimation animation;
    animation.resize(272, 60);
    QImage image = Render(animation);
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(image.pixel(271, 59)), 0);
}

TEST_F(WidgetsTest, GroupBoxCaptionIsGreyWhileDisabled) {
    TFlatGroupBox box(QString::fromUtf8("[백업된 경로]"));
    box.resize(365, 439);
    box.SetColor(QColor(239, 235, 222));
    // The darkest pixel of the caption: black text when enabled, grey when not.
    auto darkestCaptionPixel = [&box] {
        QImage image = Render(box);
        int darkest = 255;
        for (int y = 0; y < 14; ++y)
            for (int x = 8; x < 100; ++x) darkest = std::min(darkest, qGray(image.pixel(x, y)));
        return darkest;
    };
    EXPECT_LT(darkestCaptionPixel(), 60);
    box.setEnabled(false);
    EXPECT_NEAR(darkestCaptionPixel(), FlatGrayTextColor().red(), 20);
    // Inside the frame the box shows its own colour.
    EXPECT_EQ(QColor(Render(box).pixel(100, 200)), QColor(239, 235, 222));
}

TEST_F(WidgetsTest, FlatPanelFrameIsTheShadowColourRaisedBy30) {
    TFlatPanel panel;
    panel.resize(100, 43);
    panel.SetColor(QColor(128, 128, 128));
    panel.SetFlatBorder(true);
    QImage framed = Render(panel);
    EXPECT_EQ(QColor(framed.pixel(0, 20)), AdjustLightness(FlatShadowColor(), 30));
    EXPECT_EQ(QColor(framed.pixel(50, 20)), QColor(128, 128, 128));
    panel.SetFlatBorder(false);
    EXPECT_EQ(QColor(Render(panel).pixel(0, 20)), QColor(128, 128, 128));
}
