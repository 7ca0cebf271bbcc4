#include "bar/bar_picture.h"

#include <QPainter>
#include <cmath>

#include "bar/bar_view.h"

namespace crestline {

QImage renderBar(BarView& view, Size points, double scale) {
    view.setBounds(points);
    view.setScale(scale);
    const int width = std::max(1, static_cast<int>(std::ceil(view.bounds().width * view.scale())));
    const int height = std::max(1, static_cast<int>(std::ceil(view.bounds().height * view.scale())));
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(view.scale());
    renderBar(view, image);
    return image;
}

void renderBar(BarView& view, QImage& image) {
    // Every frame starts by replacing the whole picture with the background.
    QPainter painter(&image);
    view.paint(painter);
}

}  // namespace crestline
