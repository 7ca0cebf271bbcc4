// Shared by the bar tests: a process-wide QGuiApplication (fonts and images
// need one) on the offscreen platform, made on first use.
#pragma once

#include <QGuiApplication>
#include <cstdlib>

namespace crestline::testing {

inline QGuiApplication& guiApplication() {
    static int argc = 1;
    static char name[] = "bar_tests";
    static char* argv[] = {name, nullptr};
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QGuiApplication* app = new QGuiApplication(argc, argv);  // lives until exit
    return *app;
}

}  // namespace crestline::testing
