#pragma once

#include "api/api_route.h"
#include "api/api_route_handlers.h"
#include "api/auth_token_cache.h"
#include "api/http_request_reader.h"
#include "api/http_response.h"
#include "api/keychain.h"
#include "common/app_logger.h"
#include "common/result.h"
#include "common/unique_fd.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class QSocketNotifier;

namespace perchwell {

class Coordinator;
class MascotControlling;
class SettingsStore;
class WorkflowStore;

// The loopback HTTP server of the local API: the transport under the routes of
// ApiRouteHandlers. Bound to 127.0.0.1 only; one request per connection. It accepts,
// reads each request (checking the bearer token as soon as the head is in, before any
// body), keeps the deadlines and the buffer limits, and writes the answers. The sockets
// are its own, non-blocking and watched on the main thread, so that a peer that has
// finished sending still gets its answer and an accept error only pauses accepting.
// Main thread only.
class MCPServer : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isListening READ isListening NOTIFY isListeningChanged)
    Q_PROPERTY(QString lastError READ lastError NOTIFY lastErrorChanged)

public:
    struct Limits {
        // A connection must deliver its whole request within this time; event streams and
        // connections awaiting their answer are exempt.
        int requestDeadlineMs = 10'000;
        // Beyond this many open connections, new ones wait in the listen backlog.
        int maxConnections = 256;
        // Request bytes held across all connections (a head announcing a body holds its
        // whole size); a request that would go past it is answered 503.
        size_t maxBufferedBytes = 64u * 1024 * 1024;
        // After an accept error (no descriptors left, say), accepting rests this long.
        int acceptRetryMs = 200;
        // An answer sent before the whole request was read is followed by reading and
        // dropping the rest for at most this long, so that the peer sees the answer
        // rather than a reset.
        int lingerMs = 2'000;
    };
    static constexpr int receiveChunkBytes = 64'000;

    // `keychain` null: the platform's (Secret Service when it answers, else a file),
    // chosen when the token is first needed.
    explicit MCPServer(SettingsStore& store, std::shared_ptr<Keychain> keychain = nullptr,
                       QObject* parent = nullptr);
    ~MCPServer() override;

    void setCoordinator(Coordinator* coordinator) { handlers_.setCoordinator(coordinator); }
    void setMascot(MascotControlling* mascot) { handlers_.setMascot(mascot); }
    void setWorkflowStore(WorkflowStore* store) { handlers_.setWorkflowStore(store); }
    void setLimits(Limits limits) { limits_ = limits; }

    // (Re)starts listening on the port of `mcpPort`, clamped to 1024...65535. Failures
    // land in lastError.
    void start();
    // Stops listening and drops the event streams and the connections still sending
    // their request. Idempotent.
    void stop();

    bool isListening() const { return isListening_; }
    // Null when there is no error.
    QString lastError() const { return lastError_; }
    // The port listened on, 0 when not listening.
    quint16 port() const { return isListening_ ? port_ : 0; }
    int openConnectionCount() const { return static_cast<int>(connections_.size()); }
    int eventStreamCount() const { return static_cast<int>(streams_.size()); }
    // Request bytes held now, against Limits::maxBufferedBytes.
    size_t bufferedBytes() const { return bufferedBytes_; }
    // Bytes examined while looking for the ends of request heads, since construction.
    uint64_t headBytesScanned() const { return headBytesScanned_; }
    // True from an accept error until accepting works again.
    bool acceptingPaused() const { return acceptFailing_; }

    // The token, loaded or made on first use; an error while the keychain cannot be read
    // (nothing is made then, and the next request tries again).
    Result<std::string> ensureAuthToken() { return tokens_.token(); }
    bool isAuthorized(const HTTPRequest& request);

    ApiRouteHandlers& handlers() { return handlers_; }

    static quint16 clampedPort(qint64 port);

signals:
    void isListeningChanged(bool listening);
    void lastErrorChanged(const QString& error);

private:
    friend class ApiReply;

    enum class Phase {
        reading,   // the request is still arriving
        answering, // the request is in (or was cut short); its answer is pending or being written
        streaming, // an event stream: stays open
        closing,   // answered early: the rest of the request is read and dropped
    };
    struct Connection {
        uint64_t id = 0;
        UniqueFd fd;
        std::unique_ptr<QSocketNotifier> readable; // made when first needed
        std::unique_ptr<QSocketNotifier> writable;
        HTTPRequestReader request;
        ApiRoute route = ApiRoute::notFound;
        Phase phase = Phase::reading;
        QElapsedTimer since;
        std::string outbox; // bytes not yet taken by the kernel, from outboxSent on
        size_t outboxSent = 0;
        bool answered = false;     // an answer was queued; the connection closes once it is written
        bool peerFinished = false; // the peer has shut down its side
        bool linger = false;       // the peer may still be sending
        size_t charged = 0;        // bytes held against Limits::maxBufferedBytes
    };

    void setListening(bool listening);
    void setLastError(const QString& error);
    void closeListener();
    void acceptConnections();
    void pauseAccepting(int error);
    void resumeAccepting();
    void addConnection(int fd);
    enum class Direction { read, write };
    // Watches the connection for reading or writing, or stops; made on first need.
    void watch(Connection& connection, Direction direction, bool enabled);
    Connection* find(uint64_t id);
    // Closes at once and forgets, releasing what the connection held.
    void closeConnection(uint64_t id);
    void sweepDeadlines();
    int sweepIntervalMs() const;

    void onReadable(uint64_t id);
    void readRequest(Connection& connection, std::string_view bytes);
    bool checkToken(Connection& connection);
    bool charge(Connection& connection);
    void release(Connection& connection);
    void peerFinished(uint64_t id);
    void receiveFailed(uint64_t id, int error);
    // An answer to a request not read to its end: the rest is dropped while it is written.
    void answerEarly(Connection& connection, const HTTPResponse& response);

    void queue(Connection& connection, std::string_view bytes);
    void flush(uint64_t id);
    void finishAnswer(uint64_t id);
    void sendFailed(uint64_t id, int error);

    // Used through ApiReply.
    void sendOn(uint64_t id, const HTTPResponse& response);
    void openStreamOn(uint64_t id, std::string_view bytes);
    bool streamSendOn(uint64_t id, std::string_view bytes);

    SettingsStore& store_;
    AppLogger log_{"mcp"};
    ApiRouteHandlers handlers_;
    AuthTokenCache tokens_;
    Limits limits_;

    UniqueFd listener_;
    std::unique_ptr<QSocketNotifier> acceptable_;
    quint16 port_ = 0;
    QTimer acceptRetryTimer_;
    bool acceptFailing_ = false;
    QTimer deadlineTimer_;
    uint64_t nextConnectionId_ = 0;
    std::unordered_map<uint64_t, std::unique_ptr<Connection>> connections_;
    std::unordered_set<uint64_t> streams_;
    std::vector<char> receiveBuffer_;
    size_t bufferedBytes_ = 0;
    uint64_t headBytesScanned_ = 0;
    bool isListening_ = false;
    QString lastError_;
};

} // namespace perchwell
