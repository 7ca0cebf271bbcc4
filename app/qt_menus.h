// The menus as Qt shows them: plain QMenus (for the tray, the floating
// window's menu bar, and module menus while the bar does not follow Live's
// theme), the main menu in a menu bar with its Ctrl shortcuts and enabled
// rules, the tray icon whose menu is built anew each time it opens, and the
// choice between a Live-styled and a plain menu for the module menus.
//
// Main thread only; needs a QApplication.
#pragma once

#include <QObject>
#include <QPoint>
#include <functional>
#include <memory>

#include "app/menus.h"
#include "bar/bar_menu.h"
#include "bar/bar_theme.h"

class QMenu;
class QMenuBar;
class QSystemTrayIcon;
class QWidget;

namespace crestline {

// Fills `menu` with the items: headings as disabled rows in a smaller font,
// check marks, swatches and module icons, badges in the shortcut column.
void fillQMenu(QMenu& menu, const Menu& items);

// What the enabled rules read when a menu of the menu bar opens.
struct MenuValidity {
    bool liveRunning = false;
    bool floating = false;
};

// The main menu in `bar`, its shortcuts active while the window is.
void fillMenuBar(QMenuBar& bar, const Menu& mainMenu, std::function<MenuValidity()> validity);

// A module or add menu at `global`: Live-styled when the theme follows
// Live (square corners), else a plain menu that deletes itself.
void popUpModuleMenu(Menu items, QPoint global, const BarTheme& theme, std::function<void()> onClose = {});

// `items` as a menu the bar's pointer code shows (see bar/bar_menu.h):
// Live-styled for a theme that follows Live, else a plain Qt menu.
std::unique_ptr<BarMenu> menuForBar(Menu items);

// The tray icon where the desktop has a tray; its menu comes from `build`
// each time it opens, after `willOpen`.
class TrayMenu final {
public:
    TrayMenu(std::function<Menu()> build, std::function<void()> willOpen);
    ~TrayMenu();
    // False when no tray host is running (then nothing is shown).
    bool show();
    QMenu& menu() { return *menu_; }
    bool visible() const;

private:
    std::function<Menu()> build_;
    std::function<void()> willOpen_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> icon_;
};

// The tray's icon: a small waveform drawn in one colour.
QIcon statusIcon();

}  // namespace crestline
