#include "bar/bar_menu.h"

#include <QAction>
#include <QActionGroup>
#include <QKeySequence>
#include <QMenu>
#include <QPointer>
#include <string>

namespace crestline {

namespace {

QString qText(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// Menus sized and coloured like the hints: the theme's hint colours, the
// highlight of the theme or the text at a sixth of its strength.
QPalette menuPalette(const BarTheme& theme) {
    QPalette palette;
    const QColor background = theme.hintBackground.toQColor();
    const QColor text = theme.hintText.toQColor();
    const QColor highlight = theme.menuHighlight ? theme.menuHighlight->toQColor()
                                                 : theme.hintText.withAlpha(0.16 * theme.hintText.alpha).toQColor();
    const QColor highlightText = theme.menuHighlightText ? theme.menuHighlightText->toQColor() : text;
    const QColor disabled = theme.menuDisabledText ? theme.menuDisabledText->toQColor()
                                                   : theme.hintText.withAlpha(0.5 * theme.hintText.alpha).toQColor();
    for (QPalette::ColorRole role : {QPalette::Window, QPalette::Base, QPalette::Button}) {
        palette.setColor(role, background);
    }
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(QPalette::Active, role, text);
        palette.setColor(QPalette::Inactive, role, text);
        palette.setColor(QPalette::Disabled, role, disabled);
    }
    palette.setColor(QPalette::Highlight, highlight);
    palette.setColor(QPalette::HighlightedText, highlightText);
    return palette;
}

void addOption(QMenu& menu, const DrawerOption& option, bool checkable, QActionGroup* group) {
    QAction* action = menu.addAction(qText(option.title));
    if (!option.info.empty()) action->setToolTip(qText(option.info));
    if (option.swatch) {
        QPixmap swatch(12, 12);
        swatch.fill(QColor::fromRgbF(static_cast<float>((*option.swatch)[0]), static_cast<float>((*option.swatch)[1]),
                                     static_cast<float>((*option.swatch)[2])));
        action->setIcon(QIcon(swatch));
    }
    if (checkable) {
        action->setCheckable(true);
        action->setChecked(option.selected);
        if (group != nullptr) group->addAction(action);
    }
    if (option.action) QObject::connect(action, &QAction::triggered, [run = option.action] { run(); });
}

void addRow(QMenu& menu, const DrawerControl& row) {
    if (row.isAction) {
        for (const DrawerOption& option : row.options) addOption(menu, option, false, nullptr);
        return;
    }
    QString title = qText(row.label);
    if (row.several) {
        int selected = 0;
        for (const DrawerOption& option : row.options) selected += option.selected ? 1 : 0;
        title += QStringLiteral("  (%1 of %2)").arg(selected).arg(row.options.size());
    }
    QMenu* submenu = menu.addMenu(title);
    submenu->setToolTipsVisible(true);
    if (row.about) submenu->menuAction()->setToolTip(qText(*row.about));
    // One choice among several: a group keeps a single check mark.
    QActionGroup* group = row.several ? nullptr : new QActionGroup(submenu);
    const std::string* info = nullptr;
    for (const DrawerOption& option : row.options) {
        if (row.groupedByInfo && (info == nullptr || *info != option.info)) {
            info = &option.info;
            if (!option.info.empty()) submenu->addSection(qText(option.info));
        }
        addOption(*submenu, option, true, group);
    }
}

class PlainMenu final : public BarMenu {
public:
    PlainMenu() : menu_(new QMenu) {
        menu_->setToolTipsVisible(true);
        menu_->setAttribute(Qt::WA_DeleteOnClose, false);
    }
    ~PlainMenu() override {
        // Qt hides a menu before it runs the chosen action: the menu may be
        // let go from inside its own signals, so it goes later.
        if (menu_) {
            menu_->disconnect();
            menu_->hide();
            menu_->deleteLater();
        }
    }

    void popUp(QPoint topLeft, const BarTheme& theme, std::function<void()> closed) override {
        if (!menu_) return;
        closed_ = std::move(closed);
        menu_->setPalette(menuPalette(theme));
        for (QMenu* submenu : menu_->findChildren<QMenu*>()) submenu->setPalette(menuPalette(theme));
        QObject::connect(menu_, &QMenu::aboutToHide, menu_, [this] {
            if (auto done = std::exchange(closed_, nullptr)) done();
        });
        menu_->popup(topLeft);
    }
    void close() override {
        if (menu_) menu_->hide();
    }
    bool isOpen() const override { return menu_ && menu_->isVisible(); }

    QMenu* menu() { return menu_; }

private:
    QPointer<QMenu> menu_;
    std::function<void()> closed_;
};

}  // namespace

std::unique_ptr<BarMenu> plainModuleMenu(const std::vector<DrawerControl>& rows, std::function<void()> remove) {
    auto menu = std::make_unique<PlainMenu>();
    for (const DrawerControl& row : rows) addRow(*menu->menu(), row);
    menu->menu()->addSeparator();
    QAction* remover = menu->menu()->addAction(QStringLiteral("Delete"));
    remover->setShortcut(QKeySequence(Qt::Key_Delete));
    if (remove) QObject::connect(remover, &QAction::triggered, [run = std::move(remove)] { run(); });
    return menu;
}

std::unique_ptr<BarMenu> plainAddMenu(const std::vector<ColorArea>& missing, std::function<void(ColorArea)> add) {
    auto menu = std::make_unique<PlainMenu>();
    for (ColorArea area : missing) {
        QAction* item = menu->menu()->addAction(qText(title(area)));
        if (add) QObject::connect(item, &QAction::triggered, [add, area] { add(area); });
    }
    return menu;
}

QMenu* qtMenuOf(BarMenu& menu) {
    auto* plain = dynamic_cast<PlainMenu*>(&menu);
    return plain != nullptr ? plain->menu() : nullptr;
}

}  // namespace crestline
