#include "loopback_client.h"

#include "common/utf8.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace perchwell::testing {

HttpReply HttpReply::parse(const std::string& raw) {
    HttpReply reply;
    reply.raw = raw;
    reply.answered = !raw.empty();
    const auto headEnd = raw.find("\r\n\r\n");
    if (headEnd == std::string::npos) {
        return reply;
    }
    const std::string head = raw.substr(0, headEnd);
    reply.body = raw.substr(headEnd + 4);
    size_t start = 0;
    bool first = true;
    while (start <= head.size()) {
        const auto end = head.find("\r\n", start);
        const std::string line =
            head.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (first) {
            reply.statusLine = line;
            reply.status = std::stoi(line.substr(9, 3));
            first = false;
        } else if (const auto colon = line.find(':'); colon != std::string::npos) {
            reply.headers[utf8::lowercased(line.substr(0, colon))] = line.substr(colon + 2);
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 2;
    }
    return reply;
}

LoopbackClient::LoopbackClient(quint16 port) {
    QObject::connect(&socket_, &QTcpSocket::readyRead, [this] {
        const QByteArray bytes = socket_.readAll();
        received_.append(bytes.constData(), static_cast<size_t>(bytes.size()));
    });
    socket_.connectToHost(QHostAddress::LocalHost, port);
    socket_.waitForConnected(3000);
}

void LoopbackClient::write(const std::string& bytes) {
    socket_.write(bytes.data(), static_cast<qint64>(bytes.size()));
    socket_.flush();
}

bool LoopbackClient::waitClosed(int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (socket_.state() != QAbstractSocket::UnconnectedState && !timer.hasExpired(timeoutMs)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return socket_.state() == QAbstractSocket::UnconnectedState;
}

void pumpEvents(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!timer.hasExpired(ms)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

void LoopbackClient::pump(int ms) {
    pumpEvents(ms);
}

RawClient::RawClient(quint16 port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // On loopback the kernel completes the handshake without the server's loop running.
    if (!fd_.valid() ||
        ::connect(fd_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        fd_.reset();
        return;
    }
    const int flags = ::fcntl(fd_.get(), F_GETFL);
    ::fcntl(fd_.get(), F_SETFL, flags | O_NONBLOCK);
}

bool RawClient::sendAll(std::string_view bytes, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!bytes.empty() && !timer.hasExpired(timeoutMs)) {
        const ssize_t n = ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n > 0) {
            bytes.remove_prefix(static_cast<size_t>(n));
        } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            return false;
        } else {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            drain();
        }
    }
    return bytes.empty();
}

void RawClient::shutdownWrite() {
    ::shutdown(fd_.get(), SHUT_WR);
}

bool RawClient::drain() {
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::recv(fd_.get(), chunk, sizeof chunk, 0);
        if (n > 0) {
            received_.append(chunk, static_cast<size_t>(n));
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            closed_ = true;
        }
        return !closed_;
    }
}

bool RawClient::readUntilClosed(int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (drain() && !timer.hasExpired(timeoutMs)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return closed_;
}

HttpReply exchange(quint16 port, const std::string& request) {
    LoopbackClient client(port);
    client.write(request);
    client.waitClosed();
    return client.reply();
}

std::string httpRequest(const std::string& method, const std::string& path, const std::string& token,
                        const std::string& body, const std::string& extraHeaders) {
    std::string out = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (!token.empty()) {
        out += "Authorization: Bearer " + token + "\r\n";
    }
    if (!body.empty()) {
        out += "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    }
    out += extraHeaders;
    out += "\r\n";
    return out + body;
}

} // namespace perchwell::testing
