#pragma once
// One Qt application object per test program, made on first use so that
// listing the tests needs no display. Windows go to the offscreen platform
// unless the environment asks for another.

#include <QApplication>
#include <QFont>
#include <cstdlib>

#include "app/GuardedApplication.h"

inline QApplication& EnsureQtApplication() {
    static int argc = 1;
    static char name[] = "app_test";
    static char* argv[] = {name, nullptr};
    static TGuardedApplication* app = [] {
        if (!std::getenv("QT_QPA_PLATFORM"))
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
        return new TGuardedApplication(argc, argv);
    }();
    return *app;
}
