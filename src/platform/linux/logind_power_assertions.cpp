#include "platform/linux/logind_power_assertions.h"

#include "platform/linux/dbus_error_text.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <fcntl.h>

namespace perchwell {

namespace {

constexpr int callTimeoutMs = 5000;

const QString freedesktopPowerManagement = QStringLiteral("org.freedesktop.PowerManagement.Inhibit");
const QString gnomeSessionManager = QStringLiteral("org.gnome.SessionManager");
// GNOME's "suspend" inhibitor flag: its power daemon skips the idle-sleep timeout while
// one is held.
constexpr quint32 gnomeInhibitSuspend = 4;

QString kindLabel(AssertionKind kind) {
    return kind == AssertionKind::idleSystem ? QStringLiteral("idle sleep")
                                             : QStringLiteral("network client");
}

} // namespace

LogindPowerAssertions::LogindPowerAssertions() = default;

LogindPowerAssertions::~LogindPowerAssertions() {
    for (auto& [id, held] : held_) {
        uninhibitSession(held.session);
    }
}

Result<AssertionId> LogindPowerAssertions::create(AssertionKind kind, const std::string& name) {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        return Error{dbusErrorText(bus.lastError())};
    }
    const QString why =
        QString::fromStdString(name) + QStringLiteral(" (") + kindLabel(kind) + QStringLiteral(")");
    auto call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("idle") << QStringLiteral("Perchwell") << why << QStringLiteral("block");
    const QDBusMessage reply = bus.call(call, QDBus::Block, callTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        return Error{dbusErrorText(QDBusError(reply))};
    }
    const auto descriptor = reply.arguments().value(0).value<QDBusUnixFileDescriptor>();
    UniqueFd inhibitor(descriptor.isValid() ? ::fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 3) : -1);
    if (!inhibitor.valid()) {
        return Error{"org.freedesktop.login1.Manager.Inhibit answered without a usable descriptor"};
    }
    Held held{std::move(inhibitor), {}};
    if (kind == AssertionKind::idleSystem) {
        held.session = inhibitSession(why);
    }
    const AssertionId id = nextId_++;
    held_.emplace(id, std::move(held));
    return id;
}

Result<void> LogindPowerAssertions::release(AssertionId id) {
    auto found = held_.find(id);
    if (found == held_.end()) {
        return Error{"no inhibitor with id " + std::to_string(id)};
    }
    uninhibitSession(found->second.session);
    held_.erase(found); // closes the descriptor, which ends the inhibitor
    return {};
}

LogindPowerAssertions::SessionInhibit LogindPowerAssertions::inhibitSession(const QString& why) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || bus.interface() == nullptr) {
        return {};
    }
    QDBusMessage call;
    QString service;
    if (bus.interface()->isServiceRegistered(freedesktopPowerManagement)) {
        service = freedesktopPowerManagement;
        call = QDBusMessage::createMethodCall(service,
                                              QStringLiteral("/org/freedesktop/PowerManagement/Inhibit"),
                                              service, QStringLiteral("Inhibit"));
        call << QStringLiteral("Perchwell") << why;
    } else if (bus.interface()->isServiceRegistered(gnomeSessionManager)) {
        service = gnomeSessionManager;
        call = QDBusMessage::createMethodCall(service, QStringLiteral("/org/gnome/SessionManager"), service,
                                              QStringLiteral("Inhibit"));
        call << QStringLiteral("Perchwell") << quint32(0) << why << gnomeInhibitSuspend;
    } else {
        return {};
    }
    const QDBusMessage reply = bus.call(call, QDBus::Block, callTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        // The logind inhibitor still holds; only the desktop's own timer is not covered.
        log_.warning("desktop idle inhibit failed service=" + service.toStdString() +
                     " result=" + dbusErrorText(QDBusError(reply)));
        return {};
    }
    return {service, reply.arguments().first().toUInt()};
}

void LogindPowerAssertions::uninhibitSession(const SessionInhibit& inhibit) {
    if (inhibit.service.isEmpty()) {
        return;
    }
    const QString path = inhibit.service == gnomeSessionManager
                             ? QStringLiteral("/org/gnome/SessionManager")
                             : QStringLiteral("/org/freedesktop/PowerManagement/Inhibit");
    const QString method =
        inhibit.service == gnomeSessionManager ? QStringLiteral("Uninhibit") : QStringLiteral("UnInhibit");
    auto call = QDBusMessage::createMethodCall(inhibit.service, path, inhibit.service, method);
    call << inhibit.cookie;
    QDBusConnection::sessionBus().call(call, QDBus::Block, callTimeoutMs);
}

} // namespace perchwell
