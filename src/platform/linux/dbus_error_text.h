#pragma once

#include <QDBusError>
#include <string>

namespace perchwell {

// "org.freedesktop.DBus.Error.ServiceUnknown: The name … was not provided …": the bus
// error's name and its own words, as failures carry them.
inline std::string dbusErrorText(const QDBusError& error) {
    return (error.name() + QStringLiteral(": ") + error.message()).toStdString();
}

} // namespace perchwell
