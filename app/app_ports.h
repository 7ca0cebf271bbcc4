// What the application's controller asks of the world around it, as small
// interfaces, so that its logic runs against fakes in tests: the main loop
// (posting and delayed tasks), background work, the questions it puts to
// the user, the windows that host the bar, and starting and stopping Live.
//
// The real implementations live beside the controller (Qt main loop, serial
// queues, asynchronous message boxes, the placement of the bar, /proc and
// X11); tests use the inline and scripted ones in tests/app.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/process_launch.h"
#include "settings/module_options.h"

namespace crestline {

// The main thread's loop.
class MainLoop {
public:
    virtual ~MainLoop() = default;
    // Runs `task` on the main thread after the current event. Any thread.
    virtual void post(std::function<void()> task) = 0;
    // Runs `task` once on the main thread `seconds` from now; the id
    // cancels it. Main thread only.
    virtual int after(double seconds, std::function<void()> task) = 0;
    virtual void cancel(int id) = 0;
    // Ends the application (through its ordered shut-down).
    virtual void quit() = 0;
};

// A place for work that may block (the sound server, file reads). `done`
// runs on the main thread once `work` has finished; jobs run one at a time
// in the order given. `stop` waits for a running job and drops the rest.
class Background {
public:
    virtual ~Background() = default;
    virtual void run(std::function<void()> work, std::function<void()> done) = 0;
    virtual void stop() = 0;
};

// A two-button question. The answer arrives later, on the main thread, as
// true for the first button; the question never runs a nested event loop.
struct Question {
    std::string message;
    std::string information;
    std::string yes;
    std::string no;
};

class Questions {
public:
    virtual ~Questions() = default;
    virtual void ask(const Question& question, std::function<void(bool yes)> answered) = 0;
};

// A frame on the desktop in points, origin at the top left of the screen.
struct DesktopFrame {
    double x = 0.0;
    double y = 0.0;
    double width = 0.0;
    double height = 0.0;
    bool operator==(const DesktopFrame&) const = default;
};

// The two windows that can host the bar and how they follow Live. The
// controller calls these where the lifecycle says; the placement reads the
// controller's state (standalone, Live's pid) through `PlacementHost`
// (app/bar_placement.h).
class Placement {
public:
    virtual ~Placement() = default;
    virtual void applyBarMode() = 0;
    virtual void layoutBar() = 0;
    virtual void updateVisibility() = 0;
    virtual void refreshFullScreen() = 0;
    // The periodic fitting step while Live runs pinned: notices a gap under
    // the bar, fits Live's window, follows Live to another screen.
    virtual void fitStep() = 0;
    // Live has appeared: its window is to be fitted on the next step.
    virtual void setFillPending() = 0;
    virtual void requestTrustIfNeeded() = 0;
    virtual void redraw() = 0;
    // Audio or transport activity may have returned: the display link runs
    // again if it had stopped for lack of it.
    virtual void wakeDisplay() = 0;
    // The user asked for the application again: apply the mode, lay out,
    // show the window (the floating one with the keyboard).
    virtual void reopen() = 0;
    // The bar's module selection changed: a selection in the pinned bar
    // takes the keyboard (for Delete), none gives it back to Live.
    virtual void selectionChanged(std::optional<ColorArea> /*module*/) {}
    // The effective mode: floating when standalone or "barMode" says so.
    virtual bool floating() const = 0;
    virtual bool barShown() const = 0;
    virtual std::optional<DesktopFrame> barFrame() const = 0;
    // Live's main window as last seen, for the report.
    virtual std::optional<DesktopFrame> liveWindowFrame() const = 0;
    // Frames the bar has drawn on screen since start, for the report.
    virtual std::uint64_t framesDrawn() const = 0;
    // The colour space of the bar's window, for the start-up log line.
    virtual std::optional<std::string> colourSpaceName() const = 0;
    // Lets go of the windows; nothing is shown or moved afterwards.
    virtual void shutDown() = 0;
};

class LiveLauncher {
public:
    virtual ~LiveLauncher() = default;
    // How process `pid` was started; nothing when it cannot be read.
    virtual std::optional<LaunchRecord> record(int pid) = 0;
    // Asks the process to quit as a user closing its main window would (it
    // may ask to save first). False when no window could be asked.
    virtual bool requestQuit(int pid) = 0;
    // Starts the program again, with `document` as its last argument when
    // given. False when it could not be started.
    virtual bool open(const LaunchRecord& record, const std::optional<std::string>& document) = 0;
};

}  // namespace crestline
