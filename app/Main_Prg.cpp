// The restore tool: one window that has the database server restore a backup
// from the "BackUp" folder into a database file of the "Data" folder.

#include "app/Application.h"
#include "app/GuardedApplication.h"
#include "app/LoginDialog.h"
#include "app/Main_Form.h"
#include "core/Locale.h"
#include "platform/WindowLayer.h"
#include "platform/qt/QtWindowLayer.h"

int main(int argc, char** argv) {
    // The tool reads no arguments. Qt is shown only the program's name, so
    // that options of its own (such as -reverse) cannot change the window.
    int qtArgc = argc > 0 ? 1 : 0;
    TGuardedApplication qtApplication(qtArgc, argv);
    // Qt sets the whole locale from the environment as it starts, so the
    // character type is settled only now: before the window, any service
    // or the trace writer; the one thread Qt has started by then only
    // reads the display's events.
    core::UseUtf8CharacterType();
    platform::QtWindowLayer windowLayer;
    platform::ScopedWindowLayer installed(windowLayer);
    RegisterLoginDialog();

    TApplication application;
    application.SetTitle("Tovanel 자료복구(Restore)");
    auto* form = new TMain_Form(&application);  // owned by the application
    form->show();
    const int result = TGuardedApplication::exec();
    // Freeing the application frees the window and its components.
    return result;
}
