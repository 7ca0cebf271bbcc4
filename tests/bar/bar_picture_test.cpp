#include "bar/meter_picture.h"

#include <QImage>

#include "tests/bar/bar_fixture.h"

namespace crestline {
namespace {

using testing::BarFixture;

class MeterPictureTest : public BarFixture {
protected:
    std::string file(const char* name) const {
        const char* root = std::getenv("XDG_CACHE_HOME");
        return (std::filesystem::path(root != nullptr ? root : "/tmp") / name).string();
    }
};

TEST_F(MeterPictureTest, WritesThePresetAndTheReadingsAtTheAskedSize) {
    LoudnessReading reading;
    reading.integrated = -14.0;
    MeterPictureOptions options;
    options.width = 700;
    options.height = 80;
    options.scale = 1;
    options.theme = "scope";
    const std::string path = file("scope.png");
    ASSERT_EQ(writeMeterPicture(path, reading, PeakLevels{-0.01, -3.0}, options, settings), "");
    QImage image(QString::fromStdString(path));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(700, 80));
    const QColor corner = image.pixelColor(2, 2);
    const QColor expected = BarTheme::scope().background.toQColor();
    EXPECT_NEAR(corner.red(), expected.red(), 1);
    EXPECT_NEAR(corner.blue(), expected.blue(), 1);
}

TEST_F(MeterPictureTest, RefusesUnknownThemesAndEmptySizes) {
    MeterPictureOptions options;
    options.theme = "dark";
    EXPECT_NE(writeMeterPicture(file("x.png"), {}, std::nullopt, options, settings).find("unknown theme"),
              std::string::npos);
    options.theme.reset();
    options.width = 0;
    EXPECT_FALSE(writeMeterPicture(file("x.png"), {}, std::nullopt, options, settings).empty());
    EXPECT_FALSE(std::filesystem::exists(file("x.png")));
}

}  // namespace
}  // namespace crestline
