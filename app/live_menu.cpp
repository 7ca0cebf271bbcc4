#include "app/live_menu.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QToolTip>
#include <QWidget>
#include <algorithm>

#include "app/module_icon.h"
#include "bar/live_font.h"

namespace crestline {

namespace {

LiveMenu* g_open = nullptr;

QColor withAlpha(const Colour& colour, double alpha) {
    QColor c = colour.toQColor();
    c.setAlphaF(static_cast<float>(alpha));
    return c;
}

Font titleFont() { return LiveFont::toolbar(11.0, true); }
Font detailFont() { return LiveFont::toolbar(10.0, true); }

// `text` cut with an ellipsis to fit `width` points.
std::string elided(const Font& font, const std::string& text, double width) {
    if (font.width(text) <= width) return text;
    std::string cut = text;
    while (!cut.empty()) {
        // Step back over a whole UTF-8 character.
        do cut.pop_back();
        while (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0xC0) == 0x80);
        if (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0x80) != 0) cut.pop_back();
        if (font.width(cut + "…") <= width) return cut + "…";
    }
    return "…";
}

std::string shortcutText(const std::string& portable) {
    if (portable.empty()) return {};
    return QKeySequence(QString::fromStdString(portable)).toString(QKeySequence::NativeText).toStdString();
}

}  // namespace

// One level's window: a frameless popup that hands all its events to the
// menu.
class LiveMenuPanel final : public QWidget {
public:
    explicit LiveMenuPanel(LiveMenu& owner) : QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint), owner_(owner) {
        setAttribute(Qt::WA_TranslucentBackground);
        setMouseTracking(true);
        setFocusPolicy(Qt::StrongFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        owner_.paint(this, painter);
    }
    void mouseMoveEvent(QMouseEvent* event) override { owner_.pointerMoved(event->globalPosition().toPoint()); }
    void mousePressEvent(QMouseEvent* event) override { owner_.pressed(event->globalPosition().toPoint()); }
    void mouseReleaseEvent(QMouseEvent* event) override { owner_.released(event->globalPosition().toPoint()); }
    void keyPressEvent(QKeyEvent* event) override { owner_.key(event->key()); }
    void hideEvent(QHideEvent*) override { owner_.panelHidden(this); }

private:
    LiveMenu& owner_;
};

LiveMenuColours LiveMenuColours::from(const BarTheme& theme) {
    LiveMenuColours c;
    c.background = theme.hintBackground.toQColor();
    c.border = theme.hintBorder.toQColor();
    c.text = theme.hintText.toQColor();
    c.disabled = theme.menuDisabledText ? theme.menuDisabledText->toQColor() : withAlpha(theme.hintText, 0.5);
    c.highlight = theme.menuHighlight ? theme.menuHighlight->toQColor() : withAlpha(theme.hintText, 0.16);
    c.highlightText = theme.menuHighlightText ? theme.menuHighlightText->toQColor() : theme.hintText.toQColor();
    c.separator = withAlpha(theme.hintText, 0.22);
    return c;
}

LiveMenu& LiveMenu::show(Menu menu, QPoint topLeft, const BarTheme& theme, std::function<void()> onClose) {
    if (g_open != nullptr) g_open->close();
    auto* created = new LiveMenu(std::move(menu), theme, std::move(onClose));
    g_open = created;
    created->openLevel(created->menu_, topLeft, std::nullopt);
    return *created;
}

LiveMenu* LiveMenu::open() { return g_open; }

LiveMenu::LiveMenu(Menu menu, const BarTheme& theme, std::function<void()> onClose)
    : menu_(std::move(menu)), colours_(LiveMenuColours::from(theme)), onClose_(std::move(onClose)) {
    submenuTimer_.setSingleShot(true);
    submenuTimer_.setInterval(kSubmenuDelayMilliseconds);
    QObject::connect(&submenuTimer_, &QTimer::timeout, [this] {
        if (pendingSubmenu_) openSubmenu(pendingSubmenu_->first, pendingSubmenu_->second);
        pendingSubmenu_.reset();
    });
}

LiveMenu::~LiveMenu() {
    closing_ = true;
    if (g_open == this) g_open = nullptr;
}

QWidget* LiveMenu::panel(int level) const { return levels_.at(static_cast<std::size_t>(level)).panel.get(); }

void LiveMenu::build(Level& level) const {
    const Font title = titleFont();
    const Font detail = detailFont();
    level.rows.clear();
    level.hasImages = std::any_of(level.menu->begin(), level.menu->end(),
                                  [](const MenuItem& item) { return item.swatch || item.icon; });
    double y = kPadding;
    double titleWidth = 0.0;
    double rightWidth = 0.0;
    bool anySubmenu = false;
    for (MenuItem& item : *level.menu) {
        Row row;
        row.item = &item;
        row.title = item.title;
        row.detail = item.detail;
        row.shortcut = shortcutText(item.shortcut);
        row.badge = item.badge;
        row.separator = item.kind == MenuItem::Kind::separator;
        row.header = item.kind == MenuItem::Kind::heading;
        row.isNote = !row.separator && !row.header && !item.enabled && !item.hasSubmenu();
        const double height = row.separator ? kSeparatorHeight : kRowHeight;
        row.frame = QRectF(0.0, y, 0.0, height);
        y += height;
        if (!row.separator) {
            titleWidth = std::max(titleWidth, (row.header ? detail : title).width(row.title));
            const std::string& right = row.badge.empty() ? row.shortcut : row.badge;
            if (!right.empty()) rightWidth = std::max(rightWidth, detail.width(right));
            anySubmenu = anySubmenu || item.hasSubmenu();
        }
        level.rows.push_back(std::move(row));
    }
    const double left = kPadding + kCheckColumn + (level.hasImages ? kImageColumn : 0.0);
    double width = left + titleWidth + (rightWidth > 0.0 ? 16.0 + rightWidth : 0.0) + (anySubmenu ? 12.0 : 0.0) +
                   kRightPadding;
    width = std::clamp(std::ceil(width), 80.0, kMaxWidth);
    for (Row& row : level.rows) row.frame.setWidth(width);
    level.size = QSizeF(width, y + kPadding);
}

void LiveMenu::openLevel(Menu& menu, QPoint topLeft, std::optional<QRect> parentPanel) {
    Level level;
    level.menu = &menu;
    build(level);
    const QSize size(static_cast<int>(std::ceil(level.size.width())), static_cast<int>(std::ceil(level.size.height())));
    QScreen* screen = QGuiApplication::screenAt(topLeft);
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    const QRect visible = screen != nullptr ? screen->availableGeometry() : QRect(topLeft, size);
    QPoint at = topLeft;
    if (parentPanel && at.x() + size.width() > visible.right() + 1) at.setX(parentPanel->left() - size.width() + 1);
    at.setX(std::clamp(at.x(), visible.left(), std::max(visible.left(), visible.right() + 1 - size.width())));
    at.setY(std::clamp(at.y(), visible.top(), std::max(visible.top(), visible.bottom() + 1 - size.height())));
    level.panel = std::make_unique<LiveMenuPanel>(*this);
    level.panel->setGeometry(QRect(at, size));
    LiveMenuPanel* shown = level.panel.get();
    levels_.push_back(std::move(level));
    shown->show();
    shown->setFocus();
}

void LiveMenu::closeLevelsAbove(int level) {
    while (static_cast<int>(levels_.size()) > level + 1) {
        std::unique_ptr<LiveMenuPanel> panel = std::move(levels_.back().panel);
        levels_.pop_back();
        panel->hide();
        panel.release()->deleteLater();
    }
    if (level >= 0 && level < levels()) levels_[static_cast<std::size_t>(level)].panel->setFocus();
}

void LiveMenu::close() {
    if (closing_) return;
    closing_ = true;
    submenuTimer_.stop();
    QToolTip::hideText();
    for (Level& level : levels_) {
        level.panel->hide();
        level.panel.release()->deleteLater();
    }
    levels_.clear();
    if (g_open == this) g_open = nullptr;
    auto onClose = std::move(onClose_);
    // The caller may be one of our own event handlers: delete once it returns.
    QMetaObject::invokeMethod(qApp, [this] { delete this; }, Qt::QueuedConnection);
    if (onClose) onClose();
}

void LiveMenu::highlight(int level, std::optional<int> row) {
    Level& target = levels_.at(static_cast<std::size_t>(level));
    if (target.highlighted == row) return;
    target.highlighted = row;
    target.panel->update();
    if (row && !target.rows[static_cast<std::size_t>(*row)].detail.empty()) {
        const QRectF frame = target.rows[static_cast<std::size_t>(*row)].frame;
        QToolTip::showText(target.panel->mapToGlobal(frame.topRight().toPoint()),
                           QString::fromStdString(target.rows[static_cast<std::size_t>(*row)].detail), target.panel.get());
    } else {
        QToolTip::hideText();
    }
}

void LiveMenu::step(int direction) {
    if (levels_.empty()) return;
    const int level = levels() - 1;
    const auto& rows = levels_.back().rows;
    const int count = static_cast<int>(rows.size());
    int at = highlighted(level).value_or(direction > 0 ? -1 : count);
    for (int tries = 0; tries < count; ++tries) {
        at += direction > 0 ? 1 : -1;
        if (at < 0 || at >= count) return;  // stays at the end, as menus do
        if (rows[static_cast<std::size_t>(at)].choosable()) {
            highlight(level, at);
            return;
        }
    }
}

void LiveMenu::openSubmenu(int level, int row) {
    if (level >= levels() || closing_) return;
    Level& parent = levels_[static_cast<std::size_t>(level)];
    if (row < 0 || row >= static_cast<int>(parent.rows.size())) return;
    const Row& r = parent.rows[static_cast<std::size_t>(row)];
    if (!r.choosable() || !r.item->hasSubmenu()) return;
    closeLevelsAbove(level);
    const QRect panel = parent.panel->geometry();
    // One point inside the parent's right edge, level with the row.
    const QPoint topLeft(panel.right(), panel.top() + static_cast<int>(r.frame.top()));
    openLevel(r.item->submenu, topLeft, panel);
}

void LiveMenu::openHighlightedSubmenu() {
    if (levels_.empty()) return;
    const int level = levels() - 1;
    const auto row = highlighted(level);
    if (!row) return;
    openSubmenu(level, *row);
    if (levels() > level + 1) step(1);
}

void LiveMenu::chooseHighlighted() {
    if (levels_.empty()) return;
    const int level = levels() - 1;
    if (const auto row = highlighted(level)) choose(level, *row);
}

void LiveMenu::choose(int level, int row) {
    Level& target = levels_.at(static_cast<std::size_t>(level));
    const Row& r = target.rows.at(static_cast<std::size_t>(row));
    if (!r.choosable()) return;
    MenuItem* item = r.item;
    if (item->hasSubmenu()) {
        openSubmenu(level, row);
        if (levels() > level + 1) step(1);
        return;
    }
    if (item->keepsMenuOpen) {
        if (item->action) item->action();
        item->checked = !item->checked;
        recount();
        target.panel->update();
        return;
    }
    auto action = item->action;
    close();
    if (action) action();
}

void LiveMenu::recount() {
    for (Level& level : levels_) {
        for (Row& row : level.rows) {
            if (row.badge.empty() || row.item == nullptr || !row.item->hasSubmenu()) continue;
            int chosen = 0, total = 0;
            for (const MenuItem& sub : row.item->submenu) {
                if (sub.kind != MenuItem::Kind::action) continue;
                ++total;
                chosen += sub.checked ? 1 : 0;
            }
            row.badge = std::to_string(chosen) + " of " + std::to_string(total);
            row.item->badge = row.badge;
        }
        level.panel->update();
    }
}

std::optional<int> LiveMenu::rowAt(int level, QPointF point) const {
    const auto& rows = levels_.at(static_cast<std::size_t>(level)).rows;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].frame.contains(point)) return static_cast<int>(i);
    return std::nullopt;
}

int LiveMenu::levelAt(QPoint global) const {
    for (int i = levels() - 1; i >= 0; --i)
        if (levels_[static_cast<std::size_t>(i)].panel->geometry().contains(global)) return i;
    return -1;
}

int LiveMenu::levelOf(const LiveMenuPanel* panel) const {
    for (int i = 0; i < levels(); ++i)
        if (levels_[static_cast<std::size_t>(i)].panel.get() == panel) return i;
    return -1;
}

void LiveMenu::key(int qtKey) {
    switch (qtKey) {
    case Qt::Key_Up: step(-1); break;
    case Qt::Key_Down: step(1); break;
    case Qt::Key_Right: openHighlightedSubmenu(); break;
    case Qt::Key_Left:
        if (levels() > 1) closeLevelsAbove(levels() - 2);
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter: chooseHighlighted(); break;
    case Qt::Key_Escape: close(); break;
    default: break;
    }
}

void LiveMenu::pointerMoved(QPoint global) {
    const int level = levelAt(global);
    if (level < 0) return;
    const QWidget* panel = levels_[static_cast<std::size_t>(level)].panel.get();
    const auto row = rowAt(level, panel->mapFromGlobal(global));
    const bool choosable = row && rows(level)[static_cast<std::size_t>(*row)].choosable();
    if (highlighted(level) == (choosable ? row : std::nullopt)) return;
    highlight(level, choosable ? row : std::nullopt);
    // Another row of this level: its deeper submenus go.
    closeLevelsAbove(level);
    submenuTimer_.stop();
    pendingSubmenu_.reset();
    if (choosable && rows(level)[static_cast<std::size_t>(*row)].item->hasSubmenu()) {
        pendingSubmenu_ = std::make_pair(level, *row);
        submenuTimer_.start();
    }
}

void LiveMenu::pressed(QPoint global) {
    pressedInside_ = levelAt(global) >= 0;
    if (!pressedInside_) close();
}

void LiveMenu::released(QPoint global) {
    if (!pressedInside_) return;
    pressedInside_ = false;
    const int level = levelAt(global);
    if (level < 0) return;
    const auto row = rowAt(level, levels_[static_cast<std::size_t>(level)].panel->mapFromGlobal(global));
    if (row) choose(level, *row);
}

void LiveMenu::panelHidden(const LiveMenuPanel* panel) {
    // Qt hides a popup on its own (a click outside, the window losing the
    // desktop's focus): the whole menu goes then.
    if (closing_) return;
    if (levelOf(panel) >= 0) close();
}

void LiveMenu::paint(const LiveMenuPanel* panel, QPainter& painter) const {
    const int index = levelOf(panel);
    if (index < 0) return;
    const Level& level = levels_[static_cast<std::size_t>(index)];
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds(0.5, 0.5, level.size.width() - 1.0, level.size.height() - 1.0);
    painter.setPen(QPen(colours_.border, 1.0));
    painter.setBrush(colours_.background);
    painter.drawRect(bounds);

    const Font title = titleFont();
    const Font detail = detailFont();
    const double left = kPadding + kCheckColumn + (level.hasImages ? kImageColumn : 0.0);
    for (std::size_t i = 0; i < level.rows.size(); ++i) {
        const Row& row = level.rows[i];
        const QRectF frame = row.frame;
        if (row.separator) {
            painter.setPen(QPen(colours_.separator, 1.0));
            const double y = std::floor(frame.center().y()) + 0.5;
            painter.drawLine(QPointF(kPadding + 1.0, y), QPointF(frame.right() - kPadding - 1.0, y));
            continue;
        }
        const bool lit = level.highlighted == static_cast<int>(i);
        if (lit) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(colours_.highlight);
            painter.drawRect(QRectF(1.0, frame.top(), frame.width() - 2.0, frame.height()));
        }
        const QColor text = row.choosable() ? (lit ? colours_.highlightText : colours_.text) : colours_.disabled;
        const Font& font = row.header ? detail : title;
        const double baseline = frame.top() + (frame.height() + font.ascent() - font.descent()) / 2.0;
        const MenuItem& item = *row.item;

        if (item.checked) {
            QPainterPath tick;
            const double x = kPadding + 4.0, y = frame.center().y();
            tick.moveTo(x, y);
            tick.lineTo(x + 3.0, y + 3.0);
            tick.lineTo(x + 9.0, y - 4.0);
            painter.setPen(QPen(text, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter.setBrush(Qt::NoBrush);
            painter.drawPath(tick);
        }
        if (level.hasImages) {
            const QRectF image(kPadding + kCheckColumn, frame.center().y() - 6.0, 12.0, 12.0);
            if (item.swatch) {
                const Rgb& rgb = *item.swatch;
                painter.setPen(QPen(colours_.separator, 1.0));
                painter.setBrush(QColor::fromRgbF(static_cast<float>(rgb[0]), static_cast<float>(rgb[1]),
                                                  static_cast<float>(rgb[2])));
                painter.drawRoundedRect(image.adjusted(0.5, 0.5, -0.5, -0.5), 2.0, 2.0);
            } else if (item.icon) {
                const QImage icon = ModuleIcon::image(*item.icon, text, painter.device()->devicePixelRatioF());
                painter.drawImage(QRectF(kPadding + kCheckColumn - 2.0, frame.center().y() - 8.0, 16.0, 16.0), icon);
            }
        }
        double right = frame.right() - kRightPadding;
        if (item.hasSubmenu()) {
            QPainterPath arrow;
            arrow.moveTo(right - 4.0, frame.center().y() - 4.0);
            arrow.lineTo(right, frame.center().y());
            arrow.lineTo(right - 4.0, frame.center().y() + 4.0);
            arrow.closeSubpath();
            painter.setPen(Qt::NoPen);
            painter.setBrush(text);
            painter.drawPath(arrow);
            right -= 12.0;
        }
        const std::string& side = row.badge.empty() ? row.shortcut : row.badge;
        if (!side.empty()) {
            const double width = detail.width(side);
            detail.draw(painter, QPointF(right - width, baseline), side, lit ? text : colours_.disabled);
            right -= width + 16.0;
        }
        const double indent = row.header ? kPadding + 4.0 : left;
        font.draw(painter, QPointF(indent, baseline), elided(font, row.title, std::max(0.0, right - indent)), text);
    }
}

}  // namespace crestline
