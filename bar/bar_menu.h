// The menus the bar pops up: a module's options (its gear or a right-click)
// and the add button's list of missing modules. The window owner builds them
// (`BarView::moduleMenu`, `BarView::addMenu`); the pointer code shows them at
// the zone they belong to and learns when they close.
//
// `plainModuleMenu` and `plainAddMenu` build plain Qt menus from the option
// rows: a row of choices becomes a submenu of checkable items (checked where
// selected), an action row one item, then "Delete". A Live-styled presenter
// implements the same interface.
//
// Main thread only; needs a QApplication.
#pragma once

#include <QPoint>
#include <functional>
#include <memory>
#include <vector>

#include "bar/bar_theme.h"
#include "settings/drawer.h"
#include "settings/module_options.h"

class QMenu;

namespace crestline {

class BarMenu {
public:
    virtual ~BarMenu() = default;
    // Shows the menu with its top left at `topLeft` (desktop points, y down)
    // in `theme`'s colours; `closed` runs once when it goes, chosen or not.
    virtual void popUp(QPoint topLeft, const BarTheme& theme, std::function<void()> closed) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
};

// A module's rows; "Delete" at the end runs `remove`.
std::unique_ptr<BarMenu> plainModuleMenu(const std::vector<DrawerControl>& rows, std::function<void()> remove);
// One item per module in `missing`, titled by the module; choosing one runs
// `add` with it.
std::unique_ptr<BarMenu> plainAddMenu(const std::vector<ColorArea>& missing, std::function<void(ColorArea)> add);

// The Qt menu behind a plain menu, for tests that walk its items.
QMenu* qtMenuOf(BarMenu& menu);

}  // namespace crestline
