// The X11 layer against a real X server: the test starts its own Xvfb on a
// free display number, plays the DAW by creating windows with the DAW's pid,
// and stops the server by its pid.
#include <gtest/gtest.h>

#include <signal.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/x11_accessibility.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using namespace crestline;

namespace {

constexpr long kDawPid = 4242;

std::string findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string list = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= list.size()) {
        const size_t end = list.find(':', start);
        const std::string dir = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const auto candidate = std::filesystem::path(dir.empty() ? "." : dir) / name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return {};
}

// One Xvfb for the whole suite.
class XServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        program_ = findProgram("Xvfb");
        if (program_.empty()) return;
        // Xvfb picks a free display number itself and tells us through a
        // pipe, so parallel test processes never race for one.
        int fds[2];
        if (pipe(fds) != 0) return;
        const pid_t child = fork();
        if (child == 0) {
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            execl(program_.c_str(), "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x800x24", "-nolisten",
                  "tcp", "-noreset", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        pollfd reader{fds[0], POLLIN, 0};
        char c = 0;
        while (poll(&reader, 1, 10000) == 1 && ::read(fds[0], &c, 1) == 1 && c != '\n') number.push_back(c);
        close(fds[0]);
        if (number.empty()) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
            return;
        }
        pid_ = child;
        display_ = ":" + number;
    }
    static void TearDownTestSuite() {
        if (pid_ > 0) {
            kill(pid_, SIGCONT);
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = 0;
        }
    }
    void SetUp() override {
        if (program_.empty()) GTEST_SKIP() << "Xvfb is not installed";
        ASSERT_GT(pid_, 0) << "Xvfb did not start";
        client_ = XOpenDisplay(display_.c_str());
        ASSERT_NE(client_, nullptr);
    }
    void TearDown() override {
        if (client_ != nullptr) XCloseDisplay(client_);
    }

    Atom atom(const char* name) { return XInternAtom(client_, name, False); }

    Window makeWindow(long pid, int x, int y, int width, int height, bool map = true) {
        XSetWindowAttributes attributes{};
        const Window w = XCreateWindow(client_, DefaultRootWindow(client_), x, y, static_cast<unsigned>(width),
                                       static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                                       0, &attributes);
        const unsigned long value = static_cast<unsigned long>(pid);
        XChangeProperty(client_, w, atom("_NET_WM_PID"), XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&value), 1);
        if (map) XMapWindow(client_, w);
        XSync(client_, False);
        return w;
    }
    void setUtf8Title(Window w, const std::string& title) {
        XChangeProperty(client_, w, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
        XSync(client_, False);
    }
    void setAtoms(Window w, const char* property, const std::vector<const char*>& names) {
        std::vector<unsigned long> values;
        for (const char* n : names) values.push_back(atom(n));
        XChangeProperty(client_, w, atom(property), XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(values.data()), static_cast<int>(values.size()));
        XSync(client_, False);
    }
    void setCardinals(Window w, const char* property, Atom type, const std::vector<unsigned long>& values) {
        XChangeProperty(client_, w, atom(property), type, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(values.data()), static_cast<int>(values.size()));
        XSync(client_, False);
    }

    static inline std::string program_;
    static inline std::string display_;
    static inline pid_t pid_ = 0;
    Display* client_ = nullptr;
};

std::vector<std::string> titles(const AXElementList& windows) {
    std::vector<std::string> result;
    for (const auto& w : windows) result.push_back(axString(*w, "AXTitle").value_or("?"));
    return result;
}

}  // namespace

TEST_F(XServer, WindowsOfTheDawAnswerTitleFrameStateAndSubrole) {
    const Window song = makeWindow(kDawPid, 10, 20, 800, 600);
    setUtf8Title(song, "Song \xE2\x80\x93 Ableton Live 12");
    setCardinals(song, "_NET_FRAME_EXTENTS", XA_CARDINAL, {1, 2, 20, 3});
    const Window settings = makeWindow(kDawPid, 100, 100, 300, 200);
    XStoreName(client_, settings, "Settings");
    setAtoms(settings, "_NET_WM_WINDOW_TYPE", {"_NET_WM_WINDOW_TYPE_DIALOG"});
    const Window hidden = makeWindow(kDawPid, 0, 0, 1000, 700, false);
    setUtf8Title(hidden, "Hidden");
    setAtoms(hidden, "_NET_WM_STATE", {"_NET_WM_STATE_HIDDEN"});
    const Window full = makeWindow(kDawPid, 0, 0, 400, 300);
    setUtf8Title(full, "Full");
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
    auto& front = *windows->at(0);
    auto& hiddenElement = *windows->at(1);
    auto& dialog = *windows->at(2);
    auto& main = *windows->at(3);

    EXPECT_EQ(axPoint(main, "AXPosition"), (AXPoint{9, 0}));
    EXPECT_EQ(axSize(main, "AXSize"), (AXSize{803, 623}));
    EXPECT_EQ(axPoint(dialog, "AXPosition"), (AXPoint{100, 100}));
    EXPECT_EQ(axSize(dialog, "AXSize"), (AXSize{300, 200}));
    EXPECT_EQ(axString(main, "AXSubrole"), "AXStandardWindow");
    EXPECT_EQ(axString(dialog, "AXSubrole"), "AXDialog");
    EXPECT_EQ(axBool(hiddenElement, "AXMinimized"), true);
    EXPECT_EQ(axBool(main, "AXMinimized"), false);
    EXPECT_EQ(axBool(front, "AXFullScreen"), true);
    EXPECT_EQ(axBool(main, "AXFullScreen"), false);

    // No program active: the largest visible standard window is main (the
    // hidden one is larger but minimised).
    EXPECT_EQ(axBool(main, "AXMain"), true);
    EXPECT_EQ(axBool(front, "AXMain"), false);
    setCardinals(DefaultRootWindow(client_), "_NET_ACTIVE_WINDOW", XA_WINDOW, {settings});
    EXPECT_EQ(axBool(dialog, "AXMain"), true);
    EXPECT_EQ(axBool(main, "AXMain"), false);

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
    EXPECT_FALSE(axPoint(front, "AXPosition"));
}

TEST_F(XServer, MovesAndResizesTheFrameWithoutAWindowManager) {
    const Window song = makeWindow(kDawPid + 10, 50, 60, 640, 480);
    setCardinals(song, "_NET_FRAME_EXTENTS", XA_CARDINAL, {0, 0, 10, 0});
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
    ASSERT_EQ(kill(pid_, SIGSTOP), 0);
    const auto started = std::chrono::steady_clock::now();
    AXValue value;
    const AXError error = app->copyAttribute("AXWindows", value);
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    kill(pid_, SIGCONT);
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
