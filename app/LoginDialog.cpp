#include "app/LoginDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "services/IB_Services.h"

namespace {

// The UTF-16 length of the first `count` characters of `text` (a character
// outside the basic plane takes two units).
qsizetype UnitsOfFirst(const QString& text, qsizetype count) {
    qsizetype units = 0;
    for (; count > 0 && units < text.size(); --count)
        units += text[units].isHighSurrogate() && units + 1 < text.size() ? 2 : 1;
    return units;
}

}  // namespace

QString ShortenServerName(const QString& name) {
    // Counted in characters, not UTF-16 units, so a character outside the
    // basic plane is never cut in half.
    const qsizetype characters = name.toUcs4().size();
    if (characters <= 45)
        return name;
    return name.left(UnitsOfFirst(name, 10)) + "..." +
           name.mid(UnitsOfFirst(name, characters - 33));
}

TLoginDialog::TLoginDialog(const QString& serverName, const QString& userName,
                           const QString& roleName, QWidget* parent)
    : QDialog(parent),
      serverLabel_(new QLabel(ShortenServerName(serverName), this)),
      userEdit_(new QLineEdit(userName, this)),
      passwordEdit_(new QLineEdit(this)),
      roleEdit_(new QLineEdit(roleName, this)) {
    setObjectName("LoginDialog");
    setWindowTitle("Database login");
    setModal(true);
    passwordEdit_->setEchoMode(QLineEdit::Password);

    auto* fields = new QFormLayout;
    fields->addRow("Server:", serverLabel_);
    fields->addRow("User name:", userEdit_);
    fields->addRow("Password:", passwordEdit_);
    fields->addRow("Role:", roleEdit_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(buttons);

    // The user name is usually right; the password is what is asked for.
    (userName.isEmpty() ? userEdit_ : passwordEdit_)->setFocus();
}

QString TLoginDialog::UserName() const {
    return userEdit_->text();
}
QString TLoginDialog::Password() const {
    return passwordEdit_->text();
}
QString TLoginDialog::RoleName() const {
    return roleEdit_->text();
}

bool ExecuteLoginDialog(const std::string& serverName, std::string& userName, std::string& password,
                        std::string& roleName) {
    TLoginDialog dialog(QString::fromStdString(serverName), QString::fromStdString(userName),
                        QString::fromStdString(roleName));
    if (dialog.exec() != QDialog::Accepted)
        return false;
    userName = dialog.UserName().toStdString();
    password = dialog.Password().toStdString();
    roleName = dialog.RoleName().toStdString();
    return true;
}

void RegisterLoginDialog() {
    SetLoginPromptProc(&ExecuteLoginDialog);
}
