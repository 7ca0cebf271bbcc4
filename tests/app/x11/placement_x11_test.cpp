// Bar placement on a real X server with a real window manager: a private
// Xvfb and openbox that the suite starts and stops by pid, Live's stand-in
// (fake_live) as a separate process, and the X11 layers of the product.
// The tests drive the placement the way the controller's ticks do.
//
// Xvfb cannot show two monitors here (its Xinerama stacks screens at the
// same origin and it ignores RandR monitors), so the cases with two screens
// lay two monitors over one wide root through X11Desktop's monitor list;
// openbox then sees one wide monitor, which changes nothing it does to
// struts or to a window's frame that these cases look at.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/bar_placement.h"
#include "app/x11_desktop.h"
#include "bar/bar_view.h"
#include "platform/x11_accessibility.h"
#include "settings/settings.h"
#include "tests/support/components.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace crestline {

void PrintTo(const DesktopRect& r, std::ostream* out) {
    *out << r.x << "," << r.y << " " << r.width << "x" << r.height;
}

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kRootWidth = 2304;
constexpr int kRootHeight = 800;
const DesktopRect kLeft{0, 0, 1280, 800};
const DesktopRect kRight{1280, 0, 1024, 768};
const DesktopRect kWhole{0, 0, kRootWidth, kRootHeight};

fs::path binDir() {
    const char* bin = std::getenv("CRESTLINE_BIN_DIR");
    return bin != nullptr ? fs::path(bin) : fs::path("build/bin");
}

pid_t spawn(const std::vector<std::string>& argv, const fs::path& log, int stdinFd = -1, int stdoutFd = -1,
            const std::string& argv0 = {}) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    // A test killed half-way must not leave its server running.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (std::FILE* out = std::fopen(log.c_str(), "w")) {
        ::dup2(::fileno(out), 2);
        if (stdoutFd < 0) ::dup2(::fileno(out), 1);
    }
    if (stdinFd >= 0) ::dup2(stdinFd, 0);
    if (stdoutFd >= 0) ::dup2(stdoutFd, 1);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    if (!argv0.empty()) args[0] = const_cast<char*>(argv0.c_str());
    args.push_back(nullptr);
    ::execvp(argv[0].c_str(), args.data());
    ::_exit(127);
}

void stop(pid_t& pid, int signal = SIGTERM) {
    if (pid <= 0) return;
    ::kill(pid, signal);
    int status = 0;
    for (int i = 0; i < 200 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) std::this_thread::sleep_for(10ms);
    if (::waitpid(pid, &status, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    pid = 0;
}

// Live's stand-in, spoken to over its stdin and stdout.
class FakeLive {
public:
    FakeLive(const fs::path& folder, const std::vector<std::string>& options) {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) return;
        std::vector<std::string> argv{(binDir() / "fake_live").string(), "--silent"};
        argv.insert(argv.end(), options.begin(), options.end());
        pid_ = spawn(argv, folder / "fake_live.log", in[0], out[1], "Ableton Live 12 Test");
        ::close(in[0]);
        ::close(out[1]);
        to_ = in[1];
        from_ = out[0];
        const std::string ready = line();
        if (ready.rfind("ready ", 0) != 0) stop(pid_, SIGKILL);
    }
    ~FakeLive() {
        if (to_ >= 0) {
            const char quit[] = "quit\n";
            (void)!::write(to_, quit, sizeof quit - 1);
            ::close(to_);
        }
        stop(pid_);
        if (from_ >= 0) ::close(from_);
    }
    int pid() const { return pid_; }
    std::string ask(const std::string& command) {
        const std::string text = command + "\n";
        if (::write(to_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return {};
        return line();
    }

private:
    std::string line() {
        std::string text;
        pollfd reader{from_, POLLIN, 0};
        char c = 0;
        while (::poll(&reader, 1, 5000) == 1 && ::read(from_, &c, 1) == 1 && c != '\n') text.push_back(c);
        return text;
    }

    pid_t pid_ = 0;
    int to_ = -1;
    int from_ = -1;
};

class Host final : public PlacementHost {
public:
    bool standalone() const override { return alone; }
    std::optional<int> livePid() const override { return pid; }
    bool alone = false;
    std::optional<int> pid;
};

class PlacementX11Test : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = fs::path(std::getenv("XDG_RUNTIME_DIR")) / "placement-x11";
        fs::create_directories(folder_);
        int ready[2];
        if (::pipe(ready) != 0) return;
        xvfb_ = spawn({"Xvfb", "-displayfd", std::to_string(ready[1]), "-screen", "0",
                       std::to_string(kRootWidth) + "x" + std::to_string(kRootHeight) + "x24", "-nolisten", "tcp"},
                      folder_ / "xvfb.log");
        ::close(ready[1]);
        std::string number;
        pollfd reader{ready[0], POLLIN, 0};
        char c = 0;
        while (::poll(&reader, 1, 10000) == 1 && ::read(ready[0], &c, 1) == 1 && c != '\n') number.push_back(c);
        ::close(ready[0]);
        if (number.empty()) {
            int status = 0;
            missing_ = ::waitpid(xvfb_, &status, WNOHANG) == xvfb_ && WIFEXITED(status) && WEXITSTATUS(status) == 127;
            stop(xvfb_, SIGKILL);
            return;
        }
        display_ = ":" + number;
        ::setenv("DISPLAY", display_.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        openbox_ = spawn({"openbox", "--sm-disable"}, folder_ / "openbox.log");
        client_ = XOpenDisplay(display_.c_str());
        // The window manager is up once it names itself on the root.
        for (int i = 0; i < 500 && client_ != nullptr && !windowManagerUp(); ++i) std::this_thread::sleep_for(10ms);
        // It names itself before it has finished starting: it is ready once
        // it manages a window mapped now.
        if (client_ != nullptr) {
            const Window probe = XCreateSimpleWindow(client_, DefaultRootWindow(client_), 0, 0, 10, 10, 0, 0, 0);
            XMapWindow(client_, probe);
            XSync(client_, False);
            for (int i = 0; i < 500; ++i) {
                const auto list = cardinals(DefaultRootWindow(client_), "_NET_CLIENT_LIST", XA_WINDOW);
                if (std::find(list.begin(), list.end(), static_cast<long>(probe)) != list.end()) break;
                std::this_thread::sleep_for(10ms);
            }
            XDestroyWindow(client_, probe);
            XSync(client_, False);
        }
        static int argc = 1;
        static char name[] = "app_x11_tests";
        static char* argv[] = {name, nullptr};
        application_ = new QApplication(argc, argv);
    }
    static void TearDownTestSuite() {
        delete application_;
        application_ = nullptr;
        if (client_ != nullptr) XCloseDisplay(client_);
        client_ = nullptr;
        stop(openbox_);
        stop(xvfb_);
    }
    static bool windowManagerUp() {
        return !cardinals(DefaultRootWindow(client_), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW).empty();
    }
    static std::vector<long> cardinals(unsigned long window, const char* property, Atom type) {
        std::vector<long> result;
        Atom actual = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(client_, window, XInternAtom(client_, property, False), 0, 64, False, type, &actual,
                               &format, &count, &after, &data) == Success &&
            data != nullptr && format == 32) {
            const auto* values = reinterpret_cast<const long*>(data);
            result.assign(values, values + count);
        }
        if (data != nullptr) XFree(data);
        return result;
    }
    static long atom(const char* name) { return static_cast<long>(XInternAtom(client_, name, False)); }

    void SetUp() override {
        CRESTLINE_REQUIRE_COMPONENT(!missing_, "Xvfb");
        ASSERT_FALSE(display_.empty()) << "Xvfb did not start";
        ASSERT_TRUE(windowManagerUp()) << "openbox did not start";
    }

    // Settings, bar view, desktop and placement of one test.
    struct World {
        World(const fs::path& file, std::optional<std::vector<DesktopRect>> monitors)
            : settings(file, clock, Settings::Writing::manual), view(settings, nullptr, clock),
              desktop(std::move(monitors)), accessibility(display_),
              placement(settings, view, host, desktop, accessibility, clock) {}
        FakeClock clock;
        Settings settings;
        BarView view;
        Host host;
        X11Desktop desktop;
        X11Accessibility accessibility;
        BarPlacement placement;
    };
    std::unique_ptr<World> world(std::optional<std::vector<DesktopRect>> monitors = std::vector<DesktopRect>{kWhole}) {
        const auto file = folder_ / ::testing::UnitTest::GetInstance()->current_test_info()->name() / "settings.json";
        return std::make_unique<World>(file, std::move(monitors));
    }

    // Runs the controller's tick (full screen, then fitting) with events in
    // between until `done` holds, for at most `limit`.
    static bool tickUntil(World& w, const std::function<bool()>& done, std::chrono::milliseconds limit = 8s) {
        for (const auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;) {
            w.placement.refreshFullScreen();
            w.placement.fitLive();
            for (int i = 0; i < 10; ++i) {
                QApplication::processEvents();
                std::this_thread::sleep_for(10ms);
            }
            if (done()) return true;
        }
        return done();
    }
    static void start(World& w, int pid) {
        w.host.pid = pid;
        w.placement.applyBarMode();
        w.placement.layoutBar();
        w.placement.requestFill();
    }
    static std::optional<DesktopRect> liveFrame(World& w, int pid) { return w.placement.liveMainWindowFrame(pid, 640); }
    static DesktopRect barFrame(World& w) { return *w.placement.barFrame(); }

    static inline bool missing_ = false;
    static inline fs::path folder_;
    static inline std::string display_;
    static inline pid_t xvfb_ = 0;
    static inline pid_t openbox_ = 0;
    static inline Display* client_ = nullptr;
    static inline QApplication* application_ = nullptr;
};

TEST_F(PlacementX11Test, PinnedDockAcrossTheTopWithLiveFittedRightBelow) {
    FakeLive live(folder_, {"--geometry", "200,200,900,500"});
    ASSERT_GT(live.pid(), 0);
    auto w = world();
    start(*w, live.pid());
    const DesktopRect wanted{0, 36, kRootWidth, kRootHeight - 36};
    ASSERT_TRUE(tickUntil(*w, [&] { return liveFrame(*w, live.pid()) == wanted && w->placement.barShown(); }))
        << ::testing::PrintToString(liveFrame(*w, live.pid()).value_or(DesktopRect{})) << " shown "
        << w->placement.barShown() << " " << live.ask("frame") << " windows "
        << axElements(*w->accessibility.application(live.pid()), "AXWindows").value_or(AXElementList{}).size();
    EXPECT_EQ(barFrame(*w), (DesktopRect{0, 0, kRootWidth, 36}));

    // A dock on every desktop, out of the task bar, reserving its height.
    const unsigned long bar = w->placement.pinnedWindow().winId();
    EXPECT_EQ(cardinals(bar, "_NET_WM_WINDOW_TYPE", XA_ATOM), std::vector<long>{atom("_NET_WM_WINDOW_TYPE_DOCK")});
    EXPECT_EQ(cardinals(bar, "_NET_WM_DESKTOP", XA_CARDINAL), std::vector<long>{-1});  // 0xFFFFFFFF: all desktops
    EXPECT_EQ(cardinals(bar, "_NET_WM_STRUT_PARTIAL", XA_CARDINAL),
              (std::vector<long>{0, 0, 36, 0, 0, 0, 0, 0, 0, kRootWidth - 1, 0, 0}));
    const auto states = cardinals(bar, "_NET_WM_STATE", XA_ATOM);
    EXPECT_NE(std::find(states.begin(), states.end(), atom("_NET_WM_STATE_SKIP_TASKBAR")), states.end());
    // openbox's work area starts under the bar; our own screens do not shrink by it.
    EXPECT_EQ(cardinals(DefaultRootWindow(client_), "_NET_WORKAREA", XA_CARDINAL).at(1), 36);
    EXPECT_EQ(w->desktop.screens().front().visible, kWhole);

    // Keys typed into the pinned bar reach Live.
    w->placement.handleKey({Qt::Key_A, false, false, false, false, 38});
    std::string keys;
    for (int i = 0; i < 100 && (keys = live.ask("keys")).find("38") == std::string::npos; ++i) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(keys, "keys 38");
}

TEST_F(PlacementX11Test, LiveTooTallForTheRoomShrinksTheBarAndStoresItsMinimum) {
    FakeLive live(folder_, {"--geometry", "100,100,900,500", "--min-size", "300,700"});
    ASSERT_GT(live.pid(), 0);
    auto w = world();
    w->settings.setBarHeight(200);  // leaves 600 of 800 points, Live needs 700 and its frame
    start(*w, live.pid());
    ASSERT_TRUE(tickUntil(*w, [&] { return w->settings.liveMinimumHeight().has_value(); }));
    const double minimum = *w->settings.liveMinimumHeight();
    EXPECT_GE(minimum, 700.0);
    EXPECT_LT(minimum, 760.0);  // the client's 700 and the window manager's frame
    EXPECT_EQ(w->settings.barHeight(), kRootHeight - minimum);
    ASSERT_TRUE(tickUntil(*w, [&] {
        const auto frame = liveFrame(*w, live.pid());
        return frame && frame->y == kRootHeight - minimum && frame->height == minimum;
    }));
    EXPECT_EQ(barFrame(*w).height, kRootHeight - minimum);
}

TEST_F(PlacementX11Test, TheBarHidesWhileLiveIsMinimisedAndReturnsWithIt) {
    FakeLive live(folder_, {});
    ASSERT_GT(live.pid(), 0);
    auto w = world();
    start(*w, live.pid());
    ASSERT_TRUE(tickUntil(*w, [&] { return w->placement.pinnedWindow().isVisible(); }));
    EXPECT_EQ(live.ask("minimise"), "ok minimise");
    ASSERT_TRUE(tickUntil(*w, [&] { return !w->placement.pinnedWindow().isVisible(); }));
    EXPECT_FALSE(w->placement.barShown());
    EXPECT_EQ(live.ask("restore"), "ok restore");
    ASSERT_TRUE(tickUntil(*w, [&] { return w->placement.pinnedWindow().isVisible(); }));
}

TEST_F(PlacementX11Test, LiveFullScreenSendsTheBarToTheOtherScreenOrHidesIt) {
    FakeLive live(folder_, {"--geometry", "100,100,900,500"});
    ASSERT_GT(live.pid(), 0);
    {
        auto w = world(std::vector<DesktopRect>{kLeft, kRight});
        start(*w, live.pid());
        ASSERT_TRUE(tickUntil(*w, [&] { return liveFrame(*w, live.pid()) == DesktopRect{0, 36, 1280, 764}; }));
        EXPECT_EQ(live.ask("fullscreen on"), "ok fullscreen");
        ASSERT_TRUE(tickUntil(*w, [&] { return barFrame(*w) == DesktopRect{1280, 0, 1024, 36}; }))
            << ::testing::PrintToString(barFrame(*w));
        EXPECT_TRUE(w->placement.pinnedWindow().isVisible());
        const auto states = cardinals(w->placement.pinnedWindow().winId(), "_NET_WM_STATE", XA_ATOM);
        EXPECT_NE(std::find(states.begin(), states.end(), atom("_NET_WM_STATE_ABOVE")), states.end());
        EXPECT_EQ(live.ask("fullscreen off"), "ok fullscreen");
        ASSERT_TRUE(tickUntil(*w, [&] { return barFrame(*w) == DesktopRect{0, 0, 1280, 36}; }));
    }
    auto w = world();
    start(*w, live.pid());
    ASSERT_TRUE(tickUntil(*w, [&] { return w->placement.pinnedWindow().isVisible(); }));
    EXPECT_EQ(live.ask("fullscreen on"), "ok fullscreen");
    ASSERT_TRUE(tickUntil(*w, [&] { return !w->placement.pinnedWindow().isVisible(); }));
}

TEST_F(PlacementX11Test, TheBarFollowsLivesWindowToAnotherScreen) {
    FakeLive live(folder_, {"--geometry", "100,100,900,500"});
    ASSERT_GT(live.pid(), 0);
    auto w = world(std::vector<DesktopRect>{kLeft, kRight});
    start(*w, live.pid());
    ASSERT_TRUE(tickUntil(*w, [&] { return liveFrame(*w, live.pid()) == DesktopRect{0, 36, 1280, 764}; }));
    EXPECT_EQ(live.ask("move 1400 200 800 400"), "ok move");
    ASSERT_TRUE(tickUntil(*w, [&] { return barFrame(*w) == DesktopRect{1280, 0, 1024, 36}; }))
        << ::testing::PrintToString(barFrame(*w));
    ASSERT_TRUE(tickUntil(*w, [&] {
        return w->placement.liveMainWindowFrame(live.pid(), 1792) == DesktopRect{1280, 36, 1024, 732};
    }));
}

TEST_F(PlacementX11Test, AFloatingFrameStoredOffScreenComesBackReachable) {
    auto w = world();
    w->host.alone = true;
    w->settings.setFloatingOrigin(Point{9000, 9000});
    w->settings.setFloatingSize(900, 60);
    w->placement.applyBarMode();
    w->placement.layoutBar();
    w->placement.updateVisibility();
    QWidget& window = w->placement.floatingWindow();
    // We ask for 80 points on screen; openbox may nudge the frame a few more in.
    const auto onScreen = [&] { return kRootWidth - window.geometry().x(); };
    ASSERT_TRUE(tickUntil(*w, [&] { return window.isVisible() && onScreen() >= 80 && onScreen() <= 100; }))
        << window.geometry().x() << "," << window.geometry().y();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Crestline by KESTO"));
    EXPECT_LE(window.geometry().bottom() + 1, kRootHeight);
    EXPECT_GT(window.geometry().y(), kRootHeight / 2);
}

}  // namespace
}  // namespace crestline
