// A bar view over its own settings file, a fake clock and a meter source
// whose values the test sets; frames are drawn offscreen.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>
#include <utility>

#include "bar/bar_picture.h"
#include "bar/bar_view.h"
#include "platform/clock.h"
#include "settings/settings.h"

namespace crestline::testing {

// Fonts and images need one application object per process, and the bar's
// widgets a QApplication; it lives until exit.
inline QGuiApplication& guiApplication() {
    static int argc = 1;
    static char name[] = "bar_tests";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* app = new QApplication(argc, argv);
    return *app;
}

class FakeMeterSource final : public MeterSource {
public:
    static constexpr double kNothing = -std::numeric_limits<double>::infinity();

    LoudnessReading value;
    PeakLevels nextPeaks{kNothing, kNothing};
    std::uint64_t blocks = 0;

    LoudnessReading reading() override { return value; }
    PeakLevels takePeaks() override { return std::exchange(nextPeaks, {kNothing, kNothing}); }
    std::uint64_t activity() override { return blocks; }
};

class BarFixture : public ::testing::Test {
protected:
    BarFixture() { guiApplication(); }

    QImage render(double width = 900.0, double height = 36.0, double scale = 2.0) {
        return renderBar(view, {width, height}, scale);
    }
    // Pixel of the image at a point in the bar's coordinates (y up).
    static QColor pixelAt(const QImage& image, double x, double y) {
        const double s = image.devicePixelRatio();
        return QColor::fromRgba(image.pixel(static_cast<int>(x * s), image.height() - 1 - static_cast<int>(y * s)));
    }
    // How many pixels, probed every half point over `area`, meet `test`.
    template <typename Test>
    static int count(const QImage& image, const Rect& area, Test test) {
        int n = 0;
        for (double x = area.minX(); x < area.maxX(); x += 0.5) {
            for (double y = area.minY(); y < area.maxY(); y += 0.5) n += test(pixelAt(image, x, y));
        }
        return n;
    }
    const Rect* hintZone(Hint hint) const {
        for (const auto& [rect, h] : layout.hintZones) {
            if (h == hint) return &rect;
        }
        return nullptr;
    }

    FakeClock clock;
    Settings settings{std::filesystem::path(std::getenv("XDG_CONFIG_HOME")) /
                          (::testing::UnitTest::GetInstance()->current_test_info()->name() + std::string(".json")),
                      clock, Settings::Writing::manual};
    FakeMeterSource meter;
    BarView view{settings, &meter, clock};
    const BarLayout& layout = view.layout();  // of the latest frame
};

}  // namespace crestline::testing
