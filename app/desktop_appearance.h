// Whether the desktop prefers a dark look, for Live's "Default" themes that
// follow the system. Qt 6.4 has no colour-scheme query, so the answer is
// the xdg-desktop-portal's "org.freedesktop.appearance" "color-scheme"
// (1 dark, 2 light), asked once without waiting and kept current through
// the portal's change signal; without a portal, or with "no preference",
// it is the lightness of the palette's window colour.
//
// Main thread. Never blocks: until the portal answers, the palette decides.
#pragma once

#include <QObject>
#include <QVariant>
#include <optional>

class QDBusPendingCallWatcher;

namespace crestline {

class DesktopAppearance final : public QObject {
    Q_OBJECT

public:
    explicit DesktopAppearance(QObject* parent = nullptr);

    bool isDark() const;
    // The portal's last answer: 0 no preference, 1 dark, 2 light.
    std::optional<unsigned> colorScheme() const { return scheme_; }

    // The rule on its own: a portal answer of 1 or 2 decides, anything else
    // leaves it to the palette's window lightness (0...1).
    static bool darkFrom(std::optional<unsigned> scheme, double windowLightness);

private slots:
    void settingChanged(const QString& group, const QString& key, const QVariant& value);

private:
    void readAnswer(QDBusPendingCallWatcher* watcher);

    std::optional<unsigned> scheme_;
};

}  // namespace crestline
