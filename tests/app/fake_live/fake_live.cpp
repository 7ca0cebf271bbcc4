// fake_live: a stand-in for Ableton Live in tests that need a real process
// with a real window and real sound.
//
// Start it with an argv[0] that begins with "Ableton Live" (for example
// exec it as "Ableton Live 12 Test"): it also names its own process after
// argv[0] (/proc/PID/comm, at most 15 characters), so the /proc scan takes
// it for Live. It opens one top-level X11 window on $DISPLAY with
// _NET_WM_PID, a title (WM_NAME and _NET_WM_NAME), WM_CLASS "Ableton Live"
// and a minimum size in WM_NORMAL_HINTS, which it also enforces itself by
// growing back when made smaller; and it plays a stereo sine through the
// PulseAudio server of $PULSE_SERVER (its sink input carries this pid).
//
// Options (all optional):
//   --title TEXT          window title ("Untitled - Ableton Live 12 Test")
//   --geometry X,Y,W,H    first place and size of the window (100,100,1000,700)
//   --min-size W,H        minimum size (300,200)
//   --level DB            peak level of the sine in dBFS (-23)
//   --frequency HZ        frequency of the sine (1000)
//   --silent              start without sound
//
// Commands, one per line on stdin; each is answered by one line on stdout,
// "ok COMMAND" or "error TEXT":
//   minimise              iconify the window
//   restore               map it again and ask the window manager to activate it
//   fullscreen on|off     _NET_WM_STATE_FULLSCREEN through the window manager
//   move X Y W H          ask for this client geometry (root pixels)
//   min-height H          change the minimum height (the width stays)
//   sound off|on          stop or start the sine
//   tone DB HZ            change level and frequency
//   frame                 answers "frame X Y W H" (client area, root pixels)
//   keys                  answers "keys K1 K2 ..." : X keycodes pressed so far
//   quit                  close the window and exit 0 (end of stdin does too)
// Once its window is mapped it prints "ready PID". The sound stream opens
// when there is first something to play; a failure prints "sound
// unavailable: TEXT" on stderr and the program goes on without sound.
#include <poll.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

constexpr int kRate = 48000;
constexpr int kBlockFrames = 480;  // 10 ms
constexpr double kPi = 3.14159265358979323846;

struct Tone {
    std::mutex mutex;
    double amplitude = 0.0;
    double frequency = 1000.0;
    bool on = true;
};

std::atomic<bool> quitting{false};

void play(Tone& tone) {
    // No stream at all until there is something to play, so a silent start
    // needs no sound server.
    for (;;) {
        {
            std::scoped_lock lock(tone.mutex);
            if (tone.on) break;
        }
        if (quitting.load()) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, kRate, 2};
    // A short buffer, so "sound off" is heard off within a few blocks.
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.tlength = static_cast<uint32_t>(kBlockFrames * 2 * 2 * sizeof(float));
    attributes.prebuf = static_cast<uint32_t>(-1);
    attributes.minreq = static_cast<uint32_t>(-1);
    attributes.fragsize = static_cast<uint32_t>(-1);
    int error = 0;
    pa_simple* stream = pa_simple_new(nullptr, "Ableton Live", PA_STREAM_PLAYBACK, nullptr, "Master", &format, nullptr,
                                      &attributes, &error);
    if (stream == nullptr) {
        std::fprintf(stderr, "sound unavailable: %s\n", pa_strerror(error));
        return;
    }
    std::vector<float> block(kBlockFrames * 2);
    double phase = 0.0;
    while (!quitting.load()) {
        double amplitude = 0.0, frequency = 1000.0;
        {
            std::scoped_lock lock(tone.mutex);
            amplitude = tone.on ? tone.amplitude : 0.0;
            frequency = tone.frequency;
        }
        for (int i = 0; i < kBlockFrames; ++i) {
            const auto sample = static_cast<float>(amplitude * std::sin(phase));
            block[static_cast<std::size_t>(2 * i)] = sample;
            block[static_cast<std::size_t>(2 * i + 1)] = sample;
            phase += 2.0 * kPi * frequency / kRate;
            if (phase > 2.0 * kPi) phase -= 2.0 * kPi;
        }
        if (pa_simple_write(stream, block.data(), block.size() * sizeof(float), &error) < 0) {
            std::fprintf(stderr, "sound unavailable: %s\n", pa_strerror(error));
            break;
        }
    }
    pa_simple_free(stream);
}

struct Geometry {
    int x = 100, y = 100, width = 1000, height = 700;
};

bool parseList(const char* text, std::vector<int>& out, std::size_t count) {
    out.clear();
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) out.push_back(std::atoi(item.c_str()));
    return out.size() == count;
}

class MainWindow {
public:
    MainWindow(Display* display, const std::string& title, const Geometry& at, int minWidth, int minHeight)
        : display_(display), minWidth_(minWidth), minHeight_(minHeight) {
        const int screen = DefaultScreen(display);
        window_ = XCreateSimpleWindow(display, RootWindow(display, screen), at.x, at.y,
                                      static_cast<unsigned>(at.width), static_cast<unsigned>(at.height), 0,
                                      BlackPixel(display, screen), 0x303030);
        const unsigned long pid = static_cast<unsigned long>(getpid());
        XChangeProperty(display, window_, atom("_NET_WM_PID"), XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&pid), 1);
        XStoreName(display, window_, title.c_str());
        XChangeProperty(display, window_, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
        XClassHint hint{const_cast<char*>("Ableton Live"), const_cast<char*>("Ableton Live")};
        XSetClassHint(display, window_, &hint);
        Atom deleteWindow = atom("WM_DELETE_WINDOW");
        XSetWMProtocols(display, window_, &deleteWindow, 1);
        sizeHints(at);
        XSelectInput(display, window_, StructureNotifyMask | KeyPressMask | ExposureMask);
        XMapWindow(display, window_);
        XFlush(display);
    }

    Atom atom(const char* name) { return XInternAtom(display_, name, False); }

    void sizeHints(std::optional<Geometry> at = std::nullopt) {
        XSizeHints hints{};
        hints.flags = PMinSize;
        hints.min_width = minWidth_;
        hints.min_height = minHeight_;
        if (at) {
            hints.flags |= USPosition | USSize;
            hints.x = at->x;
            hints.y = at->y;
            hints.width = at->width;
            hints.height = at->height;
        }
        XSetWMNormalHints(display_, window_, &hints);
    }

    void setMinimumHeight(int height) {
        minHeight_ = height;
        sizeHints();
        enforceMinimum();
        XFlush(display_);
    }

    // What a real application does when made smaller than it can be.
    void enforceMinimum() {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display_, window_, &attributes) == 0) return;
        if (attributes.width >= minWidth_ && attributes.height >= minHeight_) return;
        XResizeWindow(display_, window_, static_cast<unsigned>(std::max(attributes.width, minWidth_)),
                      static_cast<unsigned>(std::max(attributes.height, minHeight_)));
    }

    void clientMessage(Atom type, long a, long b, long c) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window_;
        event.xclient.message_type = type;
        event.xclient.format = 32;
        event.xclient.data.l[0] = a;
        event.xclient.data.l[1] = b;
        event.xclient.data.l[2] = c;
        event.xclient.data.l[3] = 1;
        XSendEvent(display_, DefaultRootWindow(display_), False, SubstructureRedirectMask | SubstructureNotifyMask,
                   &event);
        XFlush(display_);
    }

    void minimise() {
        XIconifyWindow(display_, window_, DefaultScreen(display_));
        XFlush(display_);
    }
    void restore() {
        XMapRaised(display_, window_);
        clientMessage(atom("_NET_ACTIVE_WINDOW"), 1, CurrentTime, 0);
    }
    void fullScreen(bool on) { clientMessage(atom("_NET_WM_STATE"), on ? 1 : 0, static_cast<long>(atom("_NET_WM_STATE_FULLSCREEN")), 0); }
    void move(int x, int y, int width, int height) {
        XMoveResizeWindow(display_, window_, x, y, static_cast<unsigned>(std::max(1, width)),
                          static_cast<unsigned>(std::max(1, height)));
        XFlush(display_);
    }
    std::string frame() {
        XWindowAttributes attributes{};
        XGetWindowAttributes(display_, window_, &attributes);
        int x = 0, y = 0;
        ::Window child = 0;
        XTranslateCoordinates(display_, window_, attributes.root, 0, 0, &x, &y, &child);
        std::ostringstream out;
        out << "frame " << x << " " << y << " " << attributes.width << " " << attributes.height;
        return out.str();
    }

    // Handles pending events; false once the window was closed.
    bool pump(std::vector<unsigned>& keys) {
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            if (event.type == ConfigureNotify) enforceMinimum();
            if (event.type == KeyPress) keys.push_back(event.xkey.keycode);
            if (event.type == ClientMessage && static_cast<Atom>(event.xclient.data.l[0]) == atom("WM_DELETE_WINDOW")) {
                return false;
            }
        }
        XFlush(display_);
        return true;
    }

private:
    Display* display_;
    ::Window window_ = 0;
    int minWidth_;
    int minHeight_;
};

}  // namespace

int main(int argc, char** argv) {
    // The kernel's command name, as the /proc scan reads it.
    const std::string name = argc > 0 ? argv[0] : "Ableton Live";
    prctl(PR_SET_NAME, name.substr(name.find_last_of('/') + 1).substr(0, 15).c_str(), 0, 0, 0);

    std::string title = "Untitled - Ableton Live 12 Test";
    Geometry at;
    int minWidth = 300, minHeight = 200;
    double level = -23.0, frequency = 1000.0;
    bool silent = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        std::vector<int> list;
        if (option == "--silent") {
            silent = true;
        } else if (value == nullptr) {
            std::fprintf(stderr, "fake_live: %s needs a value\n", option.c_str());
            return 2;
        } else if (option == "--title") {
            title = value, ++i;
        } else if (option == "--geometry" && parseList(value, list, 4)) {
            at = {list[0], list[1], list[2], list[3]}, ++i;
        } else if (option == "--min-size" && parseList(value, list, 2)) {
            minWidth = list[0], minHeight = list[1], ++i;
        } else if (option == "--level") {
            level = std::atof(value), ++i;
        } else if (option == "--frequency") {
            frequency = std::atof(value), ++i;
        } else {
            std::fprintf(stderr, "fake_live: unknown option %s\n", option.c_str());
            return 2;
        }
    }

    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "fake_live: cannot open the display\n");
        return 1;
    }
    MainWindow window(display, title, at, minWidth, minHeight);

    Tone tone;
    tone.amplitude = std::pow(10.0, level / 20.0);
    tone.frequency = frequency;
    tone.on = !silent;
    std::thread player([&tone] { play(tone); });

    std::printf("ready %d\n", static_cast<int>(getpid()));
    std::fflush(stdout);

    std::vector<unsigned> keys;
    std::string line;
    bool running = true;
    while (running) {
        pollfd fds[2] = {{ConnectionNumber(display), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        poll(fds, 2, 100);
        if (!window.pump(keys)) break;
        if ((fds[1].revents & (POLLIN | POLLHUP)) == 0) continue;
        char buffer[512];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) break;
        line.append(buffer, static_cast<std::size_t>(got));
        for (std::size_t end; running && (end = line.find('\n')) != std::string::npos;) {
            std::istringstream command(line.substr(0, end));
            line.erase(0, end + 1);
            std::string verb, argument;
            command >> verb;
            std::string reply = "ok " + verb;
            if (verb == "minimise") {
                window.minimise();
            } else if (verb == "restore") {
                window.restore();
            } else if (verb == "fullscreen" && (command >> argument) && (argument == "on" || argument == "off")) {
                window.fullScreen(argument == "on");
            } else if (verb == "move") {
                int x = 0, y = 0, w = 0, h = 0;
                if (command >> x >> y >> w >> h) {
                    window.move(x, y, w, h);
                } else {
                    reply = "error move needs X Y W H";
                }
            } else if (verb == "min-height") {
                int h = 0;
                if (command >> h && h > 0) {
                    window.setMinimumHeight(h);
                } else {
                    reply = "error min-height needs a height";
                }
            } else if (verb == "sound" && (command >> argument) && (argument == "on" || argument == "off")) {
                std::scoped_lock lock(tone.mutex);
                tone.on = argument == "on";
            } else if (verb == "tone") {
                double db = 0.0, hz = 0.0;
                if (command >> db >> hz && hz > 0.0) {
                    std::scoped_lock lock(tone.mutex);
                    tone.amplitude = std::pow(10.0, db / 20.0);
                    tone.frequency = hz;
                } else {
                    reply = "error tone needs DB HZ";
                }
            } else if (verb == "frame") {
                window.pump(keys);
                reply = window.frame();
            } else if (verb == "keys") {
                window.pump(keys);
                reply = "keys";
                for (const unsigned k : keys) reply += " " + std::to_string(k);
            } else if (verb == "quit") {
                running = false;
            } else {
                reply = "error unknown command: " + verb;
            }
            std::printf("%s\n", reply.c_str());
            std::fflush(stdout);
        }
    }
    quitting = true;
    player.join();
    XCloseDisplay(display);
    return 0;
}
