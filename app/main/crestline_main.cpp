// crestline: the bar in a window of its own, metering all sound.
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/bar_app.h"
#include "app/quit_signals.h"
#include "bar/third_party_leaks.h"
#include "settings/settings.h"

namespace {

// Qt aborts when it cannot reach a display; say so plainly instead.
bool displayReachable() {
    if (std::getenv("QT_QPA_PLATFORM") != nullptr) return true;
    return std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (!displayReachable()) {
        std::fprintf(stderr, "crestline: no display to show the bar on (DISPLAY and WAYLAND_DISPLAY are unset)\n");
        return 1;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Crestline"));
    QApplication::setDesktopFileName(QStringLiteral("app.crestline.Crestline"));
    crestline::quitOnSignals();
    int code = 0;
    {
        crestline::BarApp bar(crestline::Settings::shared());
        QObject::connect(&application, &QCoreApplication::aboutToQuit, [&bar] { bar.shutDown(); });
        bar.start();
        code = QApplication::exec();
        bar.shutDown();
    }
    crestline::Settings::shared().flush();
    return code;
}
