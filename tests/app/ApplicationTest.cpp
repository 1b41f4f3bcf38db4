#include "app/Application.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <gtest/gtest.h>

#include <stdexcept>

#include "QtTestSupport.h"
#include "core/Exceptions.h"
#include "fakes/FakeWindowLayer.h"

namespace {

const char* const kTitle = "Tovanel 자료복구(Restore)";

class ApplicationTest : public ::testing::Test {
  protected:
    ApplicationTest() : installed_(layer_) { app_.SetTitle(kTitle); }
    platform::FakeWindowLayer layer_;
    platform::ScopedWindowLayer installed_;
    TApplication app_;
};

// An object whose event handler fails, as a window's handler may.
class FailingReceiver : public QObject {
  public:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User)
            throw EDatabaseError("Main_Form.pFIBRestoreService1: broken");
        return QObject::event(e);
    }
};

}  // namespace

TEST(FullStopRule, AddsAStopAfterLettersDigitsAndHangul) {
    EXPECT_EQ(WithFullStop("Server Name Missing"), "Server Name Missing.");
    EXPECT_EQ(WithFullStop("code 42"), "code 42.");
    EXPECT_EQ(WithFullStop("복구될 파일명"), "복구될 파일명.");
}

TEST(FullStopRule, KeepsTextsThatEndInAStopOrALowerCharacter) {
    EXPECT_EQ(WithFullStop(""), "");
    EXPECT_EQ(WithFullStop("Operation cancelled at user's request."),
              "Operation cancelled at user's request.");
    EXPECT_EQ(WithFullStop("Can't load library GDS32.DLL "), "Can't load library GDS32.DLL ");
    EXPECT_EQ(WithFullStop("(see log)"), "(see log)");
    EXPECT_EQ(WithFullStop("stop!"), "stop!");
    EXPECT_EQ(WithFullStop("line\r\n"), "line\r\n");
    EXPECT_EQ(WithFullStop("a-"), "a-");
    EXPECT_EQ(WithFullStop("a/"), "a/.");
}

TEST_F(ApplicationTest, ErrorBoxCarriesTheTitleAndTheStopIcon) {
    app_.HandleException(EDatabaseError("Main_Form.pFIBRestoreService1: refused"));
    ASSERT_EQ(layer_.messages.size(), 1u);
    EXPECT_EQ(layer_.messages[0].text, "Main_Form.pFIBRestoreService1: refused.");
    EXPECT_EQ(layer_.messages[0].caption, kTitle);
    EXPECT_EQ(layer_.messages[0].icon, platform::MessageIcon::Stop);
}

TEST_F(ApplicationTest, SilentAbortIsNotShown) {
    app_.Guard([] { throw EAbort(); });
    EXPECT_TRUE(layer_.messages.empty());
}

TEST_F(ApplicationTest, GuardShowsWhatAHandlerRaisesAndReturns) {
    bool after = false;
    app_.Guard([] { throw std::runtime_error("plain failure"); });
    after = true;
    EXPECT_TRUE(after);
    ASSERT_EQ(layer_.messages.size(), 1u);
    EXPECT_EQ(layer_.messages[0].text, "plain failure.");
}

TEST_F(ApplicationTest, ErrorEscapingAnEventHandlerIsShownAndTheLoopGoesOn) {
    EnsureQtApplication();
    FailingReceiver receiver;
    QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
    QCoreApplication::sendPostedEvents(&receiver, QEvent::User);
    ASSERT_EQ(layer_.messages.size(), 1u);
    EXPECT_EQ(layer_.messages[0].text, "Main_Form.pFIBRestoreService1: broken.");
    EXPECT_EQ(layer_.messages[0].caption, kTitle);
}

TEST(ApplicationObject, IsKnownToTheProcessOnlyWhileItLives) {
    EXPECT_EQ(Application(), nullptr);
    {
        TApplication app;
        EXPECT_EQ(Application(), &app);
        EXPECT_EQ(app.Name(), "");
    }
    EXPECT_EQ(Application(), nullptr);
}
