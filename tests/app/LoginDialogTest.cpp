#include "app/LoginDialog.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "QtTestSupport.h"
#include "services/IB_Services.h"
#include "services/fib.h"

namespace {

class LoginDialogTest : public ::testing::Test {
  protected:
    void SetUp() override { EnsureQtApplication(); }
    void TearDown() override { ResetLoginPromptProc(); }

    // Answers the dialog once it is up; gives up (and fails) after a while
    // so a dialog that never appears cannot hang the test.
    static void AnswerDialog(std::function<void(TLoginDialog&)> answer, int triesLeft = 200) {
        QTimer::singleShot(10, [answer, triesLeft] {
            auto* dialog = qobject_cast<TLoginDialog*>(QApplication::activeModalWidget());
            if (dialog) {
                answer(*dialog);
            } else if (triesLeft > 0) {
                AnswerDialog(answer, triesLeft - 1);
            } else {
                ADD_FAILURE() << "the login dialog did not appear";
            }
        });
    }
};

}  // namespace

TEST(ServerNameShortening, KeepsNamesUpTo45Characters) {
    const QString name45(45, 'a');
    EXPECT_EQ(ShortenServerName(name45), name45);
    EXPECT_EQ(ShortenServerName("db.example.kr"), "db.example.kr");
}

TEST(ServerNameShortening, LongerNamesKeepTheFirst10AndTheLast33) {
    const QString name = "0123456789" + QString(10, 'x') + "abcdefghijklmnopqrstuvwxyz0123456";
    ASSERT_EQ(name.size(), 53);
    EXPECT_EQ(ShortenServerName(name), "0123456789...abcdefghijklmnopqrstuvwxyz0123456");
}

TEST(ServerNameShortening, CountsCharactersNotUtf16Units) {
    // 45 characters, 90 UTF-16 units: short enough to show whole.
    QString wide;
    for (int i = 0; i < 45; ++i) wide += QString::fromUcs4(U"\U0001D400", 1);
    EXPECT_EQ(ShortenServerName(wide), wide);
    // One more: cut between characters, never inside a surrogate pair.
    const QString longer = wide + QString::fromUcs4(U"\U0001D401", 1);
    const QString shown = ShortenServerName(longer);
    EXPECT_EQ(shown.toUcs4().size(), 10 + 3 + 33);
    EXPECT_TRUE(shown.startsWith(wide.left(20) + "..."));
    EXPECT_TRUE(shown.endsWith(QString::fromUcs4(U"\U0001D401", 1)));
}

TEST_F(LoginDialogTest, ShowsTheServerAndPrefillsUserAndRoleButNotThePassword) {
    TLoginDialog dialog(QString(50, 's'), "SYSDBA", "ADMIN");
    EXPECT_EQ(dialog.windowTitle(), "Database login");
    EXPECT_EQ(dialog.ServerLabel()->text(), ShortenServerName(QString(50, 's')));
    EXPECT_EQ(dialog.UserName(), "SYSDBA");
    EXPECT_EQ(dialog.Password(), "");
    EXPECT_EQ(dialog.RoleName(), "ADMIN");
    EXPECT_EQ(dialog.PasswordEdit()->echoMode(), QLineEdit::Password);
}

TEST_F(LoginDialogTest, OkReturnsTheThreeEnteredTexts) {
    AnswerDialog([](TLoginDialog& d) {
        d.UserEdit()->setText("OPERATOR");
        d.PasswordEdit()->setText("secret");
        d.RoleEdit()->setText("");
        d.accept();
    });
    std::string user = "SYSDBA", password = "old", role = "R";
    EXPECT_TRUE(ExecuteLoginDialog("localhost", user, password, role));
    EXPECT_EQ(user, "OPERATOR");
    EXPECT_EQ(password, "secret");
    EXPECT_EQ(role, "");
}

TEST_F(LoginDialogTest, CancelChangesNothing) {
    AnswerDialog([](TLoginDialog& d) {
        d.PasswordEdit()->setText("typed");
        d.reject();
    });
    std::string user = "SYSDBA", password = "old", role = "R";
    EXPECT_FALSE(ExecuteLoginDialog("localhost", user, password, role));
    EXPECT_EQ(user, "SYSDBA");
    EXPECT_EQ(password, "old");
    EXPECT_EQ(role, "R");
}

TEST_F(LoginDialogTest, ServicesAskTheRegisteredDialog) {
    EXPECT_FALSE(LoginPromptProc());
    RegisterLoginDialog();
    ASSERT_TRUE(LoginPromptProc());

    TpFIBRestoreService service;
    service.SetParams(TStrings{"user_name=SYSDBA", "password=fernstone"});
    service.SetLoginPrompt(true);
    QString shownUser;
    AnswerDialog([&shownUser](TLoginDialog& d) {
        shownUser = d.UserName();
        d.reject();
    });
    try {
        service.Attach();
        ADD_FAILURE() << "attach went ahead without a login";
    } catch (const EFIBClientError& error) {
        EXPECT_NE(std::string(error.what()).find("Operation cancelled at user's request."),
                  std::string::npos)
            << error.what();
    }
    EXPECT_EQ(shownUser, "SYSDBA");
    EXPECT_FALSE(service.Active());
}
