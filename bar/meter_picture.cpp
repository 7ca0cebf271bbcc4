#include "bar/meter_picture.h"

#include <QGuiApplication>
#include <QImageWriter>
#include <cmath>
#include <cstdlib>

#include "bar/bar_picture.h"
#include "bar/bar_theme.h"
#include "bar/bar_view.h"
#include "settings/settings.h"

namespace crestline {

namespace {

constexpr double kMaximumWidth = 16384.0;  // points, the widest a bar window may be

// How far the row's last drawn piece (module or add button) reaches past
// the content, in points. Graph widths are rounded shares, so the row may
// scroll by a fraction of a point that only the end margin pays for.
double overflow(const BarLayout& layout) {
    double end = layout.content.minX();
    for (const PlacedModule& module : layout.modules) end = std::max(end, module.rect.maxX());
    if (layout.plusRect) end = std::max(end, layout.plusRect->maxX());
    return std::max(0.0, end - layout.content.maxX());
}

// Qt's complaint about a missing runtime folder means nothing to a tool that
// only draws a picture; every other message goes through.
QtMessageHandler previousHandler = nullptr;

void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith(QStringLiteral("QStandardPaths: XDG_RUNTIME_DIR not set"))) return;
    if (previousHandler != nullptr) previousHandler(type, context, message);
}

void ensureApplication() {
    if (QCoreApplication::instance() != nullptr) return;
    previousHandler = qInstallMessageHandler(quietHandler);
    // Nothing is shown: the offscreen platform needs no display.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "crestline-meter";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* application = new QGuiApplication(argc, argv);  // until exit
    (void)application;
}

}  // namespace

MeterPictureResult writeMeterPicture(const std::string& path, MeterSource& source, const MeterPictureOptions& options,
                                     Settings& settings, const Clock& clock, const LiveSync* sync) {
    MeterPictureResult result;
    const auto finite = [](double v) { return std::isfinite(v) && v > 0.0; };
    if (!finite(options.width) || !finite(options.height) || !finite(options.scale)) {
        result.error = "the picture needs a positive width, height and scale";
        return result;
    }
    ensureApplication();
    BarTheme theme = currentTheme(settings);
    if (options.theme) {
        const auto name = barThemeName(*options.theme);
        if (!name) {
            result.error = "unknown theme '" + *options.theme + "' (liveLight, liveDark or scope)";
            return result;
        }
        std::optional<std::vector<double>> accent;
        if (const auto rgb = settings.accentColor()) accent = std::vector<double>(rgb->begin(), rgb->end());
        theme = BarTheme::preset(*name).tinted(accent);
    }
    BarView view(settings, &source, clock);
    view.setTheme(theme);
    view.setSync(sync);
    // Widen until nothing is cut: a dashboard meter's width follows the
    // bar's, so one step may not be the last.
    Size size{options.width, options.height};
    QImage image = renderBar(view, size, options.scale);
    for (int attempt = 0; attempt < 4 && overflow(view.layout()) > 0.0 && size.width < kMaximumWidth; ++attempt) {
        size.width = std::min(kMaximumWidth,
                              std::ceil(std::max(size.width + overflow(view.layout()), view.minimumWidth())));
        image = renderBar(view, size, options.scale);
        result.widened = true;
    }
    result.drawn = size;
    QImageWriter writer(QString::fromStdString(path), "png");
    if (!writer.write(image)) result.error = "could not write the picture: " + writer.errorString().toStdString();
    return result;
}

}  // namespace crestline
