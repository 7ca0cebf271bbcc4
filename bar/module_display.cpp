#include "bar/module_display.h"

#include "bar/history_display.h"
#include "bar/imager_display.h"
#include "bar/scope_display.h"
#include "bar/spectrogram_display.h"
#include "bar/spectrum_display.h"

namespace crestline {

void Zones::clear() {
    resetZones.clear();
    hintZones.clear();
    editZones.clear();
    spectrumField.reset();
    scopeField.reset();
    historyField.reset();
    timelineNameRects.clear();
}

std::unique_ptr<ModuleDisplay> makeGraphDisplay(GraphKind kind) {
    switch (kind) {
        case GraphKind::scope: return std::make_unique<ScopeDisplay>();
        case GraphKind::spectrum: return std::make_unique<SpectrumDisplay>();
        case GraphKind::imager: return std::make_unique<ImagerDisplay>();
        case GraphKind::history: return std::make_unique<HistoryDisplay>();
        case GraphKind::spectrogram: return std::make_unique<SpectrogramDisplay>();
    }
    return nullptr;
}

std::string themeColourKey(const BarTheme& theme) { return theme.meterFill.key() + "," + theme.background.key(); }

void drawModuleName(Canvas& canvas, const Rect& rect, const Frame& frame) {
    const Font font = LiveFont::toolbar(9.0, true);
    const std::string_view name = title(frame.area);
    const Size size = canvas.textSize(name, font);
    if (size.width + 8.0 > rect.width || size.height + 2.0 > rect.height) return;
    const Colour colour = frame.theme.labelColor.withAlpha(frame.theme.labelColor.alpha * 0.6);
    canvas.drawText(name, font, colour, {rect.midX() - size.width / 2.0, rect.midY() - size.height / 2.0});
}

}  // namespace crestline
