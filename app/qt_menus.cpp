#include "app/qt_menus.h"

#include <QAction>
#include <QIcon>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPointer>
#include <QSystemTrayIcon>
#include <cmath>
#include <utility>

#include "app/live_menu.h"
#include "app/module_icon.h"

namespace crestline {
namespace {

QIcon swatchIcon(const Rgb& rgb) {
    QPixmap pixmap(24, 24);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 0, 0, 70), 1.0));
    p.setBrush(QColor::fromRgbF(static_cast<float>(rgb[0]), static_cast<float>(rgb[1]), static_cast<float>(rgb[2])));
    p.drawRoundedRect(QRectF(4.5, 4.5, 15.0, 15.0), 3.0, 3.0);
    return QIcon(pixmap);
}

void addItem(QMenu& menu, const MenuItem& item) {
    switch (item.kind) {
    case MenuItem::Kind::separator: menu.addSeparator(); return;
    case MenuItem::Kind::heading: {
        QAction* heading = menu.addAction(QString::fromStdString(item.title));
        heading->setEnabled(false);
        QFont small = heading->font();
        small.setPointSizeF(small.pointSizeF() > 0 ? small.pointSizeF() * 0.85 : 9.0);
        heading->setFont(small);
        return;
    }
    case MenuItem::Kind::action: break;
    }
    QString title = QString::fromStdString(item.title);
    QAction* action = nullptr;
    if (item.hasSubmenu()) {
        QMenu* sub = menu.addMenu(title);
        sub->setToolTipsVisible(true);
        fillQMenu(*sub, item.submenu);
        action = sub->menuAction();
        // The badge reads beside the title: a submenu item has no shortcut column.
        if (!item.badge.empty()) action->setText(title + QStringLiteral("  (") + QString::fromStdString(item.badge) + ')');
    } else {
        if (!item.badge.empty()) title += '\t' + QString::fromStdString(item.badge);
        action = menu.addAction(title);
        if (auto run = item.action) QObject::connect(action, &QAction::triggered, action, [run] { run(); });
        if (!item.shortcut.empty()) {
            action->setShortcut(QKeySequence(QString::fromStdString(item.shortcut)));
            action->setShortcutContext(Qt::WindowShortcut);
        }
    }
    action->setEnabled(item.enabled);
    if (item.checked) {
        action->setCheckable(true);
        action->setChecked(true);
    }
    if (item.swatch) action->setIcon(swatchIcon(*item.swatch));
    if (item.icon) action->setIcon(QIcon(QPixmap::fromImage(ModuleIcon::image(*item.icon, menu.palette().text().color(), 2.0))));
    if (!item.detail.empty()) action->setToolTip(QString::fromStdString(item.detail));
    action->setData(static_cast<int>(item.role));
}

void applyValidity(QMenu& menu, const MenuValidity& validity) {
    for (QAction* action : menu.actions()) {
        const auto role = static_cast<MenuRole>(action->data().toInt());
        if (role != MenuRole::none) action->setEnabled(menuItemEnabled(role, validity.liveRunning, validity.floating));
        if (QMenu* sub = action->menu()) applyValidity(*sub, validity);
    }
}

}  // namespace

void fillQMenu(QMenu& menu, const Menu& items) {
    menu.setToolTipsVisible(true);
    for (const MenuItem& item : items) addItem(menu, item);
}

void fillMenuBar(QMenuBar& bar, const Menu& mainMenu, std::function<MenuValidity()> validity) {
    bar.clear();
    for (const MenuItem& top : mainMenu) {
        QMenu* menu = bar.addMenu(QString::fromStdString(top.title));
        fillQMenu(*menu, top.submenu);
        QObject::connect(menu, &QMenu::aboutToShow, menu, [menu, validity] {
            if (validity) applyValidity(*menu, validity());
        });
        // Shortcuts work while the menu is closed too: the rules apply at once.
        if (validity) applyValidity(*menu, validity());
    }
}

void popUpModuleMenu(Menu items, QPoint global, const BarTheme& theme, std::function<void()> onClose) {
    if (theme.squared) {
        LiveMenu::show(std::move(items), global, theme, std::move(onClose));
        return;
    }
    auto* menu = new QMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    fillQMenu(*menu, items);
    if (onClose) QObject::connect(menu, &QMenu::aboutToHide, menu, [onClose] { onClose(); });
    menu->popup(global);
}

namespace {

class ServicesBarMenu final : public BarMenu {
public:
    explicit ServicesBarMenu(Menu items) : items_(std::move(items)) {}
    ~ServicesBarMenu() override {
        // Going away is no closing the owner should hear of (it is the one
        // dropping us).
        if (done_) *done_ = nullptr;
        close();
    }

    void popUp(QPoint topLeft, const BarTheme& theme, std::function<void()> closed) override {
        close();
        done_ = std::make_shared<std::function<void()>>(std::move(closed));
        const auto once = [done = done_] {
            if (auto f = std::exchange(*done, nullptr)) f();
        };
        if (theme.squared) {
            live_ = &LiveMenu::show(items_, topLeft, theme, [this, once] {
                live_ = nullptr;
                once();
            });
            return;
        }
        // Deleted by Qt once closed: the owner may drop this menu from
        // inside the closing signal.
        plain_ = new QMenu();
        plain_->setAttribute(Qt::WA_DeleteOnClose);
        fillQMenu(*plain_, items_);
        QObject::connect(plain_.data(), &QMenu::aboutToHide, plain_.data(), once);
        plain_->popup(topLeft);
    }
    void close() override {
        if (live_ != nullptr && LiveMenu::open() == live_) live_->close();
        live_ = nullptr;
        if (plain_) plain_->close();
        plain_ = nullptr;
    }
    bool isOpen() const override {
        return (live_ != nullptr && LiveMenu::open() == live_) || (plain_ && plain_->isVisible());
    }

private:
    Menu items_;
    std::shared_ptr<std::function<void()>> done_;
    LiveMenu* live_ = nullptr;  // while open
    QPointer<QMenu> plain_;
};

}  // namespace

std::unique_ptr<BarMenu> menuForBar(Menu items) { return std::make_unique<ServicesBarMenu>(std::move(items)); }

QIcon statusIcon() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        const double s = size;
        QPen pen(QColor(235, 235, 235), std::max(1.5, s / 12.0), Qt::SolidLine, Qt::RoundCap);
        p.setPen(pen);
        const double heights[] = {0.30, 0.62, 0.88, 0.50, 0.72, 0.36};
        for (int i = 0; i < 6; ++i) {
            const double x = s * (0.16 + i * 0.136);
            const double h = s * heights[i] * 0.8;
            p.drawLine(QPointF(x, s / 2 - h / 2), QPointF(x, s / 2 + h / 2));
        }
        icon.addPixmap(pixmap);
    }
    return icon;
}

TrayMenu::TrayMenu(std::function<Menu()> build, std::function<void()> willOpen)
    : build_(std::move(build)), willOpen_(std::move(willOpen)), menu_(std::make_unique<QMenu>()) {
    QObject::connect(menu_.get(), &QMenu::aboutToShow, menu_.get(), [this] {
        if (willOpen_) willOpen_();
        menu_->clear();
        if (build_) fillQMenu(*menu_, build_());
    });
    // Filled once now, so the menu has its items before the first opening.
    if (build_) fillQMenu(*menu_, build_());
}

TrayMenu::~TrayMenu() = default;

bool TrayMenu::show() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
    if (!icon_) {
        icon_ = std::make_unique<QSystemTrayIcon>(statusIcon());
        icon_->setToolTip(QStringLiteral("Crestline"));
        icon_->setContextMenu(menu_.get());
    }
    icon_->show();
    return true;
}

bool TrayMenu::visible() const { return icon_ && icon_->isVisible(); }

}  // namespace crestline
