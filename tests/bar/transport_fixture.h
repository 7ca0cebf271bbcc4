// Live's transport for the displays that draw bars and locators: a sync
// without MIDI whose helper messages the test sends at the fake clock's
// times, and a display frame drawn into an offscreen image without a view.
#pragma once

#include <QImage>
#include <QPainter>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bar/module_display.h"
#include "bar/text_cache.h"
#include "live/live_sync.h"
#include "tests/bar/bar_fixture.h"

namespace crestline::testing {

class NoMidi final : public MidiInput {
public:
    MidiOpenResult open(const std::string&, Handler) override { return {MidiOpenResult::Failure::client, 0}; }
    void close() override {}
    bool isOpen() const override { return false; }
};

// The helper script as Live runs it: positions every 50 ms while playing.
class Transport {
public:
    explicit Transport(FakeClock& clock) : clock_(clock), sync_(clock, std::make_unique<NoMidi>()) {}

    LiveSync& sync() { return sync_; }

    // Plays from `beat` at `beatsPerSecond` for `seconds`, sending a
    // position every 1/16 s (times and, at 2 beats a second, beats that
    // are exact in binary and in clock ticks) and moving the clock on.
    void play(double beat, double beatsPerSecond, double seconds) {
        const double start = clock_.now();
        const long steps = std::lround(seconds * kRate);
        for (long k = 0; k < steps; ++k) {
            clock_.set(start + k / kRate);
            position(beat + beatsPerSecond * k / kRate, true);
        }
        clock_.set(start + seconds);
    }
    static constexpr double kRate = 16.0;  // positions a second
    void position(double beat, bool playing) {
        send({{"type", "position"}, {"beat", beat}, {"playing", playing}});
    }
    void locators(const std::vector<std::pair<double, std::string>>& list, int numerator = 4, int denominator = 4) {
        nlohmann::json items = nlohmann::json::array();
        for (const auto& [beat, name] : list) items.push_back({beat, name});
        send({{"type", "locators"}, {"locators", items}, {"numerator", numerator}, {"denominator", denominator}});
    }
    void send(const nlohmann::json& message) {
        std::scoped_lock held(sync_.lock());
        sync_.applyHelper(message, clock_.now());
    }

private:
    FakeClock& clock_;
    LiveSync sync_;
};

// One display frame over an offscreen image of `size` points at scale 2,
// for drawing code that needs a Frame but no view.
class FramePainter {
public:
    FramePainter(Settings& settings, Size size, const Clock& clock)
        : settings_(settings), size_(size), clock_(clock),
          image_(static_cast<int>(size.width * 2), static_cast<int>(size.height * 2),
                 QImage::Format_ARGB32_Premultiplied) {
        image_.setDevicePixelRatio(2.0);
    }

    Frame frame(const LiveSync* sync, const LiveSet* set) const {
        return Frame{.area = ColorArea::history,
                     .theme = theme_,
                     .barTheme = theme_,
                     .settings = settings_,
                     .pointer = pointer,
                     .gradients = gradients_,
                     .bounds = size_,
                     .scale = 2.0,
                     .now = clock_.now(),
                     .reading = {},
                     .sync = sync,
                     .liveSet = set};
    }
    // Runs `draw(canvas, frame)` on a cleared image.
    template <typename Draw>
    const QImage& paint(const LiveSync* sync, const LiveSet* set, Draw draw) {
        image_.fill(Qt::black);
        QPainter painter(&image_);
        Canvas canvas(painter, size_.height, 2.0, texts_);
        draw(canvas, frame(sync, set));
        return image_;
    }

    PointerState pointer;

private:
    Settings& settings_;
    Size size_;
    const Clock& clock_;
    BarTheme theme_ = BarTheme::liveDark();
    mutable LevelGradients gradients_;
    TextCache texts_;
    QImage image_;
};

}  // namespace crestline::testing
