#include "bar/meter_picture.h"

#include "tests/bar/bar_fixture.h"

namespace crestline {
namespace {

class MeterPictureTest : public testing::BarFixture {
protected:
    const std::string path = std::string(std::getenv("XDG_CACHE_HOME")) + "/" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".png";
};

TEST_F(MeterPictureTest, WritesThePresetAndTheReadingsAtTheAskedSize) {
    LoudnessReading reading;
    reading.integrated = -14.0;
    const MeterPictureOptions options{700, 80, 1, "scope"};
    ASSERT_EQ(writeMeterPicture(path, reading, PeakLevels{-0.01, -3.0}, options, settings), "");
    const QImage image(QString::fromStdString(path));
    EXPECT_EQ(image.size(), QSize(700, 80));
    const QColor corner = image.pixelColor(2, 2);
    const QColor expected = BarTheme::scope().background.toQColor();
    EXPECT_NEAR(corner.red(), expected.red(), 1);
    EXPECT_NEAR(corner.blue(), expected.blue(), 1);
}

TEST_F(MeterPictureTest, RefusesUnknownThemesAndEmptySizesWritingNothing) {
    EXPECT_NE(writeMeterPicture(path, {}, std::nullopt, {900, 36, 2, "dark"}, settings).find("unknown theme"),
              std::string::npos);
    EXPECT_FALSE(writeMeterPicture(path, {}, std::nullopt, {0, 36, 2, std::nullopt}, settings).empty());
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace crestline
