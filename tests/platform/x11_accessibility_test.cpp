// The X11 layer against a real X server of the test's own, playing the DAW by
// creating windows with the DAW's pid.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/x11_accessibility.h"
#include "tests/support/processes.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using namespace crestline;

namespace {

constexpr long kDawPid = 4242;

// One Xvfb for the whole suite. It picks a free display number itself and
// tells it through a pipe, so parallel test processes never race for one.
class XServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        test::Xvfb xvfb = test::startXvfb("1280x800", "/dev/null");
        missing_ = xvfb.missing;
        display_ = xvfb.display;
        server_ = std::move(xvfb.process);
    }
    static void TearDownTestSuite() { server_.stop(); }
    void SetUp() override {
        CRESTLINE_REQUIRE_COMPONENT(!missing_, "Xvfb");
        ASSERT_FALSE(display_.empty()) << "Xvfb did not start";
        client_ = XOpenDisplay(display_.c_str());
        ASSERT_NE(client_, nullptr);
    }
    void TearDown() override {
        if (client_ != nullptr) XCloseDisplay(client_);
    }

    Atom atom(const char* name) { return XInternAtom(client_, name, False); }

    // Bytes go as 8-bit items, anything wider (atoms, cardinals, windows) as 32-bit ones.
    template <class T>
    void set(Window w, const char* property, Atom type, const std::vector<T>& values) {
        XChangeProperty(client_, w, atom(property), type, sizeof(T) == 1 ? 8 : 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(values.data()), static_cast<int>(values.size()));
        XSync(client_, False);
    }
    void setTitle(Window w, const std::string& title) {
        set(w, "_NET_WM_NAME", atom("UTF8_STRING"), std::vector<char>(title.begin(), title.end()));
    }
    void setAtoms(Window w, const char* property, const std::vector<const char*>& names) {
        std::vector<unsigned long> values;
        for (const char* n : names) values.push_back(atom(n));
        set(w, property, XA_ATOM, values);
    }

    Window makeWindow(long pid, int x, int y, int width, int height, bool map = true) {
        XSetWindowAttributes attributes{};
        const Window w = XCreateWindow(client_, DefaultRootWindow(client_), x, y, static_cast<unsigned>(width),
                                       static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                                       0, &attributes);
        set(w, "_NET_WM_PID", XA_CARDINAL, std::vector<unsigned long>{static_cast<unsigned long>(pid)});
        if (map) XMapWindow(client_, w);
        XSync(client_, False);
        return w;
    }

    static inline bool missing_ = false;
    static inline std::string display_;
    static inline test::Child server_;
    Display* client_ = nullptr;
};

std::vector<std::string> titles(const AXElementList& windows) {
    std::vector<std::string> result;
    for (const auto& w : windows) result.push_back(axString(*w, "AXTitle").value_or("?"));
    return result;
}

// Frame, subrole and the states that are set: "9,0 803x623 AXStandardWindow Mini Full Main".
std::string describe(AXElement& w) {
    const auto at = axPoint(w, "AXPosition").value_or(AXPoint{-1, -1});
    const auto size = axSize(w, "AXSize").value_or(AXSize{-1, -1});
    std::ostringstream out;
    out << at.x << "," << at.y << " " << size.width << "x" << size.height << " "
        << axString(w, "AXSubrole").value_or("?");
    for (const char* state : {"AXMinimized", "AXFullScreen", "AXMain"}) {
        const auto on = axBool(w, state);
        if (!on) out << " ?";
        if (on.value_or(false)) out << " " << std::string_view(state).substr(2, 4);
    }
    return out.str();
}

}  // namespace

TEST_F(XServer, WindowsOfTheDawAnswerTitleFrameStateAndSubrole) {
    const Window song = makeWindow(kDawPid, 10, 20, 800, 600);
    setTitle(song, "Song \xE2\x80\x93 Ableton Live 12");
    set(song, "_NET_FRAME_EXTENTS", XA_CARDINAL, std::vector<unsigned long>{1, 2, 20, 3});
    const Window settings = makeWindow(kDawPid, 100, 100, 300, 200);
    XStoreName(client_, settings, "Settings");
    setAtoms(settings, "_NET_WM_WINDOW_TYPE", {"_NET_WM_WINDOW_TYPE_DIALOG"});
    const Window hidden = makeWindow(kDawPid, 0, 0, 1000, 700, false);
    setTitle(hidden, "Hidden");
    setAtoms(hidden, "_NET_WM_STATE", {"_NET_WM_STATE_HIDDEN"});
    const Window full = makeWindow(kDawPid, 0, 0, 400, 300);
    setTitle(full, "Full");
    setAtoms(full, "_NET_WM_STATE", {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_FULLSCREEN"});
    makeWindow(kDawPid + 1, 0, 0, 1200, 800);  // another program

    X11Accessibility ax(display_);
    EXPECT_TRUE(ax.isProcessTrusted());
    const auto app = ax.application(static_cast<int>(kDawPid));
    app->setMessagingTimeout(0.25);
    const auto windows = axElements(*app, "AXWindows");
    ASSERT_TRUE(windows);
    // Front-most first: the last one stacked is on top.
    EXPECT_EQ(titles(*windows), (std::vector<std::string>{"Full", "Hidden", "Settings", "Song \xE2\x80\x93 Ableton Live 12"}));
    // No program active: the largest visible standard window is main (the hidden one is larger but minimised).
    EXPECT_EQ(describe(*windows->at(0)), "0,0 400x300 AXStandardWindow Full");
    EXPECT_EQ(describe(*windows->at(1)), "0,0 1000x700 AXStandardWindow Mini");
    EXPECT_EQ(describe(*windows->at(2)), "100,100 300x200 AXDialog");
    EXPECT_EQ(describe(*windows->at(3)), "9,0 803x623 AXStandardWindow Main");
    set(DefaultRootWindow(client_), "_NET_ACTIVE_WINDOW", XA_WINDOW, std::vector<unsigned long>{settings});
    EXPECT_EQ(describe(*windows->at(2)), "100,100 300x200 AXDialog Main");
    EXPECT_EQ(describe(*windows->at(3)), "9,0 803x623 AXStandardWindow");
    auto& main = *windows->at(3);

    // What X11 cannot see answers nothing.
    AXValue value;
    for (const char* attribute : {"AXDocument", "AXChildren", "AXDescription", "AXValue"}) {
        EXPECT_EQ(main.copyAttribute(attribute, value), AXError::noValue) << attribute;
    }
    EXPECT_EQ(main.copyAttribute("AXRole", value), AXError::attributeUnsupported);
    EXPECT_EQ(app->copyAttribute("AXTitle", value), AXError::attributeUnsupported);
    auto observer = ax.createObserver(static_cast<int>(kDawPid), [](const AXElementRef&, const std::string&) {});
    ASSERT_TRUE(observer);
    EXPECT_EQ(observer->addNotification(windows->at(0), "AXValueChanged"), AXError::notificationUnsupported);

    EXPECT_TRUE(axElements(*ax.application(999999), "AXWindows")->empty());

    // A window that went away fails its requests instead of ending the process.
    XDestroyWindow(client_, full);
    XSync(client_, False);
    EXPECT_FALSE(axPoint(*windows->at(0), "AXPosition"));
}

TEST_F(XServer, MovesAndResizesTheFrameWithoutAWindowManager) {
    const Window song = makeWindow(kDawPid + 10, 50, 60, 640, 480);
    set(song, "_NET_FRAME_EXTENTS", XA_CARDINAL, std::vector<unsigned long>{0, 0, 10, 0});
    X11Accessibility ax(display_);
    const auto windows = axElements(*ax.application(static_cast<int>(kDawPid + 10)), "AXWindows");
    ASSERT_TRUE(windows && windows->size() == 1);
    auto& window = *windows->front();
    EXPECT_EQ(window.setAttribute("AXSize", AXSize{700, 510}), AXError::success);
    EXPECT_EQ(window.setAttribute("AXPosition", AXPoint{0, 36}), AXError::success);
    EXPECT_EQ(window.setAttribute("AXPosition", AXSize{0, 36}), AXError::illegalArgument);
    EXPECT_EQ(window.setAttribute("AXTitle", std::string("x")), AXError::attributeUnsupported);
    EXPECT_EQ(axPoint(window, "AXPosition"), (AXPoint{0, 36}));
    EXPECT_EQ(axSize(window, "AXSize"), (AXSize{700, 510}));
    XWindowAttributes attributes{};
    XGetWindowAttributes(client_, song, &attributes);
    EXPECT_EQ(attributes.height, 500);
}

TEST_F(XServer, AStalledServerFailsRequestsWithinTheTimeout) {
    makeWindow(kDawPid + 20, 0, 0, 100, 100);
    X11Accessibility ax(display_);
    const auto app = ax.application(static_cast<int>(kDawPid + 20));
    ASSERT_TRUE(axElements(*app, "AXWindows"));  // connection open
    app->setMessagingTimeout(0.2);
    server_.signal(SIGSTOP);
    const auto started = std::chrono::steady_clock::now();
    AXValue value;
    const AXError error = app->copyAttribute("AXWindows", value);
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    server_.signal(SIGCONT);
    EXPECT_EQ(error, AXError::cannotComplete);
    EXPECT_LT(waited, 2.0);
    // Once the server answers again, so does the layer.
    app->setMessagingTimeout(5.0);
    EXPECT_TRUE(axElements(*app, "AXWindows"));
}

TEST(X11AccessibilityWithoutDisplay, AnswersNothing) {
    X11Accessibility ax(":9999");
    EXPECT_FALSE(ax.isProcessTrusted());
    AXValue value;
    EXPECT_EQ(ax.application(1)->copyAttribute("AXWindows", value), AXError::apiDisabled);
}
