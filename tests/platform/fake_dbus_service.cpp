// Stand-in D-Bus services for the keepalive's backends, each appending what it is asked
// to a log file, one line per event:
//   fake_dbus_service logind <log> [refuse]   org.freedesktop.login1 on the system bus
//   fake_dbus_service notifications <log>     org.freedesktop.Notifications on the session bus
//   fake_dbus_service power-management <log>  org.freedesktop.PowerManagement.Inhibit on the session bus
// "ready" is logged once the name is owned.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMetaType>
#include <QDBusUnixFileDescriptor>
#include <QFile>
#include <QSocketNotifier>
#include <QStringList>
#include <QVariantMap>
#include <fcntl.h>
#include <map>
#include <unistd.h>

// One row of ListInhibitors: what, who, why, mode, uid, pid.
struct Inhibitor {
    QString what, who, why, mode;
    uint uid = 0, pid = 0;
};
Q_DECLARE_METATYPE(Inhibitor)
Q_DECLARE_METATYPE(QList<Inhibitor>)

QDBusArgument& operator<<(QDBusArgument& out, const Inhibitor& i) {
    out.beginStructure();
    out << i.what << i.who << i.why << i.mode << i.uid << i.pid;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, Inhibitor& i) {
    in.beginStructure();
    in >> i.what >> i.who >> i.why >> i.mode >> i.uid >> i.pid;
    in.endStructure();
    return in;
}

namespace {

QFile logFile;

void logLine(const QString& line) {
    logFile.write((line + QLatin1Char('\n')).toUtf8());
    logFile.flush();
}

class Login1Manager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    explicit Login1Manager(bool refuse) : refuse_(refuse) {}

public slots:
    // What `systemd-inhibit --list` shows.
    QList<Inhibitor> ListInhibitors() {
        QList<Inhibitor> rows;
        for (const auto& [id, inhibitor] : held_) {
            rows.append(inhibitor);
        }
        return rows;
    }

    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why,
                                    const QString& mode) {
        const int id = ++count_;
        logLine(
            QStringLiteral("inhibit id=%1 what=%2 who=%3 mode=%4 why=%5").arg(id).arg(what, who, mode, why));
        if (refuse_) {
            sendErrorReply(QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                           QStringLiteral("Permission denied"));
            return {};
        }
        // As logind does: the caller gets one end of a pipe, and the inhibitor ends when
        // every copy of it is closed.
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            sendErrorReply(QStringLiteral("org.freedesktop.DBus.Error.Failed"), QStringLiteral("pipe"));
            return {};
        }
        const uint pid = connection().interface()->servicePid(message().service());
        held_[id] = Inhibitor{what, who, why, mode, ::getuid(), pid};
        auto* notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this, notifier, id] {
            char byte;
            if (::read(static_cast<int>(notifier->socket()), &byte, 1) <= 0) {
                held_.erase(id);
                logLine(QStringLiteral("closed id=%1").arg(id));
                notifier->setEnabled(false);
                ::close(static_cast<int>(notifier->socket()));
                notifier->deleteLater();
            }
        });
        QDBusUnixFileDescriptor handed(fds[1]); // duplicates it
        ::close(fds[1]);
        return handed;
    }

private:
    bool refuse_;
    int count_ = 0;
    std::map<int, Inhibitor> held_;
};

class Notifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public slots:
    uint Notify(const QString& app, uint replaces, const QString&, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap& hints, int) {
        logLine(QStringLiteral("notify app=%1 replaces=%2 sound=%3 summary=%4 body=%5")
                    .arg(app)
                    .arg(replaces)
                    .arg(hints.value(QStringLiteral("sound-name")).toString(), summary, body));
        return ++count_;
    }

private:
    uint count_ = 0;
};

class PowerManagementInhibit : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.PowerManagement.Inhibit")
public slots:
    uint Inhibit(const QString& app, const QString& why) {
        logLine(QStringLiteral("session-inhibit cookie=%1 app=%2 why=%3").arg(++count_).arg(app, why));
        return count_;
    }
    void UnInhibit(uint cookie) { logLine(QStringLiteral("session-uninhibit cookie=%1").arg(cookie)); }

private:
    uint count_ = 0;
};

bool serve(QDBusConnection bus, const QString& name, const QString& path, QObject* object) {
    return bus.isConnected() && bus.registerObject(path, object, QDBusConnection::ExportAllSlots) &&
           bus.registerService(name);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    qDBusRegisterMetaType<Inhibitor>();
    qDBusRegisterMetaType<QList<Inhibitor>>();
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        return 2;
    }
    logFile.setFileName(args.at(2));
    if (!logFile.open(QIODevice::Append)) {
        return 2;
    }
    const QString mode = args.at(1);
    bool served = false;
    if (mode == QLatin1String("logind")) {
        served = serve(QDBusConnection::systemBus(), QStringLiteral("org.freedesktop.login1"),
                       QStringLiteral("/org/freedesktop/login1"),
                       new Login1Manager(args.value(3) == QLatin1String("refuse")));
    } else if (mode == QLatin1String("notifications")) {
        served = serve(QDBusConnection::sessionBus(), QStringLiteral("org.freedesktop.Notifications"),
                       QStringLiteral("/org/freedesktop/Notifications"), new Notifications);
    } else if (mode == QLatin1String("power-management")) {
        served =
            serve(QDBusConnection::sessionBus(), QStringLiteral("org.freedesktop.PowerManagement.Inhibit"),
                  QStringLiteral("/org/freedesktop/PowerManagement/Inhibit"), new PowerManagementInhibit);
    }
    if (!served) {
        logLine(QStringLiteral("failed"));
        return 1;
    }
    logLine(QStringLiteral("ready"));
    return app.exec();
}

#include "fake_dbus_service.moc"
