#pragma once
// The login dialog the services client asks when a service wants the
// operator's credentials before it attaches.

#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;

// A server name as the dialog shows it: longer than 45 characters, its first
// 10 characters, "..." and its last 33.
QString ShortenServerName(const QString& name);

class TLoginDialog : public QDialog {
    Q_OBJECT
  public:
    TLoginDialog(const QString& serverName, const QString& userName, const QString& roleName,
                 QWidget* parent = nullptr);

    QString UserName() const;
    QString Password() const;
    QString RoleName() const;
    QLabel* ServerLabel() const { return serverLabel_; }
    QLineEdit* UserEdit() const { return userEdit_; }
    QLineEdit* PasswordEdit() const { return passwordEdit_; }
    QLineEdit* RoleEdit() const { return roleEdit_; }

  private:
    QLabel* serverLabel_;
    QLineEdit* userEdit_;
    QLineEdit* passwordEdit_;
    QLineEdit* roleEdit_;
};

// Shows the dialog modally; on OK writes the three entered texts back and
// returns true. The password starts empty whatever was passed in.
bool ExecuteLoginDialog(const std::string& serverName, std::string& userName, std::string& password,
                        std::string& roleName);

// Puts the dialog into the services client's login prompt slot.
void RegisterLoginDialog();
