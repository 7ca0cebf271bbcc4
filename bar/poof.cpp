#include "bar/poof.h"

#include <QPainter>
#include <QVariantAnimation>
#include <QWidget>

namespace crestline {

namespace {

constexpr int kSizePoints = 48;
constexpr int kMilliseconds = 250;

class Poof final : public QWidget {
public:
    Poof()
        : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus |
                               Qt::WindowTransparentForInput | Qt::NoDropShadowWindowHint) {
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_DeleteOnClose);
        resize(kSizePoints, kSizePoints);
        auto* animation = new QVariantAnimation(this);
        animation->setStartValue(0.0);
        animation->setEndValue(1.0);
        animation->setDuration(kMilliseconds);
        connect(animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
            progress_ = value.toDouble();
            update();
        });
        connect(animation, &QVariantAnimation::finished, this, &QWidget::close);
        animation->start();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(rect(), Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        // Five overlapping puffs that swell as the whole fades.
        const double grow = 0.6 + 0.4 * progress_;
        const double alpha = 0.85 * (1.0 - progress_);
        const QPointF centre(width() / 2.0, height() / 2.0);
        constexpr QPointF kPuffs[] = {{0, 0}, {-9, -4}, {9, -5}, {-6, 7}, {7, 6}};
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor::fromRgbF(0.92f, 0.92f, 0.92f, static_cast<float>(alpha)));
        for (const QPointF& offset : kPuffs) {
            const double radius = (offset.isNull() ? 11.0 : 8.0) * grow;
            painter.drawEllipse(centre + offset * grow, radius, radius);
        }
    }

private:
    double progress_ = 0.0;
};

}  // namespace

void showPoof(QPoint at) {
    auto* poof = new Poof;
    poof->move(at - QPoint(kSizePoints / 2, kSizePoints / 2));
    poof->show();
}

}  // namespace crestline
