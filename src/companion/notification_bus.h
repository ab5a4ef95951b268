#pragma once

#include <QObject>
#include <QString>

namespace perchwell {

// The application-wide notification centre of our own: commands posted by name with
// no object, observed by whoever connects. Main thread only.
class NotificationBus : public QObject {
    Q_OBJECT
public:
    static inline const QString agentKeepaliveStartRequested =
        QStringLiteral("PerchwellAgentKeepaliveStartRequested");
    static inline const QString agentKeepaliveStopRequested =
        QStringLiteral("PerchwellAgentKeepaliveStopRequested");

    // The one instance, created on first use and alive until the process ends.
    static NotificationBus& shared();

    // Emits `posted(name)` and, for the two keepalive commands, their own signal.
    void post(const QString& name);

signals:
    void posted(const QString& name);
    void keepaliveStartRequested();
    void keepaliveStopRequested();

private:
    NotificationBus() = default;
};

} // namespace perchwell
