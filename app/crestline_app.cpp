#include "app/crestline_app.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/qt_services.h"
#include "app/bar_commands.h"
#include "bar/bar_theme.h"
#include "bar/bar_view.h"
#include "bar/engine_meter_source.h"
#include "capture/core_audio.h"
#include "live/live_helper_receiver.h"
#include "live/live_places.h"
#include "live/live_set_reader.h"
#include "live/live_sync.h"
#include "live/live_theme.h"
#include "platform/accessibility.h"
#include "platform/log.h"
#include "platform/midi_input.h"
#include "platform/running_processes.h"
#include "settings/settings.h"

namespace crestline {

namespace fs = std::filesystem;

namespace {

// "44100", "44100.5": rates in log lines read as people write them.
std::string rateText(double rate) {
    char text[32];
    if (rate == std::floor(rate) && std::fabs(rate) < 1e9) {
        std::snprintf(text, sizeof text, "%.0f", rate);
    } else {
        std::snprintf(text, sizeof text, "%.3g", rate);
    }
    return text;
}

bool fileExists(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error);
}

}  // namespace

// What the health probe learns from the sound server, off the main thread.
struct CrestlineApp::Probe {
    std::optional<double> rate;             // the tap's current rate
    std::optional<std::string> deviceUID;   // the device the process plays to now
};

CrestlineApp::CrestlineApp(World world, PlacementFactory makePlacement, bool launchedAtLogin)
    : settings_(world.settings),
      clock_(world.clock),
      processes_(world.processes),
      loop_(world.loop),
      captureWorker_(world.capture),
      setWorker_(world.setReader),
      questions_(world.questions),
      launcher_(world.launcher),
      mouseButtonsHeld_(world.mouseButtonsHeld ? std::move(world.mouseButtonsHeld) : [] { return false; }),
      onThisDesktop_(std::move(world.onThisDesktop)),
      helperPort_(world.helperPort),
      launchedAtLogin_(launchedAtLogin),
      engine_(std::make_unique<AudioEngine>(world.clock)),
      source_(std::make_unique<EngineMeterSource>(*engine_)),
      view_(std::make_unique<BarView>(world.settings, source_.get(), world.clock)),
      sync_(std::make_unique<LiveSync>(world.clock, world.midi ? std::move(world.midi) : makeSystemMidiInput())),
      makePlacement_(std::move(makePlacement)) {
    view_->setStatus(std::string(kWaitingStatus));
    displayWake_ = std::make_unique<ThreadWake>([this] {
        if (placement_ && !stopped_) placement_->wakeDisplay();
    });
    engine_->setWake([wake = displayWake_.get()] { wake->signal(); });
    timer_.setInterval(static_cast<int>(kPeriodicSeconds * 1000));
    settingsTimer_.setInterval(static_cast<int>(kSettingsWatchSeconds * 1000));
    QObject::connect(&timer_, &QTimer::timeout, [this] { periodic(); });
    QObject::connect(&settingsTimer_, &QTimer::timeout, [this] { watchLiveSettings(); });
}

CrestlineApp::~CrestlineApp() { shutDown(); }

void CrestlineApp::start(bool timers) {
    if (started_ || stopped_) return;
    started_ = true;

    settings_.recordFirstLaunch();
    settings_.migrateToModules();
    settings_.migrateAwayFromBarColour();

    sync_->start();
    LiveSync* sync = sync_.get();
    const Clock* clock = &clock_;
    helperReceiver_ = std::make_unique<LiveHelperReceiver>(
        [sync, clock](const nlohmann::json& message) {
            std::scoped_lock held(sync->lock());
            sync->applyHelper(message, clock->now());
        },
        helperPort_);
    helperReceiver_->start();
    LiveHelper::installOrUpdate();

    const bool liveRunning = findLivePid().has_value();
    if (!liveRunning) registerLiveHelper();

    view_->setSync(sync_.get());
    view_->transportLastMessage = [sync]() -> std::optional<double> {
        std::scoped_lock held(sync->lock());
        const double last = sync->stateLocked().lastMessage;
        if (last > 0.0) return last;
        return std::nullopt;
    };
    placement_ = makePlacement_(*this);
    Placement* placement = placement_.get();
    commands_ = BarCommands::install(settings_, *view_, *engine_,
                                     {.relayout = [placement] { placement->layoutBar(); },
                                      .redraw = [placement] { placement->redraw(); },
                                      .selectionChanged =
                                          [placement](std::optional<ColorArea> area) {
                                              placement->selectionChanged(area);
                                          },
                                      .clearTransportSamples = [sync = sync_.get()] { sync->clearSamples(); }});

    standalone_ = !launchedAtLogin_ && !liveRunning;
    engine_->meter().setAutoResetEnabled(settings_.autoResetAfterSilence());

    placement_->applyBarMode();
    placement_->layoutBar();
    log("Crestline: venster-kleurruimte " + placement_->colourSpaceName().value_or("onbekend"));

    placement_->requestTrustIfNeeded();
    refreshAbleton();
    placement_->updateVisibility();
    // The first tick is 0.8 s away: meter at once what there is to meter.
    if (const auto target = captureTarget()) keepCaptureHealthy(*target);

    if (timers) {
        timer_.start();
        // Live's Settings window is watched through its controls; where the
        // desktop cannot reach them the watch would only cost wake-ups.
        if (accessibility().reachesControls()) settingsTimer_.start();
    }
    LiveTheme::setMouseButtonsPressed(mouseButtonsHeld_);
    LiveTheme::setMainThreadDispatcher([loop = &loop_](std::function<void()> task) { loop->post(std::move(task)); });
    LiveTheme::setOnChange([this, alive = alive_] {
        if (*alive) watchLiveSettings();
    });
}

void CrestlineApp::displayIdle() { engine_->armWake(); }

void CrestlineApp::shutDown() {
    if (stopped_) return;
    stopped_ = true;
    *alive_ = false;
    timer_.stop();
    settingsTimer_.stop();
    if (quitCheck_) loop_.cancel(*quitCheck_);
    quitCheck_.reset();
    LiveTheme::setOnChange(nullptr);
    LiveTheme::setMainThreadDispatcher(nullptr);
    LiveTheme::setMouseButtonsPressed(nullptr);
    // Threads that feed the sync stop before anything they use goes.
    sync_->stop();
    if (helperReceiver_) helperReceiver_->stop();
    setWorker_.stop();
    captureWorker_.stop();
    // No audio callback runs after this.
    engine_->detach();
    if (view_) view_->transportLastMessage = nullptr;
    if (commands_) commands_->uninstall();
    if (placement_) placement_->shutDown();
}

// ---- Live's presence -----------------------------------------------------

void CrestlineApp::refreshAbleton() {
    if (stopped_) return;
    const std::optional<int> pid = findLivePid();
    if (pid == abletonPID_) return;
    const bool wasRunning = abletonPID_.has_value();
    abletonPID_ = pid;
    if (pid) {
        liveAppeared(*pid);
    } else if (wasRunning) {
        liveGone();
    }
    if (placement_) placement_->updateVisibility();
}

void CrestlineApp::liveAppeared(int pid) {
    if (standalone_) {
        loop_.post([this, alive = alive_] {
            if (*alive) askToAttach();
        });
    }
    sawAbleton_ = true;
    liveSince_ = clock_.now();
    if (placement_) placement_->setFillPending();
    if (quitCheck_) loop_.cancel(*quitCheck_);
    quitCheck_.reset();
    if (!settings_.listenToAll()) attach(pid, ProcessTap::Mode::tapOnly);
}

void CrestlineApp::liveGone() {
    if (!settings_.listenToAll()) {
        detachCapture();
        lastAttachAttempt_ = AudioEngine::kDistantPast;
    }
    if (settings_.barMode() == BarMode::floating && !standalone_ && placement_ && placement_->barShown()) {
        standalone_ = true;
        lastAttachAttempt_ = AudioEngine::kDistantPast;
        loop_.post([this, alive = alive_] {
            if (*alive) askToKeepOpen();
        });
    } else {
        lastError_.reset();
        if (!settings_.listenToAll() && !standalone_) setStatus(std::string(kWaitingStatus));
    }
    scheduleQuitCheckIfNeeded();
    loop_.after(kAfterLiveQuitSeconds, [this, alive = alive_] {
        if (!*alive || abletonPID_) return;
        registerLiveHelper();
        reopenLiveIfRestarting();
    });
}

std::optional<int> CrestlineApp::findLivePid() {
    for (const RunningProcess& process : processes_.running()) {
        if (isAbleton(process) && (!onThisDesktop_ || onThisDesktop_(process.pid))) return process.pid;
    }
    return std::nullopt;
}

CrestlineApp::State CrestlineApp::state() const {
    if (standalone_) return State::standalone;
    if (abletonPID_) return State::attached;
    return State::waiting;
}

std::optional<std::int32_t> CrestlineApp::meteredPid() const {
    if (!engine_->tap()) return std::nullopt;
    return engine_->tap()->pid();
}

// ---- Capture -------------------------------------------------------------

void CrestlineApp::attach(std::int32_t pid, ProcessTap::Mode mode) {
    if (stopped_) return;
    lastAttachAttempt_ = clock_.now();
    pendingDevice_.reset();
    ++captureJobs_;
    const std::uint64_t generation = ++attachGeneration_;
    // The worker only asks the sound server and prepares a tap of its own;
    // the engine is touched on the main thread alone, when the tap is ready,
    // so the running tap meters on until it is swapped out.
    struct Prepared {
        std::shared_ptr<ProcessTap> tap;
        std::optional<std::string> failure;
    };
    auto prepared = std::make_shared<Prepared>();
    Settings* settings = &settings_;
    captureWorker_.run(
        [settings, pid, mode, prepared] {
            ProcessTap::Source source = ProcessTap::Source::automatic();
            bool haveProcess = pid == 0;
            std::optional<std::uint32_t> sinkInput;
            if (pid != 0) {
                try {
                    sinkInput = ProcessTap::sinkInputOf(pid);
                    haveProcess = true;
                } catch (const CoreAudioError&) {
                }
            }
            if (haveProcess) {
                if (const auto device = ProcessTap::currentDevice(sinkInput, true)) {
                    source = settings->outputSource(device->uid).value_or(ProcessTap::Source::automatic());
                }
            }
            try {
                prepared->tap = AudioEngine::prepareTap(pid, mode, source);
            } catch (const CoreAudioError& error) {
                prepared->failure = error.description();
            } catch (const std::exception& error) {
                prepared->failure = error.what();
            }
        },
        [this, alive = alive_, pid, generation, prepared] {
            // Shut down meanwhile: the tap closes with the last reference.
            if (!*alive) return;
            --captureJobs_;
            // A detach (Live went, the user chose another target) came after
            // this attach was asked for: its tap is not wanted any more.
            if (generation != attachGeneration_) return;
            if (prepared->tap) {
                try {
                    engine_->attach(std::move(prepared->tap));
                } catch (const CoreAudioError& error) {
                    prepared->failure = error.description();
                }
            } else {
                engine_->detach();
            }
            if (prepared->failure) {
                lastError_ = *prepared->failure;
                setStatus(std::string(pid != 0 ? kLiveTapStatus : kAllSoundStatus));
                log("Crestline: " + *prepared->failure);
            } else {
                lastError_.reset();
                view_->setStatus(std::nullopt);
                placement_->redraw();
            }
        });
}

void CrestlineApp::detachCapture() {
    // Stopping never waits on the server; an attach still under way is
    // dropped when it comes back.
    ++attachGeneration_;
    engine_->detach();
}

void CrestlineApp::reattach() {
    if (stopped_) return;
    detachCapture();
    lastAttachAttempt_ = AudioEngine::kDistantPast;
}

std::optional<std::int32_t> CrestlineApp::captureTarget() const {
    if (settings_.listenToAll()) return 0;
    if (abletonPID_) return *abletonPID_;
    if (standalone_) return 0;
    return std::nullopt;
}

void CrestlineApp::keepCaptureHealthy(std::int32_t pid) {
    // A job under way owns the engine; look again on the next tick.
    if (captureJobs_ > 0) return;
    const std::shared_ptr<ProcessTap> tap = engine_->tap();
    if (!tap) {
        // The retry the failure texts announce.
        if (clock_.now() - lastAttachAttempt_ > kRetrySeconds) attach(pid, ProcessTap::Mode::tapOnly);
        return;
    }
    if (tap->pid() != pid) {
        attach(pid, ProcessTap::Mode::tapOnly);
        return;
    }
    if (!engine_->hasLiveTap()) {
        // The server restarted, the device or Live's stream went: that
        // recording delivers nothing more, only a new attach brings sound
        // back. A server still away fails it, and the retry takes over.
        log("Crestline: opname gestopt, opnieuw koppelen");
        attach(pid, ProcessTap::Mode::tapOnly);
        return;
    }
    if (tap->mode() == ProcessTap::Mode::tapOnly && tap->callbackCount() == 0 &&
        clock_.now() - engine_->attachedAt() > kNoCallbackSeconds) {
        log("Crestline: geen callbacks via tap-only aggregate, overschakelen naar output device");
        attach(pid, ProcessTap::Mode::withOutputDevice);
        return;
    }
    probeCapture(pid);
}

void CrestlineApp::probeCapture(std::int32_t pid) {
    ++captureJobs_;
    auto probe = std::make_shared<Probe>();
    const std::shared_ptr<ProcessTap> tap = engine_->tap();
    // The rate is what the server last said; asking where the process plays
    // now is a round trip, made on the worker.
    probe->rate = tap->liveSampleRate();
    captureWorker_.run(
        [pid, probe] {
            std::optional<std::uint32_t> sinkInput;
            if (pid != 0) {
                try {
                    sinkInput = ProcessTap::sinkInputOf(pid);
                } catch (const CoreAudioError&) {
                }
            }
            if (const auto device = ProcessTap::currentDevice(sinkInput, true)) probe->deviceUID = device->uid;
        },
        [this, alive = alive_, probe, tap] {
            if (!*alive) return;
            --captureJobs_;
            applyProbe(tap, *probe);
        });
}

void CrestlineApp::applyProbe(const std::shared_ptr<ProcessTap>& probed, const Probe& probe) {
    const std::shared_ptr<ProcessTap> tap = engine_->tap();
    // Something else took the engine meanwhile; its own result stands.
    if (captureJobs_ > 0 || !tap || tap != probed) return;
    const std::int32_t pid = tap->pid();
    if (probe.rate && std::fabs(*probe.rate - tap->sampleRate()) > kRateToleranceHz) {
        log("Crestline: samplerate gewijzigd naar " + rateText(*probe.rate) + " Hz, opnieuw koppelen");
        attach(pid, ProcessTap::Mode::tapOnly);
        return;
    }
    if (const auto device = deviceNeedingReattach(probe.deviceUID)) {
        log("Crestline: ander uitvoerapparaat (" + *device + "), opnieuw koppelen");
        attach(pid, ProcessTap::Mode::tapOnly);
        return;
    }
    tap->refreshAutoSelection();
}

std::optional<std::string> CrestlineApp::deviceNeedingReattach(const std::optional<std::string>& current) {
    if (!current) return std::nullopt;
    const std::shared_ptr<ProcessTap> tap = engine_->tap();
    const std::string tapped = tap && tap->device() ? tap->device()->uid : std::string();
    if (*current == tapped) {
        pendingDevice_.reset();
        return std::nullopt;
    }
    const double now = clock_.now();
    if (!pendingDevice_ || pendingDevice_->first != *current) {
        pendingDevice_ = std::pair(*current, now);
        return std::nullopt;
    }
    if (now - pendingDevice_->second > kDeviceConfirmSeconds) return current;
    return std::nullopt;
}

void CrestlineApp::setStatus(std::optional<std::string> text) {
    if (view_->setStatus(std::move(text)) && placement_) placement_->redraw();
}

// ---- The periodic check --------------------------------------------------

void CrestlineApp::periodic() {
    if (!started_ || stopped_) return;
    // Asked here, not ten times a second by the settings watch: a round trip
    // to the window system each time, for an answer that rarely changes.
    trusted_ = abletonPID_.has_value() && accessibility().isProcessTrusted();
    refreshTheme();
    showWhatsNewIfDue();
    askAboutCrashIfDue();
    refreshAbleton();
    placement_->refreshFullScreen();
    offerLiveRestartIfNeeded();
    if (++setPollCounter_ % 2 == 0) refreshLiveSet();
    if (const auto target = captureTarget()) keepCaptureHealthy(*target);
    // Transport messages without sound wake no one else; nor does a wake
    // the capture thread fired just before the link went to sleep.
    placement_->wakeDisplay();
    // A held button may be the user moving Live's window: leave it alone.
    if (abletonPID_ && !standalone_ && !placement_->floating() && !mouseButtonsHeld_()) placement_->fitStep();
}

// ---- Live's set ----------------------------------------------------------

void CrestlineApp::refreshLiveSet() {
    if (stopped_) return;
    if (!settings_.showTimelineMarks() || !abletonPID_) {
        if (liveSet_) {
            liveSet_.reset();
            view_->setLiveSet(std::nullopt);
            placement_->redraw();
        }
        liveSetPath_.reset();
        liveSetModified_.reset();
        return;
    }
    // A held button may be a drag of the set's file or of Live's window:
    // reading then competes with the user for nothing.
    if (readingSet_ || mouseButtonsHeld_()) return;
    readingSet_ = true;

    struct Read {
        bool noSet = false;      // Live shows no saved set
        bool unchanged = false;  // the same file, not modified since
        std::optional<LiveSet> set;
        std::string path;
        std::int64_t modified = 0;
    };
    auto read = std::make_shared<Read>();
    // Copies: the worker never touches the controller's fields.
    const int pid = *abletonPID_;
    const std::optional<std::string> knownPath = liveSetPath_;
    const std::optional<std::int64_t> knownModified = liveSetModified_;
    setWorker_.run(
        [pid, knownPath, knownModified, read] {
            const auto path = LiveSetReader::openSetPath(pid);
            if (!path) {
                read->noSet = true;
                return;
            }
            std::error_code error;
            const auto time = fs::last_write_time(*path, error);
            if (error) return;  // a failed read: tried again next time
            read->path = *path;
            read->modified = time.time_since_epoch().count();
            if (knownPath == read->path && knownModified == read->modified) {
                read->unchanged = true;
                return;
            }
            read->set = LiveSetReader::read(*path);
        },
        [this, alive = alive_, read] {
            if (!*alive) return;
            readingSet_ = false;
            if (read->unchanged) return;
            if (read->noSet) {
                liveSetPath_.reset();
                liveSetModified_.reset();
                if (liveSet_) {
                    liveSet_.reset();
                    view_->setLiveSet(std::nullopt);
                    placement_->redraw();
                }
                return;
            }
            if (!read->set) return;  // keeps the old set, stores neither path nor date
            liveSet_ = read->set;
            liveSetPath_ = read->path;
            liveSetModified_ = read->modified;
            view_->setLiveSet(liveSet_);
            placement_->redraw();
        });
}

// ---- The helper ----------------------------------------------------------

void CrestlineApp::registerLiveHelper() {
    if (!fileExists(LiveHelper::installedScript())) return;
    const auto folder = LiveHelper::preferencesFolder();
    if (!folder) return;
    const std::string key = LivePlaces::registrationKey(*folder);
    if (settings_.boolean(key).value_or(false)) return;
    const LiveHelper::Registration result = LiveHelper::registerIn(*folder);
    registration_ = result;
    using Kind = LiveHelper::Registration::Kind;
    if (result.kind == Kind::added || result.kind == Kind::present) {
        settings_.setBool(key, true);
        log("Crestline: Live Helper als Control Surface: " + result.text());
    } else {
        log("Crestline: Live Helper niet zelf gekozen: " + result.text());
    }
}

void CrestlineApp::offerLiveRestartIfNeeded() {
    if (offeredLiveRestart_ || asking_ || liveRestart_ || !abletonPID_) return;
    if (!fileExists(LiveHelper::installedScript())) return;
    const double now = clock_.now();
    {
        std::scoped_lock held(sync_->lock());
        const double last = sync_->stateLocked().helperLastMessage;
        if (last > 0.0 && now - last < kHelperConnectedSeconds) return;  // connected
    }
    if (registration_ || now - liveSince_ <= kLiveSettledSeconds) return;
    const auto folder = LiveHelper::preferencesFolder();
    if (!folder || settings_.boolean(LivePlaces::registrationKey(*folder)).value_or(false)) return;
    offeredLiveRestart_ = true;
    asking_ = true;
    questions_.ask({"Restart Live to connect Crestline?",
                    "Live picks up Crestline's helper only as it starts. After one restart, your locators and the "
                    "play position show in the bar as you work. Live asks to save your set first and opens it again.",
                    "Restart Live", "Later"},
                   [this, alive = alive_](bool restart) {
                       if (!*alive) return;
                       asking_ = false;
                       if (restart) restartLive();
                   });
}

void CrestlineApp::restartLive() {
    const auto live = findLivePid();
    if (!live) return;
    auto launch = launcher_.record(*live);
    if (!launch) {
        log("Crestline: Live kan niet opnieuw gestart worden: onbekend hoe het gestart is");
        return;
    }
    // The set last read is the one Live shows; asking Live's windows again
    // could keep the main thread waiting.
    liveRestart_ = Restart{std::move(*launch), liveSetPath_, clock_.now()};
    if (!launcher_.requestQuit(*live)) {
        log("Crestline: Live kon niet gevraagd worden te stoppen");
        liveRestart_.reset();
    }
}

void CrestlineApp::reopenLiveIfRestarting() {
    if (!liveRestart_) return;
    const Restart restart = std::move(*liveRestart_);
    liveRestart_.reset();
    if (clock_.now() - restart.at >= kRestartWindowSeconds) return;
    std::optional<std::string> set;
    if (restart.set && fileExists(*restart.set)) set = restart.set;
    if (!launcher_.open(restart.launch, set)) log("Crestline: Live opnieuw starten mislukt");
}

// ---- Questions -----------------------------------------------------------

void CrestlineApp::askToAttach() {
    if (!standalone_ || !abletonPID_ || asking_) return;
    asking_ = true;
    questions_.ask({"Ableton Live is open. Attach Crestline to Live?",
                    "Crestline then sits above Live's window and moves along with it. Keep it separate to leave it "
                    "where it is.",
                    "Attach to Live", "Keep Separate"},
                   [this, alive = alive_](bool attachToLive) {
                       if (!*alive) return;
                       asking_ = false;
                       // Live may have gone while the question was open.
                       refreshAbleton();
                       if (!abletonPID_ || !standalone_) return;
                       settings_.setBarMode(attachToLive ? BarMode::pinned : BarMode::floating);
                       standalone_ = false;
                       detachCapture();
                       lastAttachAttempt_ = AudioEngine::kDistantPast;  // the next tick attaches to Live
                       placement_->applyBarMode();
                       placement_->layoutBar();
                       placement_->updateVisibility();
                   });
}

void CrestlineApp::askToKeepOpen() {
    if (!standalone_ || abletonPID_ || asking_) return;
    asking_ = true;
    questions_.ask({"Ableton Live was closed. Keep Crestline open?",
                    "It then stays open on its own and measures all sound on this computer.", "Keep Open", "Close"},
                   [this, alive = alive_](bool keepOpen) {
                       if (!*alive) return;
                       asking_ = false;
                       refreshAbleton();
                       if (!keepOpen && !abletonPID_ && standalone_) {
                           standalone_ = false;
                           detachCapture();
                           setStatus(std::string(kWaitingStatus));
                       }
                       placement_->updateVisibility();
                   });
}

void CrestlineApp::scheduleQuitCheckIfNeeded() {
    if (!settings_.quitWithAbleton() || standalone_ || !sawAbleton_ || quitCheck_) return;
    quitCheck_ = loop_.after(kQuitCheckSeconds, [this, alive = alive_] {
        if (!*alive) return;
        quitCheck_.reset();
        // A fresh look: Live may have come back since the last tick.
        if (settings_.quitWithAbleton() && !findLivePid()) loop_.quit();
    });
}

void CrestlineApp::reopen() {
    if (!started_ || stopped_) return;
    if (!abletonPID_ && !standalone_) {
        standalone_ = true;
        lastAttachAttempt_ = AudioEngine::kDistantPast;
        setStatus(std::nullopt);
        if (const auto target = captureTarget()) keepCaptureHealthy(*target);
    }
    placement_->reopen();
}

// ---- Theme and the later notices -----------------------------------------

void CrestlineApp::refreshTheme() {
    // One stat of Live's preferences while nothing changed.
    LiveTheme::current();
    const std::int64_t generation = LiveTheme::generation();
    if (generation == liveThemeGeneration_) return;
    liveThemeGeneration_ = generation;
    view_->setTheme(currentTheme(settings_));
    if (placement_) placement_->redraw();
}

void CrestlineApp::watchLiveSettings() {
    if (!abletonPID_ || stopped_ || !trusted_) return;
    if (LiveTheme::readSettings(*abletonPID_)) refreshTheme();
}

bool CrestlineApp::livePlayingRecently() const {
    std::scoped_lock held(sync_->lock());
    const auto& state = sync_->stateLocked();
    return state.playing && clock_.now() - state.lastMessage <= 1.5;
}

void CrestlineApp::showWhatsNewIfDue() {
    if (!whatsNewPending || asking_ || mouseButtonsHeld_()) return;
    if (!abletonPID_ && !standalone_) return;
    if (abletonPID_ && !standalone_ && clock_.now() - liveSince_ <= 5.0) return;
    if (livePlayingRecently()) return;
    whatsNewPending = false;
    if (showWhatsNew) showWhatsNew();
}

void CrestlineApp::askAboutCrashIfDue() {
    if (!crashReportPending || !crashReportPending() || asking_ || whatsNewPending || mouseButtonsHeld_()) return;
    if (livePlayingRecently()) return;
    if (askAboutCrash) askAboutCrash();
}

}  // namespace crestline
