#include "bar/canvas.h"

#include <gtest/gtest.h>

#include <QPainter>

#include "bar/text_cache.h"
#include "tests/bar/gui_support.h"

namespace crestline {
namespace {

class CanvasTest : public ::testing::Test {
protected:
    void SetUp() override { testing::guiApplication(); }

    // A picture of `height` points at scale 2, black, drawn into by `draw`.
    template <typename Draw>
    QImage picture(double width, double height, Draw draw) {
        QImage image(static_cast<int>(width * 2), static_cast<int>(height * 2), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(2.0);
        image.fill(Qt::black);
        QPainter painter(&image);
        Canvas canvas(painter, height, 2.0, texts);
        draw(canvas);
        return image;
    }

    static int maximumDifference(const QImage& a, const QImage& b) {
        int worst = 0;
        for (int y = 0; y < a.height(); ++y) {
            for (int x = 0; x < a.width(); ++x) {
                const QRgb p = a.pixel(x, y);
                const QRgb q = b.pixel(x, y);
                worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                  std::abs(qBlue(p) - qBlue(q))});
            }
        }
        return worst;
    }

    TextCache texts;
};

TEST_F(CanvasTest, DrawsUprightWithYGrowingUpwards) {
    TextCache cache;
    QImage image(200, 40, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2.0);
    image.fill(Qt::black);
    {
        QPainter painter(&image);
        Canvas canvas(painter, 20.0, 2.0, cache);
        // A rectangle at the bottom of the drawing lands in the image's
        // last rows.
        canvas.fill(Rect{0, 0, 10, 2}, Colour::white());
        canvas.drawText("T", LiveFont::toolbar(10), Colour::white(), Point{50, 5});
    }
    EXPECT_EQ(QColor(image.pixel(5, 39)), QColor(Qt::white));
    EXPECT_EQ(QColor(image.pixel(5, 0)), QColor(Qt::black));
    // The bar of the T is near the top of its box, i.e. above its stem's foot.
    int topRow = -1;
    int bottomRow = -1;
    for (int y = 0; y < 40; ++y) {
        for (int x = 100; x < 130; ++x) {
            if (qRed(image.pixel(x, y)) > 128) {
                if (topRow < 0) topRow = y;
                bottomRow = y;
            }
        }
    }
    ASSERT_GE(topRow, 0);
    int topWidth = 0;
    int bottomWidth = 0;
    for (int x = 100; x < 130; ++x) {
        topWidth += qRed(image.pixel(x, topRow)) > 128;
        bottomWidth += qRed(image.pixel(x, bottomRow)) > 128;
    }
    EXPECT_GT(topWidth, bottomWidth);
}

TEST_F(CanvasTest, TallFillsInBandsLeaveNoSeams) {
    // Translucent fills show any row drawn twice or missed.
    const Colour colour{1.0, 1.0, 1.0, 0.4};
    const QImage banded = picture(20, 200, [&](Canvas& c) { c.fill(Rect{2.3, 3.7, 5.5, 190.1}, colour); });
    QImage whole(banded.size(), QImage::Format_ARGB32_Premultiplied);
    whole.setDevicePixelRatio(2.0);
    whole.fill(Qt::black);
    {
        QPainter painter(&whole);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(0, 200);
        painter.scale(1, -1);
        painter.fillRect(QRectF(2.3, 3.7, 5.5, 190.1), colour.toQColor());
    }
    EXPECT_LE(maximumDifference(banded, whole), 1);
}

TEST_F(CanvasTest, RoundedRectanglesDrawTheSameInPieces) {
    const Colour colour{0.2, 0.8, 0.4, 0.55};
    for (double height : {10.0, 40.0, 150.0}) {
        const Rect r{3.0, 4.25, 26.0, height};
        const QImage pieces = picture(40, height + 10, [&](Canvas& c) { c.fillRoundedRect(r, 3.0, colour); });
        const QImage path = picture(40, height + 10, [&](Canvas& c) {
            c.painter().fillPath(Path::roundedRect(r, 3.0).qt(), colour.toQColor());
        });
        EXPECT_LE(maximumDifference(pieces, path), 2) << height;
    }
}

// Strokes are compared on a rounded outline (the bar's border and module
// outlines): Qt draws thin polyline strokes segment by segment without a
// clip, ignoring sharp joins, and as one outline with it.
TEST_F(CanvasTest, TallPathsAndStrokesAreBandedWithoutChangingThePicture) {
    Path wave;
    wave.moveTo({2, 2});
    for (int i = 1; i <= 20; ++i) wave.lineTo({2.0 + (i % 2) * 12.0, 2.0 + i * 9.0});
    wave.lineTo({30, 182}).lineTo({30, 2}).close();
    const Path border = Path::roundedRect(Rect{1.5, 1.5, 35, 185}, 6.5);
    const QImage banded = picture(40, 190, [&](Canvas& c) {
        c.fill(wave, Colour::white(0.5));
        c.stroke(border, Colour{1, 0, 0, 0.5}, 1.0);
    });
    const QImage direct = picture(40, 190, [&](Canvas& c) {
        c.painter().fillPath(wave.qt(), Colour::white(0.5).toQColor());
        c.painter().strokePath(border.qt(), QPen(Colour{1, 0, 0, 0.5}.toQColor(), 1.0, Qt::SolidLine, Qt::FlatCap,
                                                 Qt::MiterJoin));
    });
    EXPECT_LE(maximumDifference(banded, direct), 2);
}

}  // namespace
}  // namespace crestline
