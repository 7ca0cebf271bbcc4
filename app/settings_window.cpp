#include "app/settings_window.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "app/desktop_services.h"
#include "bar/live_font.h"
#include "settings/settings.h"

namespace crestline {

int outputPairs(const std::vector<int>& streamChannels) {
    int pairs = 0;
    for (int channels : streamChannels)
        if (channels > 0) pairs += channels / 2;
    return pairs;
}

namespace {

// An action that runs with the host while it lives.
std::function<void()> withHost(std::weak_ptr<SettingsHost> host, std::function<void(SettingsHost&)> body) {
    return [host = std::move(host), body = std::move(body)] {
        if (auto alive = host.lock()) body(*alive);
    };
}

DrawerControl toggleRow(std::string label, bool value, std::string info, std::function<void(bool)> set) {
    DrawerControl row;
    row.label = std::move(label);
    row.options = {
        DrawerOption{"On", value, info, std::nullopt, [set] { set(true); }},
        DrawerOption{"Off", !value, info, std::nullopt, [set] { set(false); }},
    };
    return row;
}

DrawerControl listenRow(Settings& settings, const std::weak_ptr<SettingsHost>& host) {
    const bool all = settings.listenToAll();
    const auto choose = [&settings, host](bool toAll) {
        return withHost(host, [&settings, toAll](SettingsHost& h) {
            if (settings.listenToAll() == toAll) return;
            settings.setListenToAll(toAll);
            h.listenChanged();
        });
    };
    DrawerControl row;
    row.label = "Listen To";
    row.options = {
        DrawerOption{"Ableton Live", !all, "Measures only what Live plays, whatever else your computer is doing.",
                     std::nullopt, choose(false)},
        DrawerOption{"All Sound on This Computer", all,
                     "Measures everything your computer plays: Live, YouTube, Spotify, a reference track.",
                     std::nullopt, choose(true)},
    };
    return row;
}

std::optional<DrawerControl> outputsRow(Settings& settings, const std::weak_ptr<SettingsHost>& host) {
    const auto owner = host.lock();
    if (!owner) return std::nullopt;
    const auto device = owner->measuredDevice();
    if (!device) return std::nullopt;
    const int pairs = std::min(outputPairs(device->outputStreamChannels), kMaxOfferedPairs);
    if (pairs < 2) return std::nullopt;
    const auto choose = [&settings, host, uid = device->uid](TapSource source) {
        return withHost(host, [&settings, uid, source](SettingsHost& h) {
            settings.setOutputSource(source, uid);
            h.outputChanged();
        });
    };
    const std::string name = device->name.empty() ? std::string("the interface") : device->name;
    DrawerControl row;
    row.label = "Outputs";
    row.options.push_back({"Auto", device->source.kind == TapSource::Kind::automatic,
                           "Measures the outputs Live is actually playing on.", std::nullopt,
                           choose(TapSource::automatic())});
    for (int k = 0; k < pairs; ++k) {
        const std::string title = std::to_string(2 * k + 1) + "/" + std::to_string(2 * k + 2);
        row.options.push_back({title, device->source == TapSource::pair(k),
                               "Measures outputs " + title + " of " + name + ".", std::nullopt,
                               choose(TapSource::pair(k))});
    }
    row.options.push_back({"All", device->source.kind == TapSource::Kind::mixdown,
                           "Measures every output of the interface together.", std::nullopt,
                           choose(TapSource::mixdown())});
    return row;
}

}  // namespace

std::vector<SettingsTab> settingsTabs(Settings& settings, std::weak_ptr<SettingsHost> host) {
    SettingsSection audio{"Audio", {listenRow(settings, host)}};
    if (auto outputs = outputsRow(settings, host)) audio.rows.push_back(std::move(*outputs));

    const auto owner = host.lock();
    const bool detached = owner && owner->detached();
    DrawerControl position;
    position.label = "Position";
    position.options = {
        DrawerOption{"Above Live", !detached, "The bar sits on top of Live's window and comes and goes with Live.",
                     std::nullopt, withHost(host, [](SettingsHost& h) { h.setDetached(false); })},
        DrawerOption{"Separate Window", detached,
                     "The bar becomes a window of its own: put it on another screen, or full screen.", std::nullopt,
                     withHost(host, [](SettingsHost& h) { h.setDetached(true); })},
    };
    SettingsSection bar{"Bar", {std::move(position)}};
    bar.rows.push_back(toggleRow("Fit Live Below the Bar", settings.fitAbleton(),
                                 "Live's window fills the space between the bar and the panel.",
                                 [&settings, host](bool on) {
                                     withHost(host, [&settings, on](SettingsHost& h) {
                                         settings.setFitAbleton(on);
                                         h.redraw();
                                     })();
                                 }));
    bar.rows.push_back(toggleRow("Open at Login", owner && owner->launchAtLogin(),
                                 "Crestline starts with your computer, so the bar is there whenever Live opens.",
                                 [host](bool on) { withHost(host, [on](SettingsHost& h) { h.setLaunchAtLogin(on); })(); }));
    bar.rows.push_back(toggleRow("Show Hints", settings.showHints(),
                                 "Explains a part of the bar when you rest the pointer on it.",
                                 [&settings, host](bool on) {
                                     withHost(host, [&settings, on](SettingsHost& h) {
                                         settings.setShowHints(on);
                                         h.redraw();
                                     })();
                                 }));
    return {SettingsTab{"General", {std::move(audio), std::move(bar)}}};
}

namespace CustomTargetView {

std::optional<double> parse(std::string_view input) {
    std::string text(input.substr(0, 64));
    std::replace(text.begin(), text.end(), ',', '.');
    // "LUFS" in any case goes, and so does a typed minus sign of any kind:
    // the sign is ignored.
    for (std::size_t at = 0; at + 4 <= text.size();) {
        std::string word = text.substr(at, 4);
        std::transform(word.begin(), word.end(), word.begin(), [](unsigned char c) { return std::toupper(c); });
        if (word == "LUFS") text.erase(at, 4);
        else ++at;
    }
    const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
    while (!text.empty() && blank(static_cast<unsigned char>(text.back()))) text.pop_back();
    std::size_t begin = 0;
    while (begin < text.size() && blank(static_cast<unsigned char>(text[begin]))) ++begin;
    std::string_view number(text.data() + begin, text.size() - begin);
    if (number.substr(0, 3) == "\u2212") number.remove_prefix(3);
    else if (!number.empty() && (number.front() == '-' || number.front() == '+')) number.remove_prefix(1);
    if (number.empty() || !(std::isdigit(static_cast<unsigned char>(number.front())) != 0 || number.front() == '.'))
        return std::nullopt;
    double value = 0.0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size()) return std::nullopt;
    const double magnitude = std::fabs(value);
    if (!std::isfinite(magnitude) || magnitude > 36.0) return std::nullopt;
    return -std::round(magnitude * 10.0) / 10.0 + 0.0;
}

std::string prefill(double target) {
    char text[32];
    std::snprintf(text, sizeof(text), "%g", std::fabs(target));
    return text;
}

}  // namespace CustomTargetView

// ---- Layout -----------------------------------------------------------------

namespace {

constexpr double kMargin = 20.0;
constexpr double kTabHeight = 30.0;
constexpr double kLabelColumn = 170.0;
constexpr double kPillHeight = 20.0;
constexpr double kPillPadding = 10.0;
constexpr double kPillGap = 6.0;
constexpr double kRowGap = 8.0;
constexpr double kSectionGap = 14.0;
constexpr double kInfoHeight = 36.0;

Font tabFont() { return LiveFont::toolbar(12.0, true); }
Font sectionFont() { return LiveFont::toolbar(12.0, true); }
Font labelFont() { return LiveFont::toolbar(11.0, false); }
Font optionFont() { return LiveFont::toolbar(11.0, false); }

}  // namespace

SettingsLayout layoutSettings(const SettingsTab& tab, int tabCount, const std::vector<std::string>& tabTitles,
                              double width) {
    SettingsLayout layout;
    const Font tabs = tabFont();
    double tabsWidth = 0.0;
    for (int i = 0; i < tabCount && i < static_cast<int>(tabTitles.size()); ++i)
        tabsWidth += tabs.width(tabTitles[static_cast<std::size_t>(i)]) + 2 * kPillPadding + kPillGap;
    double x = std::max(kMargin, (width - tabsWidth + kPillGap) / 2.0);
    for (int i = 0; i < tabCount && i < static_cast<int>(tabTitles.size()); ++i) {
        const double w = tabs.width(tabTitles[static_cast<std::size_t>(i)]) + 2 * kPillPadding;
        layout.tabZones.emplace_back(QRectF(x, 10.0, w, 22.0), i);
        x += w + kPillGap;
    }
    double y = 10.0 + kTabHeight + 8.0;
    const Font section = sectionFont();
    const Font label = labelFont();
    const Font option = optionFont();
    const double right = width - kMargin;
    for (std::size_t s = 0; s < tab.sections.size(); ++s) {
        y += section.ascent();
        layout.sectionTitles.emplace_back(QPointF(kMargin, y), static_cast<int>(s));
        y += section.descent() + 8.0;
        const auto& rows = tab.sections[s].rows;
        for (std::size_t r = 0; r < rows.size(); ++r) {
            layout.rowLabels.emplace_back(QPointF(kMargin + 8.0, y + (kPillHeight + label.ascent() - label.descent()) / 2.0),
                                          std::make_pair(static_cast<int>(s), static_cast<int>(r)));
            double px = kMargin + kLabelColumn;
            for (std::size_t o = 0; o < rows[r].options.size(); ++o) {
                const double w = std::min(option.width(rows[r].options[o].title) + 2 * kPillPadding,
                                          right - (kMargin + kLabelColumn));
                if (px + w > right && px > kMargin + kLabelColumn) {
                    px = kMargin + kLabelColumn;
                    y += kPillHeight + kPillGap;
                }
                layout.zones.push_back({QRectF(px, y, w, kPillHeight), static_cast<int>(s), static_cast<int>(r),
                                        static_cast<int>(o)});
                px += w + kPillGap;
            }
            y += kPillHeight + kRowGap;
        }
        y += kSectionGap;
    }
    layout.infoLine = QRectF(kMargin, y, width - 2 * kMargin, kInfoHeight);
    layout.size = QSizeF(width, y + kInfoHeight + 8.0);
    return layout;
}

// ---- View -------------------------------------------------------------------

SettingsView::SettingsView(std::function<std::vector<SettingsTab>()> makeTabs, QWidget* parent)
    : QWidget(parent), makeTabs_(std::move(makeTabs)), theme_(BarTheme::liveDark()) {
    setMouseTracking(true);
    refresh();
}

void SettingsView::setTheme(const BarTheme& theme) {
    theme_ = theme;
    update();
}

void SettingsView::refresh() {
    tabs_ = makeTabs_ ? makeTabs_() : std::vector<SettingsTab>{};
    if (selected_ >= static_cast<int>(tabs_.size())) selected_ = 0;
    relayout();
    update();
}

void SettingsView::relayout() {
    std::vector<std::string> titles;
    for (const SettingsTab& tab : tabs_) titles.push_back(tab.title);
    static const SettingsTab empty;
    const SettingsTab& tab = tabs_.empty() ? empty : tabs_[static_cast<std::size_t>(selected_)];
    layout_ = layoutSettings(tab, static_cast<int>(tabs_.size()), titles, kWidth);
    setFixedSize(static_cast<int>(std::ceil(layout_.size.width())), static_cast<int>(std::ceil(layout_.size.height())));
}

const DrawerOption* SettingsView::optionAt(QPointF point) const {
    if (tabs_.empty()) return nullptr;
    const SettingsTab& tab = tabs_[static_cast<std::size_t>(selected_)];
    for (const auto& zone : layout_.zones) {
        if (!zone.rect.contains(point)) continue;
        return &tab.sections[static_cast<std::size_t>(zone.section)]
                    .rows[static_cast<std::size_t>(zone.row)]
                    .options[static_cast<std::size_t>(zone.option)];
    }
    return nullptr;
}

void SettingsView::pointAt(QPointF point) {
    const DrawerOption* option = optionAt(point);
    const std::string info = option != nullptr && !option->info.empty() ? option->info : std::string(kNoInfo);
    if (info == info_) return;
    info_ = info;
    update();
}

void SettingsView::pointerLeft() {
    if (info_ == kNoInfo) return;
    info_ = kNoInfo;
    update();
}

void SettingsView::clickAt(QPointF point) {
    for (const auto& [rect, index] : layout_.tabZones) {
        if (!rect.contains(point)) continue;
        selected_ = index;
        relayout();
        update();
        return;
    }
    const DrawerOption* option = optionAt(point);
    if (option == nullptr || !option->action) return;
    // The action may rebuild what `option` lives in: run a copy.
    const auto action = option->action;
    action();
    refresh();
    pointAt(point);
}

void SettingsView::mouseMoveEvent(QMouseEvent* event) { pointAt(event->position()); }
void SettingsView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) clickAt(event->position());
}
void SettingsView::leaveEvent(QEvent*) { pointerLeft(); }

void SettingsView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor background = (theme_.panel ? *theme_.panel : theme_.background).toQColor();
    p.fillRect(rect(), background);
    const QColor label = theme_.labelColor.toQColor();
    const QColor value = theme_.valueColor.toQColor();
    const QColor field = (theme_.fieldBackground ? *theme_.fieldBackground : theme_.meterTrack).toQColor();
    QColor chosen = theme_.trace.toQColor();
    const QColor chosenText = QColor::fromRgbF(0.08f, 0.08f, 0.08f);

    const Font tabs = tabFont();
    for (const auto& [zone, index] : layout_.tabZones) {
        const bool on = index == selected_;
        p.setPen(Qt::NoPen);
        p.setBrush(on ? field : Qt::transparent);
        p.drawRoundedRect(zone, 4.0, 4.0);
        const std::string& title = tabs_[static_cast<std::size_t>(index)].title;
        tabs.draw(p, QPointF(zone.center().x() - tabs.width(title) / 2.0, zone.center().y() + (tabs.ascent() - tabs.descent()) / 2.0),
                  title, on ? value : label);
    }
    if (tabs_.empty()) return;
    const SettingsTab& tab = tabs_[static_cast<std::size_t>(selected_)];
    const Font section = sectionFont();
    for (const auto& [at, index] : layout_.sectionTitles)
        section.draw(p, at, tab.sections[static_cast<std::size_t>(index)].title, value);
    const Font rowFont = labelFont();
    for (const auto& [at, where] : layout_.rowLabels)
        rowFont.draw(p, at, tab.sections[static_cast<std::size_t>(where.first)].rows[static_cast<std::size_t>(where.second)].label,
                     label);
    const Font option = optionFont();
    for (const auto& zone : layout_.zones) {
        const DrawerOption& o = tab.sections[static_cast<std::size_t>(zone.section)]
                                    .rows[static_cast<std::size_t>(zone.row)]
                                    .options[static_cast<std::size_t>(zone.option)];
        p.setPen(Qt::NoPen);
        p.setBrush(o.selected ? chosen : field);
        const double radius = theme_.squared ? 2.0 : zone.rect.height() / 2.0;
        p.drawRoundedRect(zone.rect, radius, radius);
        const double baseline = zone.rect.center().y() + (option.ascent() - option.descent()) / 2.0;
        option.draw(p, QPointF(zone.rect.left() + kPillPadding, baseline), o.title, o.selected ? chosenText : value);
    }
    p.setPen(QPen(theme_.separator.toQColor(), 1.0));
    p.drawLine(QPointF(layout_.infoLine.left(), layout_.infoLine.top() + 0.5),
               QPointF(layout_.infoLine.right(), layout_.infoLine.top() + 0.5));
    const Font info = labelFont();
    info.draw(p, QPointF(layout_.infoLine.left(), layout_.infoLine.center().y() + (info.ascent() - info.descent()) / 2.0),
              info_, theme_.statusColor.toQColor());
}

// ---- Window -----------------------------------------------------------------

SettingsWindow::SettingsWindow(std::function<std::vector<SettingsTab>()> makeTabs) : QWidget(nullptr, Qt::Window) {
    setWindowTitle(QStringLiteral("Crestline Settings"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    view_ = new SettingsView(std::move(makeTabs), this);
    layout->addWidget(view_);
    adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

void SettingsWindow::present(const BarTheme& theme) {
    view_->setTheme(theme);
    view_->refresh();
    raiseAboveBar(*this);
    show();
    raise();
    activateWindow();
}

// ---- Custom target ----------------------------------------------------------

CustomTargetDialog::CustomTargetDialog(Settings& settings, std::optional<double> current,
                                       std::function<void(std::optional<double>)> set)
    : QDialog(nullptr), settings_(settings), set_(std::move(set)) {
    setWindowTitle(QStringLiteral("LUFS Target"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    auto* message = new QLabel(QStringLiteral("LUFS Target"), this);
    QFont bold = message->font();
    bold.setBold(true);
    message->setFont(bold);
    layout->addWidget(message);
    layout->addWidget(new QLabel(QStringLiteral("Type the integrated loudness to aim for, for example 11.5."), this));
    field_ = new QLineEdit(this);
    const std::optional<double> shown = current ? current : settings.customTargetLUFS();
    if (shown) field_->setText(QString::fromStdString(CustomTargetView::prefill(*shown)));
    layout->addWidget(field_);
    error_ = new QLabel(this);
    error_->hide();
    layout->addWidget(error_);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* setButton = buttons->addButton(QStringLiteral("Set Target"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    setButton->setDefault(true);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { commit(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(field_, &QLineEdit::returnPressed, this, [this] { commit(); });
}

void CustomTargetDialog::commit() {
    const auto target = CustomTargetView::parse(field_->text().toStdString());
    if (!target) {
        error_->setText(QStringLiteral("Type a loudness from 0 to 36, for example 11.5."));
        error_->show();
        return;
    }
    settings_.setCustomTargetLUFS(*target);
    if (set_) set_(*target);
    accept();
}

CustomTargetDialog* askCustomTarget(Settings& settings, std::optional<double> current,
                                    std::function<void(std::optional<double>)> set) {
    auto* dialog = new CustomTargetDialog(settings, current, std::move(set));
    raiseAboveBar(*dialog);
    dialog->open();
    dialog->field().selectAll();
    dialog->field().setFocus();
    return dialog;
}

}  // namespace crestline
