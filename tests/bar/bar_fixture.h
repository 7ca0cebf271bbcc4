// A bar view over an isolated settings file, a fake clock and a meter
// source whose values the test sets; frames are drawn offscreen.
#pragma once

#include <gtest/gtest.h>

#include <QImage>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>

#include "bar/bar_picture.h"
#include "bar/bar_view.h"
#include "platform/clock.h"
#include "settings/settings.h"
#include "tests/bar/gui_support.h"

namespace crestline::testing {

class FakeMeterSource final : public MeterSource {
public:
    static constexpr double kNothing = -std::numeric_limits<double>::infinity();

    LoudnessReading value;
    PeakLevels nextPeaks{kNothing, kNothing};
    std::uint64_t blocks = 0;

    LoudnessReading reading() override { return value; }
    PeakLevels takePeaks() override {
        const PeakLevels taken = nextPeaks;
        nextPeaks = {kNothing, kNothing};
        return taken;
    }
    std::uint64_t activity() override { return blocks; }
};

inline std::filesystem::path freshSettingsFile() {
    static int counter = 0;
    const char* root = std::getenv("XDG_CONFIG_HOME");
    const std::filesystem::path folder = std::filesystem::path(root != nullptr ? root : "/tmp") / "bar-tests";
    std::filesystem::create_directories(folder);
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info != nullptr ? std::string(info->test_suite_name()) + "." + info->name() : "settings";
    return folder / (name + "-" + std::to_string(++counter) + ".json");
}

class BarFixture : public ::testing::Test {
protected:
    BarFixture() : settings(freshSettingsFile(), clock, Settings::Writing::manual) { guiApplication(); }

    // Set CRESTLINE_TEST_PICTURES to a folder to keep every frame drawn.
    QImage render(double width = 900.0, double height = 36.0, double scale = 2.0) {
        QImage image = renderBar(view, {width, height}, scale);
        if (const char* folder = std::getenv("CRESTLINE_TEST_PICTURES")) {
            static int frame = 0;
            const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
            const std::string name = std::string(info->name()) + "-" + std::to_string(++frame) + ".png";
            image.save(QString::fromStdString((std::filesystem::path(folder) / name).string()));
        }
        return image;
    }
    // Pixel of the image at a point in the bar's coordinates (y up).
    QColor pixelAt(const QImage& image, double x, double y) const {
        const double s = image.devicePixelRatio();
        const int px = static_cast<int>(x * s);
        const int py = image.height() - 1 - static_cast<int>(y * s);
        return QColor::fromRgba(image.pixel(px, py));
    }
    const Rect* hintZone(Hint hint) const {
        for (const auto& [rect, h] : view.layout().hintZones) {
            if (h == hint) return &rect;
        }
        return nullptr;
    }

    FakeClock clock;
    Settings settings;
    FakeMeterSource meter;
    BarView view{settings, &meter, clock};
};

}  // namespace crestline::testing
