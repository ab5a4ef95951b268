#include "app/quit_signal_handler.h"

#include <QSocketNotifier>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace perchwell {
namespace {

std::atomic<int> signalWriteFd{-1};

extern "C" void forwardSignal(int signalNumber) {
    const int saved = errno;
    const int fd = signalWriteFd.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

} // namespace

QuitSignalHandler::QuitSignalHandler(QObject* parent) : QObject(parent) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    readEnd_.reset(fds[0]);
    signalWriteFd.store(fds[1]);

    struct sigaction action {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);

    notifier_ = new QSocketNotifier(readEnd_.get(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        while (::read(readEnd_.get(), &byte, 1) == 1) {
            emit quitRequested(byte);
        }
    });
}

QuitSignalHandler::~QuitSignalHandler() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    const int writeEnd = signalWriteFd.exchange(-1);
    if (writeEnd >= 0) {
        ::close(writeEnd);
    }
}

} // namespace perchwell
