#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QTcpServer>
#include <QUrl>

namespace perchwell::testing {

// A stand-in Ollama server on loopback: each route ("POST /api/generate") answers
// what the test scripted, and every request is recorded.
class FakeOllamaServer : public QObject {
    Q_OBJECT

public:
    struct Response {
        Response(int status = 200, QByteArray body = {}, QList<QByteArray> lines = {}, int delayMs = 0)
            : status(status), body(std::move(body)), lines(std::move(lines)), delayMs(delayMs) {}
        static Response silence() {
            Response r;
            r.silent = true;
            return r;
        }
        static Response redirect(QByteArray location) {
            Response r(302);
            r.location = std::move(location);
            return r;
        }

        int status = 200;
        QByteArray body;
        QList<QByteArray> lines; // streamed one by one (then the connection closes)
        int delayMs = 0;         // before answering
        bool silent = false;     // never answers
        QByteArray location;     // a Location header
    };
    struct Request {
        QByteArray method;
        QByteArray path;
        QByteArray body;
    };

    explicit FakeOllamaServer(const QHostAddress& address = QHostAddress::LocalHost);

    QUrl url() const;
    void route(const QByteArray& methodAndPath, Response response) {
        routes_[methodAndPath] = std::move(response);
    }

    QList<Request> requests;
    int connections = 0;
    int mostOpenAtOnce = 0;

private:
    void serve(class QTcpSocket* socket);
    void answer(QTcpSocket* socket, const Request& request);

    QTcpServer server_;
    QMap<QByteArray, Response> routes_;
    int open_ = 0;
};

} // namespace perchwell::testing
