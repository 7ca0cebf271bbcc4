// The settings window: the application-wide settings as rows of choices
// (the same DrawerControl rows as the module menus), drawn by one view of
// ours in the bar's theme. One tab, "General", with the sections "Audio"
// (what to listen to, which outputs of a multi-output device) and "Bar"
// (position, fitting Live, opening at login, hints). Pointing at a choice
// explains it in the line at the foot; a click runs its action and the rows
// are built anew from the store, so the window always shows what is stored.
//
// The actions that reach beyond the settings (re-attaching the capture,
// moving the bar, the login item) go to a `SettingsHost` that the
// controller implements, held weakly. Also here: the custom loudness target
// dialog and its parser.
//
// Main thread only; the views need a QApplication.
#pragma once

#include <QDialog>
#include <QRectF>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bar/bar_theme.h"
#include "capture/tap_source.h"
#include "settings/drawer.h"

class QLabel;
class QLineEdit;

namespace crestline {

class Settings;

struct SettingsSection {
    std::string title;
    std::vector<DrawerControl> rows;
};

struct SettingsTab {
    std::string title;
    std::vector<SettingsSection> sections;
};

// The device the running tap measures.
struct MeasuredDevice {
    std::string uid;
    std::string name;  // may be empty
    std::vector<int> outputStreamChannels;  // channels of each output stream
    TapSource source;                       // what the tap delivers now
};

class SettingsHost {
public:
    virtual ~SettingsHost() = default;
    // "listenToAll" changed: drop the tap, start the meter's integrated
    // state and history over, attach anew (to all sound or to Live).
    virtual void listenChanged() = 0;
    // Present while a tap exists.
    virtual std::optional<MeasuredDevice> measuredDevice() const = 0;
    // The stored output source of the measured device changed: attach anew.
    virtual void outputChanged() = 0;
    // Floating or standalone.
    virtual bool detached() const = 0;
    virtual void setDetached(bool detached) = 0;
    virtual bool launchAtLogin() const = 0;
    virtual void setLaunchAtLogin(bool on) = 0;
    // A setting the bar reads changed.
    virtual void redraw() = 0;
};

// Stereo pairs of a device: each stream's channels halved, summed.
int outputPairs(const std::vector<int>& streamChannels);

inline constexpr int kMaxOfferedPairs = 8;
inline constexpr const char* kNoInfo = "Point at a setting to see what it does.";

std::vector<SettingsTab> settingsTabs(Settings& settings, std::weak_ptr<SettingsHost> host);

namespace CustomTargetView {
// "11,5" → −11.5; "14 LUFS", "-14" and "−14" → −14; anything that is not a
// number, or one above 36 in magnitude, → nothing.
std::optional<double> parse(std::string_view text);
// The field's first text: the magnitude with "%g".
std::string prefill(double target);
}  // namespace CustomTargetView

// Where a frame of the view put its tabs and choices, in points from the
// top left; computed without painting.
struct SettingsLayout {
    struct Zone {
        QRectF rect;
        int section = 0;
        int row = 0;
        int option = 0;
    };
    std::vector<std::pair<QRectF, int>> tabZones;
    std::vector<Zone> zones;
    std::vector<std::pair<QPointF, int>> sectionTitles;  // baseline, section
    std::vector<std::pair<QPointF, std::pair<int, int>>> rowLabels;  // baseline, (section, row)
    QRectF infoLine;
    QSizeF size;
};

SettingsLayout layoutSettings(const SettingsTab& tab, int tabCount, const std::vector<std::string>& tabTitles,
                              double width);

class SettingsView final : public QWidget {
public:
    static constexpr double kWidth = 560.0;

    explicit SettingsView(std::function<std::vector<SettingsTab>()> makeTabs, QWidget* parent = nullptr);

    void setTheme(const BarTheme& theme);
    // Builds the rows anew from the store.
    void refresh();

    const std::vector<SettingsTab>& tabs() const { return tabs_; }
    const SettingsLayout& layout() const { return layout_; }
    const std::string& info() const { return info_; }
    int selected() const { return selected_; }

    // The pointer at a point of the view, as mouse events deliver it.
    void pointAt(QPointF point);
    void pointerLeft();
    void clickAt(QPointF point);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void relayout();
    const DrawerOption* optionAt(QPointF point) const;

    std::function<std::vector<SettingsTab>()> makeTabs_;
    BarTheme theme_;
    std::vector<SettingsTab> tabs_;
    int selected_ = 0;
    std::string info_ = kNoInfo;
    SettingsLayout layout_;
};

// The window "Crestline Settings": created once, centred, kept above the bar.
class SettingsWindow final : public QWidget {
public:
    explicit SettingsWindow(std::function<std::vector<SettingsTab>()> makeTabs);
    SettingsView& view() { return *view_; }
    // Takes the theme and fresh rows, then shows and raises the window.
    void present(const BarTheme& theme);

private:
    SettingsView* view_;  // owned by the window
};

// The custom target dialog: "LUFS Target", a field, "Set Target" and
// "Cancel". A valid value is stored in "customTargetLUFS" and handed to
// `set`; an invalid one says so and keeps the dialog open. Opens without a
// nested event loop and deletes itself when closed.
class CustomTargetDialog final : public QDialog {
public:
    CustomTargetDialog(Settings& settings, std::optional<double> current,
                       std::function<void(std::optional<double>)> set);
    QLineEdit& field() { return *field_; }
    const QLabel& error() const { return *error_; }
    void commit();

private:
    Settings& settings_;
    std::function<void(std::optional<double>)> set_;
    QLineEdit* field_;
    QLabel* error_;
};

// Opens the dialog prefilled with the magnitude of `current`, or of
// "customTargetLUFS", and returns it (it deletes itself on close).
CustomTargetDialog* askCustomTarget(Settings& settings, std::optional<double> current,
                                    std::function<void(std::optional<double>)> set);

}  // namespace crestline
