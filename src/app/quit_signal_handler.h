#pragma once

#include "common/unique_fd.h"

#include <QObject>

class QSocketNotifier;

namespace perchwell {

// Turns SIGTERM and SIGINT into an orderly quit of the event loop (and so the
// teardown), instead of the process dying with its socket file left behind. The
// signal handler only writes a byte to a pipe; the event loop does the rest.
class QuitSignalHandler : public QObject {
    Q_OBJECT

public:
    explicit QuitSignalHandler(QObject* parent = nullptr);
    ~QuitSignalHandler() override;

signals:
    void quitRequested(int signalNumber);

private:
    UniqueFd readEnd_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace perchwell
