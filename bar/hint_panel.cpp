#include "bar/hint_panel.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace crestline {

namespace {

constexpr double kCornerRadius = 4.0;
constexpr double kPointerGapX = 8.0;
constexpr double kPointerGapY = 12.0;
constexpr double kScreenMargin = 4.0;

const Font& titleFont() {
    static const Font font = LiveFont::toolbar(HintPanel::kFontSize, true);
    return font;
}

const Font& bodyFont() {
    static const Font font = LiveFont::toolbar(HintPanel::kFontSize, false);
    return font;
}

}  // namespace

QRectF hintPanelFrame(QPointF pointer, QSizeF size, const QRectF& visible) {
    double x = std::max(pointer.x() + kPointerGapX, visible.left() + kScreenMargin);
    x = std::min(x, visible.right() - size.width() - kScreenMargin);
    double y = pointer.y() + kPointerGapY;
    if (y + size.height() > visible.bottom() - kScreenMargin) y = pointer.y() - kPointerGapY - size.height();
    return {x, y, size.width(), size.height()};
}

std::vector<std::string> wrapText(std::string_view text, const Font& font, double maxWidth) {
    std::vector<std::string> lines;
    std::string line;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(' ', start), text.size());
        const std::string_view word = text.substr(start, end - start);
        if (!word.empty()) {
            std::string candidate = line.empty() ? std::string(word) : line + " " + std::string(word);
            if (!line.empty() && font.width(candidate) > maxWidth) {
                lines.push_back(std::move(line));
                line = std::string(word);
            } else {
                line = std::move(candidate);
            }
        }
        start = end + 1;
    }
    if (!line.empty()) lines.push_back(std::move(line));
    return lines;
}

HintPanel::HintPanel()
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus |
                           Qt::WindowTransparentForInput | Qt::NoDropShadowWindowHint) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
}

void HintPanel::configure(Hint hint, const BarTheme& theme) {
    hint_ = hint;
    theme_ = theme;
    title_ = std::string(hintTitle(hint));
    // Titles are a few words: one line, at most the text width.
    titleSize_ = {std::min(titleFont().width(title_), kMaxTextWidth), titleFont().lineHeight()};

    body_ = wrapText(hintBody(hint), bodyFont(), kMaxTextWidth);
    double bodyWidth = 0.0;
    for (const auto& line : body_) bodyWidth = std::max(bodyWidth, bodyFont().width(line));
    const double lines = static_cast<double>(body_.size());
    const double bodyHeight = lines > 0 ? lines * bodyFont().lineHeight() + (lines - 1.0) * kLineSpacing : 0.0;
    bodySize_ = {bodyWidth, bodyHeight};
    update();
}

QSizeF HintPanel::fittingSize() const {
    const double width = std::ceil(std::max(titleSize_.width(), bodySize_.width())) + 2.0 * kPaddingX;
    const double height = std::trunc(titleSize_.height() + kLineGap + bodySize_.height()) + 2.0 * kPaddingY;
    return {width, height};
}

void HintPanel::showHint(Hint hint, const BarTheme& theme, QPointF pointer, const QRectF& visible) {
    configure(hint, theme);
    const QRectF frame = hintPanelFrame(pointer, fittingSize(), visible);
    setGeometry(QRect(static_cast<int>(std::lround(frame.x())), static_cast<int>(std::lround(frame.y())),
                      static_cast<int>(std::ceil(frame.width())), static_cast<int>(std::ceil(frame.height()))));
    show();
}

void HintPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);

    QPainterPath box;
    box.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kCornerRadius, kCornerRadius);
    painter.fillPath(box, theme_.hintBackground.toQColor());
    painter.setPen(QPen(theme_.hintBorder.toQColor(), 1.0));
    painter.drawPath(box);

    const QColor text = theme_.hintText.toQColor();
    titleFont().draw(painter, {kPaddingX, kPaddingY + titleFont().ascent()}, title_, text);
    double top = kPaddingY + titleSize_.height() + kLineGap;
    for (const auto& line : body_) {
        bodyFont().draw(painter, {kPaddingX, top + bodyFont().ascent()}, line, text);
        top += bodyFont().lineHeight() + kLineSpacing;
    }
}

}  // namespace crestline
