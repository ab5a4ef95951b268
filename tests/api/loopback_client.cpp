#include "loopback_client.h"

#include "common/utf8.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>

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
