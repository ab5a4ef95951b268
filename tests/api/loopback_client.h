#pragma once

#include "common/unique_fd.h"

#include <QByteArray>
#include <QTcpSocket>
#include <map>
#include <string>
#include <string_view>

namespace perchwell::testing {

// One HTTP answer as a client sees it.
struct HttpReply {
    bool answered = false; // any bytes arrived
    int status = 0;
    std::string statusLine;
    std::map<std::string, std::string> headers; // lower-cased names
    std::string body;
    std::string raw;

    static HttpReply parse(const std::string& raw);
};

// A loopback client driven by the test's own event loop (the server lives on it too).
class LoopbackClient {
public:
    explicit LoopbackClient(quint16 port);
    bool connected() const { return socket_.state() == QAbstractSocket::ConnectedState; }
    void write(const std::string& bytes);
    // Runs the event loop until the server closes the connection or `timeoutMs` passes.
    bool waitClosed(int timeoutMs = 5000);
    // Runs the event loop for a while, collecting what arrives.
    void pump(int ms);
    std::string received() const { return received_; }
    HttpReply reply() const { return HttpReply::parse(received_); }
    void close() { socket_.abort(); }

private:
    QTcpSocket socket_;
    std::string received_;
};

// A plain non-blocking socket, for what QTcpSocket cannot do: shut down only its sending
// side, or send without reading. Waiting runs the test's event loop, where the server lives.
class RawClient {
public:
    explicit RawClient(quint16 port);
    bool connected() const { return fd_.valid(); }
    // Sends everything, running the event loop while the socket is full; false on an error.
    bool sendAll(std::string_view bytes, int timeoutMs = 5000);
    void shutdownWrite();
    // Collects what arrives until the server closes or `timeoutMs` passes.
    bool readUntilClosed(int timeoutMs = 5000);
    std::string received() const { return received_; }
    HttpReply reply() const { return HttpReply::parse(received_); }

private:
    // Takes what is there; false once the server has closed.
    bool drain();

    UniqueFd fd_;
    std::string received_;
    bool closed_ = false;
};

// Runs the event loop for `ms` milliseconds.
void pumpEvents(int ms);

// Sends `request` on a fresh connection and waits for the answer and the close.
HttpReply exchange(quint16 port, const std::string& request);

// A request with the given head lines and body (Content-Length added when there is one).
std::string httpRequest(const std::string& method, const std::string& path, const std::string& token = {},
                        const std::string& body = {}, const std::string& extraHeaders = {});

} // namespace perchwell::testing
