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

// Hands the view the final reading, and the file's sample peaks once.
class FixedMeterSource final : public MeterSource {
public:
    FixedMeterSource(const LoudnessReading& reading, std::optional<PeakLevels> peaks)
        : reading_(reading), peaks_(peaks) {}

    LoudnessReading reading() override { return reading_; }
    PeakLevels takePeaks() override {
        const PeakLevels taken = peaks_.value_or(PeakLevels{LoudnessReading::kNoValue, LoudnessReading::kNoValue});
        peaks_.reset();
        return taken;
    }
    std::uint64_t activity() override { return 0; }

private:
    LoudnessReading reading_;
    std::optional<PeakLevels> peaks_;
};

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

std::string writeMeterPicture(const std::string& path, const LoudnessReading& reading,
                              std::optional<PeakLevels> samplePeaks, const MeterPictureOptions& options,
                              Settings& settings) {
    const auto finite = [](double v) { return std::isfinite(v) && v > 0.0; };
    if (!finite(options.width) || !finite(options.height) || !finite(options.scale)) {
        return "the picture needs a positive width, height and scale";
    }
    ensureApplication();
    BarTheme theme = currentTheme(settings);
    if (options.theme) {
        const auto name = barThemeName(*options.theme);
        if (!name) return "unknown theme '" + *options.theme + "' (liveLight, liveDark or scope)";
        std::optional<std::vector<double>> accent;
        if (const auto rgb = settings.accentColor()) accent = std::vector<double>(rgb->begin(), rgb->end());
        theme = BarTheme::preset(*name).tinted(accent);
    }
    FixedMeterSource source(reading, samplePeaks);
    BarView view(settings, &source);
    view.setTheme(theme);
    const QImage image = renderBar(view, {options.width, options.height}, options.scale);
    QImageWriter writer(QString::fromStdString(path), "png");
    if (!writer.write(image)) return "could not write the picture: " + writer.errorString().toStdString();
    return {};
}

}  // namespace crestline
