// crestline: the metering bar that lives with Ableton Live.
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/app_report.h"
#include "app/app_version.h"
#include "app/command_line.h"
#include "app/controller_services.h"
#include "app/crash_handler.h"
#include "app/crestline_app.h"
#include "app/desktop_appearance.h"
#include "app/desktop_placement.h"
#include "app/qt_services.h"
#include "app/x11_desktop.h"
#include "app/quit_signals.h"
#include "app/single_instance.h"
#include "bar/bar_view.h"
#include "bar/third_party_leaks.h"
#include "live/live_helper_receiver.h"
#include "live/live_theme.h"
#include "platform/process_launch.h"
#include "platform/app_identity.h"
#include "platform/running_processes.h"
#include "settings/settings.h"

namespace {

// Qt aborts when it cannot reach a display; say so plainly instead.
// The helper's port: Live's script sends to 47811. CRESTLINE_HELPER_PORT
// moves it, so tests and a second copy can listen elsewhere.
std::uint16_t helperPort() {
    if (const char* text = std::getenv("CRESTLINE_HELPER_PORT")) {
        char* end = nullptr;
        const long port = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && port > 0 && port < 65536) return static_cast<std::uint16_t>(port);
        std::fprintf(stderr, "crestline: CRESTLINE_HELPER_PORT \"%s\" is no port; using 47811\n", text);
    }
    return crestline::LiveHelperReceiver::kPort;
}

bool displayReachable() {
    if (std::getenv("QT_QPA_PLATFORM") != nullptr) return true;
    return std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const crestline::ParsedAppOptions parsed = crestline::parseAppOptions(args);
    if (!parsed.options) {
        std::fprintf(stderr, "crestline: %s\n%s", parsed.error.c_str(), crestline::appUsage().c_str());
        return 2;
    }
    if (parsed.options->help) {
        std::fputs(crestline::appUsage().c_str(), stdout);
        return 0;
    }
    // From here on a crash leaves a report that the next launch offers.
    const auto crashes = crestline::defaultCrashFolder();
    crestline::installCrashHandler({crashes, crestline::kAppVersion, crestline::kAppBuild});
    crestline::removeStaleRunningFiles(crashes);
    if (!displayReachable()) {
        std::fprintf(stderr, "crestline: no display to show the bar on (DISPLAY and WAYLAND_DISPLAY are unset)\n");
        return 1;
    }
    // One Crestline per desktop: a second launch shows the running one's bar
    // (a login launch only makes sure one runs) and ends.
    const std::string instanceSocket = crestline::SingleInstance::socketPath();
    const auto request = parsed.options->autostart ? crestline::SingleInstance::Request::none
                                                   : crestline::SingleInstance::Request::reopen;
    if (crestline::SingleInstance::tellRunning(instanceSocket, request)) {
        if (request == crestline::SingleInstance::Request::reopen) {
            std::fprintf(stderr, "crestline: already running on this desktop; showing its bar\n");
        }
        return 0;
    }
    // Under Wayland with XWayland the bar goes through X11: only there can it
    // be pinned and Live's window (an X11 client under Wine) be fitted.
    crestline::preferX11Platform();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Crestline"));
    QApplication::setDesktopFileName(QStringLiteral("app.crestline.Crestline"));
    QApplication::setQuitOnLastWindowClosed(false);
    crestline::quitOnSignals();

    crestline::DesktopAppearance appearance;
    crestline::LiveTheme::setSystemIsDark([&appearance] { return appearance.isDark(); });

    int code = 0;
    {
        crestline::QtMainLoop loop;
        crestline::QueueBackground capture(crestline::queueLabel(".capture-control"), loop);
        crestline::QueueBackground setReader(crestline::queueLabel(".liveset"), loop);
        crestline::MessageBoxQuestions questions;
        crestline::SystemLiveLauncher launcher;
        crestline::Settings& settings = crestline::Settings::shared();
        crestline::CrestlineApp app(
            crestline::CrestlineApp::World{settings, crestline::systemClock(), crestline::processList(), loop,
                                           capture, setReader, questions, launcher, crestline::mouseButtonsHeld,
                                           nullptr, helperPort(),
                                           [](int pid) { return crestline::onThisDesktop(pid); }},
            [&settings](crestline::CrestlineApp& host) {
                return std::make_unique<crestline::DesktopPlacement>(settings, host.view(), host,
                                                                     crestline::systemClock());
            },
            parsed.options->autostart);
        crestline::ControllerServices services(app);
        QObject::connect(&application, &QCoreApplication::aboutToQuit, [&app] { app.shutDown(); });

        QTimer report;
        if (const auto seconds = parsed.options->reportSeconds) {
            report.setInterval(static_cast<int>(*seconds * 1000.0));
            QObject::connect(&report, &QTimer::timeout, [&app] {
                const std::string line = crestline::reportLine(app) + "\n";
                std::fwrite(line.data(), 1, line.size(), stdout);
                std::fflush(stdout);
            });
        }
        crestline::SingleInstance instance(instanceSocket, [&app] { app.reopen(); });
        app.start();
        services.start();
        if (parsed.options->reportSeconds) report.start();
        code = QApplication::exec();
        report.stop();
        app.shutDown();
    }
    crestline::LiveTheme::setSystemIsDark(nullptr);
    crestline::Settings::shared().flush();
    return code;
}
