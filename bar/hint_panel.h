// The hover explanation's panel: a bold title over a wrapped paragraph in a
// rounded box of the bar's hint colours, shown near the pointer. It is a
// frameless tool-tip window that never takes the keyboard or a click and
// stays above the pinned bar (a dock window), so hovering can go on through
// it. `hintPanelFrame` places it (pure, for tests); `HintPanel` shows it.
//
// Main thread only; needs a QApplication.
#pragma once

#include <QRectF>
#include <QWidget>
#include <optional>
#include <string>
#include <vector>

#include "bar/bar_theme.h"
#include "bar/hint.h"
#include "bar/live_font.h"

namespace crestline {

// The panel's frame in desktop points (y down) for a panel of `size` with
// the pointer at `pointer` on a screen whose visible frame is `visible`:
// 8 points right of the pointer and 12 below it, above it when it would
// come closer than 4 points to the visible bottom, and kept 4 points inside
// the visible frame horizontally.
QRectF hintPanelFrame(QPointF pointer, QSizeF size, const QRectF& visible);

// Text broken into lines of at most `maxWidth` points at spaces (a word
// longer than that stands alone on its line).
std::vector<std::string> wrapText(std::string_view text, const Font& font, double maxWidth);

class HintPanel final : public QWidget {
public:
    static constexpr double kMaxTextWidth = 250.0;
    static constexpr double kPaddingX = 8.0;
    static constexpr double kPaddingY = 6.0;
    static constexpr double kLineGap = 3.0;       // between title and body
    static constexpr double kLineSpacing = 1.0;  // between the body's lines
    static constexpr double kFontSize = 11.0;

    HintPanel();

    // Lays the texts out for `hint` in `theme`'s colours and sizes the panel.
    void configure(Hint hint, const BarTheme& theme);
    // Width: the wider text plus padding; height: title, gap and body,
    // truncated to whole points, plus padding.
    QSizeF fittingSize() const;
    // Configures, places near `pointer` within `visible` and shows without
    // taking the keyboard.
    void showHint(Hint hint, const BarTheme& theme, QPointF pointer, const QRectF& visible);
    std::optional<Hint> hint() const { return hint_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<Hint> hint_;
    BarTheme theme_;
    std::string title_;
    std::vector<std::string> body_;
    QSizeF titleSize_;
    QSizeF bodySize_;
};

}  // namespace crestline
