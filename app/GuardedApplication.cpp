#include "app/GuardedApplication.h"

#include "app/Application.h"

bool TGuardedApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        if (TApplication* app = Application())
            app->HandleException(error);
    } catch (...) {
        if (TApplication* app = Application())
            app->HandleUnknownException();
    }
    return false;
}
