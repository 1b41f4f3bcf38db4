#pragma once
// The Qt application object of the tool. An error that escapes an event
// handler while the message loop runs reaches the error display here, and
// the loop goes on.

#include <QApplication>

class TGuardedApplication : public QApplication {
    Q_OBJECT
  public:
    TGuardedApplication(int& argc, char** argv) : QApplication(argc, argv) {}
    bool notify(QObject* receiver, QEvent* event) override;
};
