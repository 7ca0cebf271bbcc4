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
#include <signal.h>

#include <QApplication>
#include <QWidget>
#include <chrono>
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
#include "tests/support/processes.h"

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

// Live's stand-in, spoken to over its stdin and stdout.
class FakeLive {
public:
    FakeLive(const fs::path& folder, std::vector<std::string> options) {
        options.insert(options.begin(), {test::binary("fake_live"), "--silent"});
        process_ = test::Child(options, folder / "fake_live.log",
                               {.name = "Ableton Live 12 Test", .input = true, .output = true});
        if (process_.readLine().rfind("ready ", 0) != 0) process_.stop(SIGKILL);
    }
    ~FakeLive() { process_.send("quit"); }
    int pid() const { return process_.pid(); }
    std::string ask(const std::string& command) {
        process_.send(command);
        return process_.readLine();
    }

private:
    test::Child process_;
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
        test::Xvfb xvfb = test::startXvfb(std::to_string(kRootWidth) + "x" + std::to_string(kRootHeight), folder_ / "xvfb.log");
        missing_ = xvfb.missing;
        display_ = xvfb.display;
        if (display_.empty()) return;
        xvfb_ = std::move(xvfb.process);
        ::setenv("DISPLAY", display_.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        openbox_ = test::Child({"openbox", "--sm-disable"}, folder_ / "openbox.log");
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
        openbox_.stop();
        xvfb_.stop();
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
        static int made = 0;  // a settings file of each world's own
        const auto file = folder_ / ("world-" + std::to_string(++made)) / "settings.json";
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
    static inline test::Child xvfb_;
    static inline test::Child openbox_;
    static inline Display* client_ = nullptr;
    static inline QApplication* application_ = nullptr;
};

// Pinned: a dock across the top with Live fitted right below, keys passed
// on to Live; a Live too tall for the room shrinks the bar and its minimum
// is stored.
TEST_F(PlacementX11Test, PinnedDockAcrossTheTopWithLiveFittedBelowOrTheBarShrunkForIt) {
    {
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

// The bar follows Live's window to the other screen, and Live full screen
// sends it to the other screen or, with none, hides it.
TEST_F(PlacementX11Test, TheBarFollowsLiveToAnotherScreenAndLeavesItsFullScreen) {
    FakeLive live(folder_, {"--geometry", "100,100,900,500"});
    ASSERT_GT(live.pid(), 0);
    {
        auto w = world(std::vector<DesktopRect>{kLeft, kRight});
        start(*w, live.pid());
        ASSERT_TRUE(tickUntil(*w, [&] { return liveFrame(*w, live.pid()) == DesktopRect{0, 36, 1280, 764}; }));
        EXPECT_EQ(live.ask("move 1400 200 800 400"), "ok move");
        ASSERT_TRUE(tickUntil(*w, [&] { return barFrame(*w) == DesktopRect{1280, 0, 1024, 36}; }))
            << ::testing::PrintToString(barFrame(*w));
        ASSERT_TRUE(tickUntil(*w, [&] {
            return w->placement.liveMainWindowFrame(live.pid(), 1792) == DesktopRect{1280, 36, 1024, 732};
        }));
        EXPECT_EQ(live.ask("move 100 100 900 500"), "ok move");
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

// Floating: the title bar lands on screen and the frame is what is stored;
// a frame stored off-screen comes back reachable.
TEST_F(PlacementX11Test, TheFloatingWindowsFrameIsWhatIsStoredAndComesBackOnScreen) {
    {
        auto w = world();
        w->host.alone = true;
        w->placement.applyBarMode();
        w->placement.layoutBar();
        w->placement.updateVisibility();
        QWidget& window = w->placement.floatingWindow();
        // openbox frames the window: its title bar lies above the window's own area.
        ASSERT_TRUE(tickUntil(*w, [&] { return window.isVisible() && window.frameGeometry() != window.geometry(); }));
        const QRect frame = window.frameGeometry();
        EXPECT_EQ(frame.top(), 0);                                   // the whole frame at the top, grabbable
        EXPECT_GT(window.geometry().top(), 10);                      // the title bar above the bar
        EXPECT_EQ(window.geometry().height(), 36);                   // the bar keeps its height
        EXPECT_NEAR(frame.center().x(), kRootWidth / 2, 2);         // centred
        EXPECT_EQ(barFrame(*w), (DesktopRect{static_cast<double>(frame.x()), 0.0, static_cast<double>(frame.width()),
                                             static_cast<double>(frame.height())}));

        // The user moves the window: the frame's origin and the window's own
        // size are stored, and laying out again puts it exactly back.
        window.move(300, 200);
        ASSERT_TRUE(tickUntil(*w, [&] { return window.frameGeometry().topLeft() == QPoint(300, 200); }));
        EXPECT_EQ(w->settings.floatingOrigin(), (Point{300, 200}));
        EXPECT_EQ(w->settings.floatingHeight(), 36.0);
        const QRect moved = window.frameGeometry();
        w->placement.layoutBar();
        ASSERT_TRUE(tickUntil(*w, [&] { return true; }, 200ms));
        EXPECT_EQ(window.frameGeometry(), moved);
    }
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
