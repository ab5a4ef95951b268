#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include <utility>

namespace perchwell {

// Runs `work(receiver)` on the main thread later, from any thread, unless the receiver
// is gone by then. The guard is taken on the main thread and read there only.
template <typename T, typename F> void deliverToMainThread(QPointer<T> receiver, F work) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [receiver = std::move(receiver), work = std::move(work)]() mutable {
            if (receiver) {
                work(*receiver);
            }
        },
        Qt::QueuedConnection);
}

} // namespace perchwell
