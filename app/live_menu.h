// A menu drawn in Live's look: one frameless popup panel per level in the
// colours of the bar's Live-following theme, rows of fixed metrics, submenus
// that open after the pointer rests 0.12 s on their row, the arrow keys,
// Return/Enter and Escape, and closing on any click outside its panels.
//
// At most one is open at a time (`LiveMenu::open()`); key forwarding to Live
// stays off while it is. The menu owns a copy of the items it shows; an item
// that keeps the menu open flips its check mark in place and the badges of
// its parents are counted again.
//
// Every pointer and key event of any of its panels goes through the menu by
// global position (Qt sends a popup stack's events to the topmost popup), so
// the panel under the pointer answers whichever panel received them.
//
// Main thread only; needs a QApplication.
#pragma once

#include <QColor>
#include <QPoint>
#include <QRectF>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/menus.h"
#include "bar/bar_theme.h"

class QPainter;
class QWidget;

namespace crestline {

struct LiveMenuColours {
    QColor background;
    QColor border;
    QColor text;
    QColor disabled;
    QColor highlight;
    QColor highlightText;
    QColor separator;

    // The menu's colours from the theme, with the fallbacks for what a
    // theme does not carry.
    static LiveMenuColours from(const BarTheme& theme);
};

class LiveMenuPanel;

class LiveMenu final {
public:
    static constexpr double kPadding = 4.0;
    static constexpr double kCheckColumn = 18.0;
    static constexpr double kImageColumn = 18.0;
    static constexpr double kRightPadding = 12.0;
    static constexpr double kMaxWidth = 300.0;
    static constexpr double kRowHeight = 18.0;
    static constexpr double kSeparatorHeight = 9.0;
    static constexpr int kSubmenuDelayMilliseconds = 120;

    struct Row {
        MenuItem* item = nullptr;  // in the menu's own copy
        std::string title;
        std::string detail;
        std::string shortcut;
        std::string badge;
        bool header = false;
        bool isNote = false;   // informational: shown, never chosen
        bool separator = false;
        QRectF frame;          // in the panel, points
        bool choosable() const { return !header && !isNote && !separator && item != nullptr && item->enabled; }
    };

    // Shows `menu` with its top left at `topLeft` (desktop points), kept on
    // the screen that holds that point; closes the menu open before.
    static LiveMenu& show(Menu menu, QPoint topLeft, const BarTheme& theme, std::function<void()> onClose = {});
    // The open menu, if any.
    static LiveMenu* open();

    ~LiveMenu();
    LiveMenu(const LiveMenu&) = delete;
    LiveMenu& operator=(const LiveMenu&) = delete;

    // Hides every panel and calls onClose; the menu is deleted soon after.
    void close();

    // ---- The walk, for keys and tests -----------------------------------
    int levels() const { return static_cast<int>(levels_.size()); }
    const std::vector<Row>& rows(int level) const { return levels_.at(static_cast<std::size_t>(level)).rows; }
    std::optional<int> highlighted(int level) const { return levels_.at(static_cast<std::size_t>(level)).highlighted; }
    QWidget* panel(int level) const;
    // Moves the deepest level's highlight one choosable row up (-1) or down.
    void step(int direction);
    void openHighlightedSubmenu();
    void chooseHighlighted();
    // The row of `level` at a point in that panel, if any.
    std::optional<int> rowAt(int level, QPointF point) const;
    // Qt's key codes: arrows, Return, Enter, Escape.
    void key(int qtKey);

    // ---- Events from the panels (global positions) -----------------------
    void pointerMoved(QPoint global);
    void pressed(QPoint global);
    void released(QPoint global);
    void panelHidden(const LiveMenuPanel* panel);
    void paint(const LiveMenuPanel* panel, QPainter& painter) const;

private:
    struct Level {
        Menu* menu = nullptr;  // points into menu_
        std::vector<Row> rows;
        std::optional<int> highlighted;
        QSizeF size;
        std::unique_ptr<LiveMenuPanel> panel;
        bool hasImages = false;
    };

    LiveMenu(Menu menu, const BarTheme& theme, std::function<void()> onClose);

    void build(Level& level) const;
    void openLevel(Menu& menu, QPoint topLeft, std::optional<QRect> parentPanel);
    void closeLevelsAbove(int level);
    void highlight(int level, std::optional<int> row);
    void choose(int level, int row);
    void recount();
    int levelAt(QPoint global) const;
    int levelOf(const LiveMenuPanel* panel) const;
    void openSubmenu(int level, int row);

    Menu menu_;
    LiveMenuColours colours_;
    std::function<void()> onClose_;
    std::vector<Level> levels_;
    QTimer submenuTimer_;
    std::optional<std::pair<int, int>> pendingSubmenu_;  // level, row
    bool closing_ = false;
    bool pressedInside_ = false;
};

}  // namespace crestline
