#include "app/module_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <numbers>

namespace crestline::ModuleIcon {

QImage image(ColorArea area, const QColor& colour, double scale) {
    if (!(scale > 0.0) || scale > 16.0) scale = 1.0;
    const int pixels = static_cast<int>(std::lround(kSize * scale));
    QImage picture(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    picture.setDevicePixelRatio(scale);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(colour, 1.3);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    const double s = kSize;
    switch (area) {
    case ColorArea::scope: {
        QPainterPath wave;
        for (int i = 0; i <= 28; ++i) {
            const double x = 1.5 + (s - 3.0) * i / 28.0;
            const double y = s / 2 - 5.0 * std::sin(2.0 * std::numbers::pi * 1.5 * i / 28.0);
            i == 0 ? wave.moveTo(x, y) : wave.lineTo(x, y);
        }
        p.drawPath(wave);
        break;
    }
    case ColorArea::spectrum: {
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        const double heights[] = {9, 12, 10, 7, 5, 3};
        for (int i = 0; i < 6; ++i) p.drawRect(QRectF(1.5 + i * 2.25, s - 2.0 - heights[i], 1.6, heights[i]));
        break;
    }
    case ColorArea::imager: {
        p.drawArc(QRectF(1.5, 3.0, s - 3.0, 2 * (s - 5.0)), 0, 180 * 16);
        for (double angle : {35.0, 70.0, 90.0, 110.0, 145.0}) {
            const double r = angle == 90.0 ? 9.0 : 5.5;
            const double a = angle * std::numbers::pi / 180.0;
            p.drawLine(QPointF(s / 2, s - 2.0), QPointF(s / 2 + r * std::cos(a), s - 2.0 - r * std::sin(a)));
        }
        break;
    }
    case ColorArea::history: {
        QPainterPath line;
        const double ys[] = {10, 8, 9, 6, 7, 4, 5};
        line.moveTo(1.5, s - 2.0);
        for (int i = 0; i < 7; ++i) line.lineTo(1.5 + i * (s - 3.0) / 6.0, s - 2.0 - ys[i]);
        line.lineTo(s - 1.5, s - 2.0);
        line.closeSubpath();
        QColor fill = colour;
        fill.setAlphaF(colour.alphaF() * 0.35);
        p.setBrush(fill);
        p.drawPath(line);
        break;
    }
    case ColorArea::spectrogram: {
        p.setPen(Qt::NoPen);
        const double shades[4][4] = {{0.2, 0.5, 0.9, 0.4}, {0.6, 1.0, 0.7, 0.3}, {0.9, 0.6, 0.4, 0.2}, {0.4, 0.3, 0.2, 0.1}};
        for (int row = 0; row < 4; ++row) {
            for (int column = 0; column < 4; ++column) {
                QColor cell = colour;
                cell.setAlphaF(colour.alphaF() * shades[row][column]);
                p.setBrush(cell);
                p.drawRect(QRectF(1.5 + column * 3.4, 1.5 + row * 3.4, 3.0, 3.0));
            }
        }
        break;
    }
    case ColorArea::meter: {
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        const double heights[] = {10, 12, 7};
        for (int i = 0; i < 3; ++i) p.drawRect(QRectF(3.0 + i * 4.0, s - 2.0 - heights[i], 2.4, heights[i]));
        QColor track = colour;
        track.setAlphaF(colour.alphaF() * 0.3);
        p.setBrush(track);
        for (int i = 0; i < 3; ++i) p.drawRect(QRectF(3.0 + i * 4.0, 2.0, 2.4, s - 4.0 - heights[i]));
        break;
    }
    }
    return picture;
}

}  // namespace crestline::ModuleIcon
