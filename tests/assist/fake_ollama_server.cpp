#include "fake_ollama_server.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <memory>

namespace perchwell::testing {

FakeOllamaServer::FakeOllamaServer(const QHostAddress& address) {
    server_.listen(address, 0);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            ++connections;
            mostOpenAtOnce = std::max(mostOpenAtOnce, ++open_);
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                --open_;
                socket->deleteLater();
            });
            serve(socket);
        }
    });
}

QUrl FakeOllamaServer::url() const {
    return QUrl(
        QStringLiteral("http://%1:%2").arg(server_.serverAddress().toString()).arg(server_.serverPort()));
}

void FakeOllamaServer::serve(QTcpSocket* socket) {
    auto buffer = std::make_shared<QByteArray>();
    connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
        buffer->append(socket->readAll());
        const qsizetype headEnd = buffer->indexOf("\r\n\r\n");
        if (headEnd < 0) {
            return;
        }
        const QByteArray head = buffer->left(headEnd);
        qsizetype length = 0;
        for (const QByteArray& line : head.split('\n')) {
            if (line.toLower().startsWith("content-length:")) {
                length = line.mid(15).trimmed().toLongLong();
            }
        }
        if (buffer->size() < headEnd + 4 + length) {
            return;
        }
        const QList<QByteArray> first = head.left(head.indexOf("\r\n")).split(' ');
        Request request{first.value(0), first.value(1), buffer->mid(headEnd + 4, length)};
        buffer->clear();
        requests << request;
        answer(socket, request);
    });
}

void FakeOllamaServer::answer(QTcpSocket* socket, const Request& request) {
    const Response response =
        routes_.value(request.method + ' ' + request.path, Response{404, "404 page not found"});
    if (response.silent) {
        return;
    }
    QPointer<QTcpSocket> guarded(socket);
    QTimer::singleShot(response.delayMs, this, [guarded, response] {
        if (!guarded) {
            return;
        }
        QByteArray head =
            "HTTP/1.1 " + QByteArray::number(response.status) + " Scripted\r\nConnection: close\r\n";
        head += "Content-Type: application/json\r\n";
        if (!response.location.isEmpty()) {
            head += "Location: " + response.location + "\r\n";
        }
        if (response.lines.isEmpty()) {
            head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n\r\n";
            guarded->write(head + response.body);
        } else {
            guarded->write(head + "\r\n");
            for (const QByteArray& line : response.lines) {
                guarded->write(line + "\n");
                guarded->flush();
            }
        }
        guarded->disconnectFromHost();
    });
}

} // namespace perchwell::testing
