#include "platform/linux/freedesktop_notifications.h"

#include "platform/linux/dbus_error_text.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace perchwell {

void FreedesktopNotifications::post(const DesktopNotification& notification, Completion done) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (done) {
            done(Error{dbusErrorText(bus.lastError())});
        }
        return;
    }
    QVariantMap hints;
    if (notification.defaultSound) {
        hints.insert(QStringLiteral("sound-name"), QString::fromLatin1(defaultSoundName));
    }
    auto call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // replaces_id 0: the server hands out a fresh id.
    call << QStringLiteral("Perchwell") << quint32(0) << QString()
         << QString::fromStdString(notification.title) << QString::fromStdString(notification.body)
         << QStringList() << hints << qint32(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [done = std::move(done)](QDBusPendingCallWatcher* finished) {
                         finished->deleteLater();
                         const QDBusPendingReply<quint32> reply = *finished;
                         if (!done) {
                             return;
                         }
                         if (reply.isError()) {
                             done(Error{dbusErrorText(reply.error())});
                         } else {
                             done(Result<void>{});
                         }
                     });
}

} // namespace perchwell
