// The bar as a picture from analysers of its own: every module, the asked
// size or, when the modules need more, the width they need.
#include "bar/meter_picture.h"

#include <cmath>

#include "bar/analyser_source.h"
#include "tests/bar/bar_fixture.h"

namespace crestline {
namespace {

class MeterPictureTest : public testing::BarFixture {
protected:
    MeterPictureTest() {
        source.configure(48000);
        // Two seconds of a 1 kHz sine at −6 dBFS on the left, −12 on the right.
        std::vector<float> left(4800), right(4800);
        for (int block = 0; block < 20; ++block) {
            for (std::size_t i = 0; i < left.size(); ++i) {
                const double t = static_cast<double>(block * 4800 + static_cast<int>(i)) / 48000.0;
                left[i] = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 1000.0 * t));
                right[i] = 0.5f * left[i];
            }
            source.feed(left.data(), right.data(), 4800);
        }
    }
    QImage written() const { return QImage(QString::fromStdString(path)); }

    AnalyserSource source;
    const std::string path = std::string(std::getenv("XDG_CACHE_HOME")) + "/" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".png";
};

TEST_F(MeterPictureTest, DrawsTheAskedSizeWhenTheModulesFitAndWidensWhenTheyDoNot) {
    settings.setModuleOrder({ColorArea::meter});
    MeterPictureResult result = writeMeterPicture(path, source, {700, 80, 1, "scope"}, settings, clock);
    ASSERT_EQ(result.error, "");
    EXPECT_FALSE(result.widened);
    EXPECT_EQ(written().size(), QSize(700, 80));
    const QColor corner = written().pixelColor(2, 2);
    const QColor expected = BarTheme::scope().background.toQColor();
    EXPECT_NEAR(corner.red(), expected.red(), 1);
    EXPECT_NEAR(corner.blue(), expected.blue(), 1);

    // Every module at 700 points: the row would scroll, the picture grows
    // to what the row needs (and never below the bar's minimum width).
    settings.setModuleOrder({ColorArea::scope, ColorArea::spectrum, ColorArea::imager, ColorArea::history,
                             ColorArea::spectrogram, ColorArea::meter});
    result = writeMeterPicture(path, source, {700, 36, 2, std::nullopt}, settings, clock);
    ASSERT_EQ(result.error, "");
    EXPECT_TRUE(result.widened);
    EXPECT_GE(result.drawn.width, 5 * 150 + 34);
    EXPECT_EQ(written().width(), static_cast<int>(result.drawn.width * 2));
    view.setBounds({result.drawn.width, 36});
    EXPECT_GE(result.drawn.width, view.minimumWidth());
    // Drawn at that width every module is whole, the meter last.
    BarView check(settings, &source, clock);
    renderBar(check, result.drawn, 2.0);
    ASSERT_EQ(check.layout().modules.size(), 6u);
    EXPECT_LE(check.layout().meterRect.maxX(), result.drawn.width);
}

TEST_F(MeterPictureTest, RefusesUnknownThemesAndEmptySizesWritingNothing) {
    EXPECT_NE(writeMeterPicture(path, source, {900, 36, 2, "dark"}, settings, clock).error.find("unknown theme"),
              std::string::npos);
    EXPECT_FALSE(writeMeterPicture(path, source, {0, 36, 2, std::nullopt}, settings, clock).error.empty());
    EXPECT_FALSE(writeMeterPicture(path, source, {900, NAN, 2, std::nullopt}, settings, clock).error.empty());
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace crestline
