#include "app/bar_commands.h"

#include <QColorDialog>
#include <algorithm>
#include <cmath>

#include "analysis/audio_engine.h"
#include "app/settings_window.h"
#include "bar/bar_theme.h"
#include "bar/bar_view.h"
#include "settings/settings.h"

namespace crestline {

std::shared_ptr<BarCommands> BarCommands::install(Settings& settings, BarView& view, AudioEngine& engine,
                                                  Hooks hooks) {
    auto commands = std::make_shared<BarCommands>(settings, view, engine, std::move(hooks));
    const std::weak_ptr<BarCommands> weak = commands;
    view.onReset = [weak](ResetTarget target) {
        if (auto self = weak.lock()) self->reset(target);
    };
    view.onLayoutHide = [weak](ColorArea area) {
        if (auto self = weak.lock()) self->hide(area);
    };
    view.onLayoutMove = [weak](ColorArea area, int index) {
        if (auto self = weak.lock()) self->move(area, index);
    };
    view.onSelectionChanged = [weak](std::optional<ColorArea> area) {
        if (auto self = weak.lock(); self && self->hooks_.selectionChanged) self->hooks_.selectionChanged(area);
    };
    view.moduleMenu = [weak](ColorArea area) -> std::unique_ptr<BarMenu> {
        if (auto self = weak.lock()) return self->moduleMenu(area);
        return nullptr;
    };
    view.addMenu = [weak]() -> std::unique_ptr<BarMenu> {
        if (auto self = weak.lock()) return self->addMenu();
        return nullptr;
    };
    view.moduleControls = [weak](ColorArea area) -> std::vector<DrawerControl> {
        if (auto self = weak.lock()) return DrawerCatalogue(self->settings_, self->weak_from_this()).drawerControls(area);
        return {};
    };
    commands->installed_ = true;
    return commands;
}

BarCommands::BarCommands(Settings& settings, BarView& view, AudioEngine& engine, Hooks hooks)
    : settings_(settings), view_(view), engine_(engine), hooks_(std::move(hooks)) {}

BarCommands::~BarCommands() { uninstall(); }

void BarCommands::uninstall() {
    if (!installed_) return;
    installed_ = false;
    view_.onReset = nullptr;
    view_.onLayoutHide = nullptr;
    view_.onLayoutMove = nullptr;
    view_.onSelectionChanged = nullptr;
    view_.moduleMenu = nullptr;
    view_.addMenu = nullptr;
    view_.moduleControls = nullptr;
}

// ---- Gestures ------------------------------------------------------------------

void BarCommands::reset(ResetTarget target) {
    switch (target.kind) {
        case ResetTarget::Kind::shortTerm: engine_.resetShortTerm(); break;
        case ResetTarget::Kind::integrated: engine_.resetIntegrated(); break;
        case ResetTarget::Kind::truePeak: engine_.resetTruePeak(); break;
        case ResetTarget::Kind::peakHold: view_.resetPeaks(); break;
        case ResetTarget::Kind::history:
            engine_.resetHistory();
            if (hooks_.clearTransportSamples) hooks_.clearTransportSamples();
            break;
        // The view's own steps; nothing of the engine changes.
        case ResetTarget::Kind::windowStep:
        case ResetTarget::Kind::graphView:
        case ResetTarget::Kind::historyView: break;
    }
    redraw();
}

void BarCommands::hide(ColorArea area) {
    // A module leaves the bar with its selection (and the keyboard the
    // selection took).
    if (view_.pointer.selectedArea == area) {
        view_.pointer.selectedArea.reset();
        if (hooks_.selectionChanged) hooks_.selectionChanged(std::nullopt);
    }
    if (area == ColorArea::meter) {
        settings_.setBool("showMeter", false);
    } else if (const auto kind = graphKind(area)) {
        settings_.setShown(*kind, false);
    }
    relayout();
}

void BarCommands::add(ColorArea area) {
    if (area == ColorArea::meter) {
        settings_.setBool("showMeter", true);
    } else if (const auto kind = graphKind(area)) {
        settings_.setShown(*kind, true);
    }
    relayout();
}

void BarCommands::move(ColorArea area, int index) {
    std::vector<ColorArea> order = settings_.moduleOrder();
    const auto at = std::find(order.begin(), order.end(), area);
    if (at == order.end()) return;
    order.erase(at);
    const auto place = static_cast<std::size_t>(std::clamp(index, 0, static_cast<int>(order.size())));
    order.insert(order.begin() + static_cast<std::ptrdiff_t>(place), area);
    if (order == settings_.moduleOrder()) return;
    settings_.setModuleOrder(order);
    relayout();
}

std::unique_ptr<BarMenu> BarCommands::moduleMenu(ColorArea area) {
    const auto rows = DrawerCatalogue(settings_, weak_from_this()).drawerControls(area);
    const std::weak_ptr<BarCommands> weak = weak_from_this();
    return plainModuleMenu(rows, [weak, area] {
        if (auto self = weak.lock()) self->hide(area);
    });
}

std::unique_ptr<BarMenu> BarCommands::addMenu() {
    std::vector<ColorArea> missing;
    const std::vector<ColorArea> order = settings_.moduleOrder();
    for (ColorArea area : allCases<ColorArea>()) {
        if (std::find(order.begin(), order.end(), area) == order.end()) missing.push_back(area);
    }
    if (missing.empty()) return nullptr;
    const std::weak_ptr<BarCommands> weak = weak_from_this();
    return plainAddMenu(missing, [weak](ColorArea area) {
        if (auto self = weak.lock()) self->add(area);
    });
}

// ---- DrawerHost ----------------------------------------------------------------

void BarCommands::redraw() {
    if (hooks_.redraw) hooks_.redraw();
}

void BarCommands::relayout() {
    if (hooks_.relayout) hooks_.relayout();
    redraw();
}

void BarCommands::refreshPalette() {
    view_.setTheme(currentTheme(settings_));
    redraw();
}

void BarCommands::clearScopeOverview() {
    engine_.scope().clearOverview();
    redraw();
}

void BarCommands::clearMeterHistory() {
    engine_.meter().withLock([](LoudnessMeter& meter) { meter.resetHistoryLocked(); });
    redraw();
}

void BarCommands::clearSpectrogram() {
    engine_.spectrogram().resetHistory();
    redraw();
}

void BarCommands::resetMeasurement() {
    engine_.resetMeter();
    view_.resetPeaks();
    redraw();
}

void BarCommands::spectrogramChannelChanged(SpectrumChannel channel) { engine_.spectrogram().setChannel(channel); }

void BarCommands::autoResetChanged(bool on) { engine_.meter().setAutoResetEnabled(on); }

void BarCommands::openColorWheel(ColorArea area) {
    // Asked without a nested event loop: each move of the wheel is stored.
    auto* dialog = new QColorDialog;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QString::fromUtf8(title(area).data(), static_cast<qsizetype>(title(area).size())));
    if (const auto colour = settings_.accentColor(area)) {
        dialog->setCurrentColor(QColor::fromRgbF(static_cast<float>((*colour)[0]), static_cast<float>((*colour)[1]),
                                                 static_cast<float>((*colour)[2])));
    }
    const std::weak_ptr<BarCommands> weak = weak_from_this();
    QObject::connect(dialog, &QColorDialog::currentColorChanged, dialog, [weak, area](const QColor& colour) {
        auto self = weak.lock();
        if (!self || !colour.isValid()) return;
        self->settings_.setAccentColor(Rgb{colour.redF(), colour.greenF(), colour.blueF()}, area);
        self->refreshPalette();
    });
    dialog->open();
}

void BarCommands::askCustomTarget(std::optional<double> current, std::function<void(std::optional<double>)> set) {
    crestline::askCustomTarget(settings_, current, std::move(set));
}

}  // namespace crestline
