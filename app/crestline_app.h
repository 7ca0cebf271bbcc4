// The application's controller: it owns the settings' use, the audio
// engine, the bar view, the transport sync and the helper receiver, and
// drives the placement of the bar. It finds Live among the running
// processes, attaches the capture to Live (or to all sound while it runs on
// its own), keeps that capture healthy, reads Live's open set, follows
// Live's theme and asks the user the few questions these moments raise.
//
// Threads: everything here runs on the main thread, driven by two timers
// (0.8 s periodic check, 0.1 s Live-settings watch) and posted tasks. Work
// that may block goes elsewhere: every request that waits on the sound
// server (finding the process's stream and sink, preparing a tap) runs on
// the capture worker, one job at a time, and touches nothing of the
// engine's; the prepared tap comes back to the main thread, which swaps it
// into the engine (never waiting on the server), as it stops taps and reads
// their state. The set file is read on the set worker. The engine's
// analysers are read by the bar under their own locks.
//
// Shut-down is ordered: timers and pending tasks first, then the MIDI input
// and the helper socket, then the workers (a running attach finishes), then
// the capture, and the windows last.
#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "analysis/audio_engine.h"
#include "app/app_ports.h"
#include "app/bar_placement.h"
#include "live/live_helper.h"
#include "live/live_set.h"
#include "platform/clock.h"
#include "platform/midi_input.h"

namespace crestline {

class BarCommands;
class BarView;
class EngineMeterSource;
class LiveHelperReceiver;
class LiveSync;
class ProcessList;
class Settings;
class ThreadWake;

class CrestlineApp final : public PlacementHost {
public:
    static constexpr double kPeriodicSeconds = 0.8;
    static constexpr double kSettingsWatchSeconds = 0.1;
    static constexpr double kRetrySeconds = 2.0;
    static constexpr double kNoCallbackSeconds = 2.0;
    static constexpr double kRateToleranceHz = 0.5;
    static constexpr double kDeviceConfirmSeconds = 1.5;
    static constexpr double kAfterLiveQuitSeconds = 1.5;
    static constexpr double kQuitCheckSeconds = 3.0;
    static constexpr double kRestartWindowSeconds = 60.0;
    static constexpr double kHelperConnectedSeconds = 5.0;
    static constexpr double kLiveSettledSeconds = 3.0;

    static constexpr const char* kWaitingStatus = "Start Ableton Live to meter the master";
    static constexpr const char* kLiveTapStatus =
        "Ableton Live found, but its audio cannot be tapped yet. Trying again in 2 seconds.";
    static constexpr const char* kAllSoundStatus =
        "This computer's sound cannot be tapped yet. Trying again in 2 seconds.";

    enum class State { waiting, standalone, attached };

    // Everything the controller uses but does not make itself. The
    // references must outlive the controller.
    struct World {
        Settings& settings;
        const Clock& clock;
        ProcessList& processes;
        MainLoop& loop;
        Background& capture;   // the sound server's calls
        Background& setReader; // Live's set file
        Questions& questions;
        LiveLauncher& launcher;
        std::function<bool()> mouseButtonsHeld;
        std::unique_ptr<MidiInput> midi;  // null: the system's MIDI input
        std::uint16_t helperPort = 47811;  // 0: any free port (tests)
        // Whether a Live process is on our desktop (user, display); empty:
        // every Live of the list is.
        std::function<bool(int pid)> onThisDesktop = {};
    };

    // Makes the placement once the view exists; it hosts the view and asks
    // the controller (as its host) for the state it needs.
    using PlacementFactory = std::function<std::unique_ptr<Placement>(CrestlineApp& app)>;

    CrestlineApp(World world, PlacementFactory makePlacement, bool launchedAtLogin);
    ~CrestlineApp() override;
    CrestlineApp(const CrestlineApp&) = delete;
    CrestlineApp& operator=(const CrestlineApp&) = delete;

    // Start-up in its fixed order; starts the timers unless `timers` is
    // false (tests drive `periodic` themselves).
    void start(bool timers = true);
    // Ordered shut-down; safe to call twice (the destructor calls it).
    void shutDown();

    // ---- The lifecycle's operations (main thread) ----------------------------
    void refreshAbleton();
    void attach(std::int32_t pid, ProcessTap::Mode mode);
    void periodic();
    void refreshLiveSet();
    void registerLiveHelper();
    void offerLiveRestartIfNeeded();
    void restartLive();
    void reopenLiveIfRestarting();
    void askToAttach();
    void askToKeepOpen();
    void scheduleQuitCheckIfNeeded();
    void refreshTheme();
    void watchLiveSettings();
    void showWhatsNewIfDue();
    void askAboutCrashIfDue();
    // Launched again while running (applicationShouldHandleReopen): shows
    // the bar. While waiting for Live, the user asked for Crestline itself:
    // it stands alone, metering all sound, as a launch without Live does.
    void reopen();

    // The device to re-attach to when the one the process plays to changed
    // and the change held for more than 1.5 s. `current` is the device UID
    // the lookup found now (nothing: none found).
    std::optional<std::string> deviceNeedingReattach(const std::optional<std::string>& current);

    // ---- PlacementHost -------------------------------------------------------
    bool standalone() const override { return standalone_; }
    std::optional<int> livePid() const override { return abletonPID_; }
    bool menuShortcut(const KeyPress& key) override { return onMenuShortcut && onMenuShortcut(key); }
    bool menuOpen() const override { return isMenuOpen && isMenuOpen(); }
    // The display link sleeps: the first sound wakes it.
    void displayIdle() override;

    // ---- State, for the placement, the report and tests ----------------------
    State state() const;
    Settings& settings() { return settings_; }
    const Clock& clock() const { return clock_; }
    AudioEngine& engine() { return *engine_; }
    BarView& view() { return *view_; }
    LiveSync& sync() { return *sync_; }
    Placement& placement() { return *placement_; }
    const LiveHelperReceiver* helperReceiver() const { return helperReceiver_.get(); }
    const std::optional<std::string>& lastError() const { return lastError_; }
    bool asking() const { return asking_; }
    bool captureBusy() const { return captureJobs_ > 0; }
    // The pid the running tap meters (0: all sound), when there is a tap.
    std::optional<std::int32_t> meteredPid() const;
    const std::optional<LiveSet>& liveSet() const { return liveSet_; }
    bool launchedAtLogin() const { return launchedAtLogin_; }
    const std::optional<LiveHelper::Registration>& liveHelperRegistration() const { return registration_; }

    // When Live was last seen starting (the clock's seconds).
    double liveSince() const { return liveSince_; }

    // Hooks for the what's-new notice and the crash question, called where
    // the lifecycle says (see app/app_services.h).
    std::function<void()> showWhatsNew;
    std::function<bool()> crashReportPending;
    std::function<void()> askAboutCrash;
    bool whatsNewPending = false;
    // The menus: a Ctrl shortcut offered by the pinned bar, and whether one
    // of our menus is open (keys then stay with it).
    std::function<bool(const KeyPress&)> onMenuShortcut;
    std::function<bool()> isMenuOpen;

    // A question of another part (what's new, crash report) is on screen or
    // answered: no other question is raised meanwhile.
    void setAsking(bool on) { asking_ = on; }
    // The listening choice or the output source changed: drop the tap; the
    // next periodic tick attaches anew to what the settings now say.
    void reattach();

private:
    struct Probe;

    // The first Live of the process list that runs on this desktop.
    std::optional<int> findLivePid();
    std::optional<std::int32_t> captureTarget() const;
    void keepCaptureHealthy(std::int32_t pid);
    void probeCapture(std::int32_t pid);
    void applyProbe(const std::shared_ptr<ProcessTap>& probed, const Probe& probe);
    void detachCapture();
    void setStatus(std::optional<std::string> text);
    bool livePlayingRecently() const;
    void liveGone();
    void liveAppeared(int pid);

    Settings& settings_;
    const Clock& clock_;
    ProcessList& processes_;
    MainLoop& loop_;
    Background& captureWorker_;
    Background& setWorker_;
    Questions& questions_;
    LiveLauncher& launcher_;
    std::function<bool()> mouseButtonsHeld_;
    std::function<bool(int)> onThisDesktop_;
    const std::uint16_t helperPort_;
    const bool launchedAtLogin_;

    std::unique_ptr<AudioEngine> engine_;
    std::unique_ptr<EngineMeterSource> source_;
    std::unique_ptr<BarView> view_;
    std::unique_ptr<LiveSync> sync_;
    std::unique_ptr<LiveHelperReceiver> helperReceiver_;
    PlacementFactory makePlacement_;
    std::unique_ptr<Placement> placement_;
    std::shared_ptr<BarCommands> commands_;  // the bar's gestures, answered

    QTimer timer_;
    QTimer settingsTimer_;
    std::unique_ptr<ThreadWake> displayWake_;  // the capture thread's way to the sleeping display

    bool standalone_ = false;
    std::optional<int> abletonPID_;
    bool sawAbleton_ = false;
    std::optional<int> quitCheck_;
    double lastAttachAttempt_ = AudioEngine::kDistantPast;
    std::optional<std::string> lastError_;
    std::optional<std::pair<std::string, double>> pendingDevice_;  // UID, when first seen
    int captureJobs_ = 0;        // worker jobs under way; each keeps the tap as it is
    std::uint64_t attachGeneration_ = 0;  // of the latest attach or detach
    std::int64_t liveThemeGeneration_ = -1;
    bool trusted_ = false;  // Live's windows can be read; refreshed each periodic tick

    std::optional<std::string> liveSetPath_;
    std::optional<std::int64_t> liveSetModified_;  // file time, nanoseconds
    std::optional<LiveSet> liveSet_;
    bool readingSet_ = false;
    std::int64_t setPollCounter_ = 0;

    bool asking_ = false;
    std::optional<LiveHelper::Registration> registration_;
    double liveSince_ = AudioEngine::kDistantPast;
    bool offeredLiveRestart_ = false;
    struct Restart {
        LaunchRecord launch;
        std::optional<std::string> set;
        double at = 0.0;
    };
    std::optional<Restart> liveRestart_;

    bool started_ = false;
    bool stopped_ = false;
    // Lets posted and delayed tasks find out whether the controller still runs.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace crestline
