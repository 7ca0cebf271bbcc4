// The application until its full shell exists: one resizable window with
// the bar, the engine listening to all sound, and the capture kept alive.
// An attach that fails shows why in the bar ("This Mac's sound cannot be
// tapped yet. Trying again in 2 seconds.") and is retried by the periodic
// tick once 2 s have passed. Shut-down is ordered: timers first, then the
// capture (no audio callback runs afterwards), then the window and the
// view, and the engine last.
//
// Main thread only; needs a QApplication.
#pragma once

#include <QTimer>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "platform/clock.h"

class QWidget;

namespace crestline {

class AudioEngine;
class BarView;
class BarWidget;
class EngineMeterSource;
class Settings;

class BarApp {
public:
    static constexpr double kRetrySeconds = 2.0;
    static constexpr int kPeriodicMilliseconds = 800;
    static constexpr const char* kAllSoundStatus =
        "This Mac's sound cannot be tapped yet. Trying again in 2 seconds.";

    explicit BarApp(Settings& settings, const Clock& clock = systemClock());
    ~BarApp();
    BarApp(const BarApp&) = delete;
    BarApp& operator=(const BarApp&) = delete;

    // Shows the window, attaches to all sound and starts the periodic tick.
    void start();
    // Every 0.8 s: takes Live's theme anew when it changed, and re-attaches
    // once 2 s have passed without a tap.
    void periodic();
    // Ordered shut-down; safe to call twice (the destructor calls it).
    void shutDown();

    BarView& view() { return *view_; }
    AudioEngine& engine() { return *engine_; }
    QWidget& window() { return *window_; }
    const std::optional<std::string>& lastError() const { return lastError_; }

private:
    void attachAllSound();
    void fitMinimumWidth();
    void refreshTheme();

    Settings& settings_;
    const Clock& clock_;
    std::unique_ptr<AudioEngine> engine_;
    std::unique_ptr<EngineMeterSource> source_;
    std::unique_ptr<BarView> view_;
    std::unique_ptr<QWidget> window_;
    BarWidget* widget_ = nullptr;  // owned by the window
    QTimer periodic_;
    double lastAttachAttempt_ = -std::numeric_limits<double>::infinity();
    std::optional<std::string> lastError_;
    std::int64_t themeGeneration_ = -1;  // LiveTheme's, when the theme was last set
    bool stopped_ = false;
};

}  // namespace crestline
