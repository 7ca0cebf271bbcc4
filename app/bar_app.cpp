#include "app/bar_app.h"

#include <QVBoxLayout>
#include <QWidget>
#include <cmath>

#include "analysis/audio_engine.h"
#include "bar/bar_theme.h"
#include "bar/bar_view.h"
#include "bar/bar_widget.h"
#include "bar/engine_meter_source.h"
#include "capture/core_audio.h"
#include "live/live_theme.h"
#include "platform/log.h"
#include "settings/settings.h"

namespace crestline {

BarApp::BarApp(Settings& settings, const Clock& clock)
    : settings_(settings),
      clock_(clock),
      engine_(std::make_unique<AudioEngine>(clock)),
      source_(std::make_unique<EngineMeterSource>(*engine_)),
      view_(std::make_unique<BarView>(settings, source_.get(), clock)) {
    refreshTheme();
    view_->setDraggable(false);

    window_ = std::make_unique<QWidget>();
    window_->setWindowTitle(QStringLiteral("Crestline"));
    auto* layout = new QVBoxLayout(window_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    widget_ = new BarWidget(*view_, window_.get());
    layout->addWidget(widget_);
    const double width = std::max(settings_.floatingWidth(), 320.0);
    const double height = std::clamp(settings_.floatingHeight(), BarView::kMinimumHeight, BarView::kMaximumHeight);
    window_->resize(static_cast<int>(std::lround(width)), static_cast<int>(std::lround(height)));
    view_->onFrameChanged = [this] { fitMinimumWidth(); };
    widget_->onResized = [this] { fitMinimumWidth(); };

    periodic_.setInterval(kPeriodicMilliseconds);
    QObject::connect(&periodic_, &QTimer::timeout, [this] { periodic(); });
}

BarApp::~BarApp() { shutDown(); }

void BarApp::start() {
    if (stopped_) return;
    fitMinimumWidth();
    window_->show();
    attachAllSound();
    periodic_.start();
}

void BarApp::attachAllSound() {
    lastAttachAttempt_ = clock_.now();
    try {
        engine_->attach(0, TapMode::tapOnly, TapSource::automatic());
        lastError_.reset();
        view_->setStatus(std::nullopt);
        widget_->update();
    } catch (const CoreAudioError& error) {
        engine_->detach();
        lastError_ = error.description();
        if (view_->setStatus(std::string(kAllSoundStatus))) widget_->update();
        log("Crestline: " + error.description());
    }
}

void BarApp::refreshTheme() {
    // One stat of Live's preferences while nothing changed.
    LiveTheme::current();
    const std::int64_t generation = LiveTheme::generation();
    if (generation == themeGeneration_) return;
    themeGeneration_ = generation;
    view_->setTheme(currentTheme(settings_));
    if (widget_ != nullptr) widget_->update();
}

void BarApp::periodic() {
    if (stopped_) return;
    refreshTheme();
    if (!engine_->tap() && clock_.now() - lastAttachAttempt_ > kRetrySeconds) attachAllSound();
}

void BarApp::fitMinimumWidth() {
    if (window_) window_->setMinimumWidth(static_cast<int>(std::ceil(view_->minimumWidth())));
}

void BarApp::shutDown() {
    if (stopped_) return;
    stopped_ = true;
    periodic_.stop();
    // No audio callback may run once the window and view are gone.
    engine_->detach();
    view_->onFrameChanged = nullptr;
    widget_->onResized = nullptr;
    window_.reset();
    widget_ = nullptr;
}

}  // namespace crestline
