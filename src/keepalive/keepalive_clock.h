#pragma once

#include <QDateTime>
#include <functional>

namespace perchwell {

// Now, as the keepalive components see it; tests hand in their own.
using KeepaliveClock = std::function<QDateTime()>;

inline QDateTime systemNow() {
    return QDateTime::currentDateTimeUtc();
}

} // namespace perchwell
