#include "app/desktop_appearance.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QPalette>

namespace crestline {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kGroup = QStringLiteral("org.freedesktop.appearance");
const QString kKey = QStringLiteral("color-scheme");

// The portal wraps the value in one or two variants, depending on its version.
std::optional<unsigned> schemeOf(QVariant value) {
    for (int depth = 0; depth < 3 && value.canConvert<QDBusVariant>() &&
                        value.metaType() == QMetaType::fromType<QDBusVariant>();
         ++depth) {
        value = value.value<QDBusVariant>().variant();
    }
    bool ok = false;
    const unsigned scheme = value.toUInt(&ok);
    if (!ok || scheme > 2) return std::nullopt;
    return scheme;
}

}  // namespace

DesktopAppearance::DesktopAppearance(QObject* parent) : QObject(parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    bus.connect(kService, kPath, kInterface, QStringLiteral("SettingChanged"), this,
                SLOT(settingChanged(QString, QString, QVariant)));
    QDBusMessage read = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Read"));
    read << kGroup << kKey;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(read, 2000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) { readAnswer(w); });
}

void DesktopAppearance::readAnswer(QDBusPendingCallWatcher* watcher) {
    const QDBusPendingReply<QVariant> reply = *watcher;
    if (!reply.isError()) scheme_ = schemeOf(reply.value());
    watcher->deleteLater();
}

void DesktopAppearance::settingChanged(const QString& group, const QString& key, const QVariant& value) {
    if (group == kGroup && key == kKey) scheme_ = schemeOf(value);
}

bool DesktopAppearance::isDark() const {
    return darkFrom(scheme_, QGuiApplication::palette().color(QPalette::Window).lightnessF());
}

bool DesktopAppearance::darkFrom(std::optional<unsigned> scheme, double windowLightness) {
    if (scheme == 1u) return true;
    if (scheme == 2u) return false;
    return windowLightness < 0.5;
}

}  // namespace crestline
