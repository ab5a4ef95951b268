#pragma once

#include "api/api_types.h"
#include "api/auth_token_cache.h"
#include "api/http_request.h"
#include "api/http_response.h"
#include "api/keychain.h"
#include "common/app_logger.h"
#include "common/result.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

class QTcpServer;
class QTcpSocket;

namespace perchwell {

class Coordinator;
class MascotControlling;
class SettingsStore;
class WorkflowStore;

// The loopback HTTP server of the local API: REST routes, an event stream and the MCP
// endpoint, guarded by a bearer token. Bound to 127.0.0.1 only; one request per
// connection. Main thread only.
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
    };

    static constexpr int receiveChunkBytes = 64'000;
    static constexpr int sessionListLimit = 100;

    // `keychain` null: the platform's (Secret Service when it answers, else a file),
    // chosen when the token is first needed.
    explicit MCPServer(SettingsStore& store, std::shared_ptr<Keychain> keychain = nullptr,
                       QObject* parent = nullptr);
    ~MCPServer() override;

    // Held weakly: a component that is gone is skipped.
    void setCoordinator(Coordinator* coordinator);
    void setMascot(MascotControlling* mascot);
    // The open transcript store, or null while there is none. The owner clears it before
    // destroying the store.
    void setWorkflowStore(WorkflowStore* store);
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
    quint16 port() const;
    int openConnectionCount() const { return static_cast<int>(connections_.size()); }
    int eventStreamCount() const { return static_cast<int>(sseConnections_.size()); }

    // The token, loaded or made on first use; an error while the keychain cannot be read
    // (nothing is made then, and the next request tries again).
    Result<std::string> ensureAuthToken() { return tokens_.token(); }
    bool isAuthorized(const HTTPRequest& request);
    ControlOutcome handleControl(MCPControlRequest::Action action);
    MCPStateResponse currentState() const;

    static quint16 clampedPort(qint64 port);

signals:
    void isListeningChanged(bool listening);
    void lastErrorChanged(const QString& error);

private:
    enum class Phase { reading, answering, streaming };
    struct Connection {
        std::string buffer;
        Phase phase = Phase::reading;
        QElapsedTimer since;
    };

    void setListening(bool listening);
    void setLastError(const QString& error);
    void acceptConnections();
    void receive(QTcpSocket* socket);
    // Closes at once and forgets; forget alone follows a close the peer or Qt made.
    void drop(QTcpSocket* socket);
    void forget(QTcpSocket* socket);
    void sweepDeadlines();
    Connection* connectionFor(QTcpSocket* socket);

    void route(const HTTPRequest& request, QTcpSocket* socket);
    void sendRaw(int status, const std::string& contentType, const std::string& body, QTcpSocket* socket);
    void send(const HTTPResponse& response, QTcpSocket* socket);
    void attachSSE(QTcpSocket* socket);
    void sseSend(const std::string& line, QTcpSocket* socket);
    void handleListSessions(QTcpSocket* socket);
    void handleSetSessionPolicy(const std::optional<std::string>& body, QTcpSocket* socket);
    void handleMCP(const std::optional<std::string>& body, QTcpSocket* socket);

    MascotControlling* mascot() const;

    SettingsStore& store_;
    AppLogger log_{"mcp"};
    AuthTokenCache tokens_;
    AppLogger coordLog_{"coord"};
    QPointer<Coordinator> coordinator_;
    MascotControlling* mascot_ = nullptr;
    QPointer<QObject> mascotObject_; // tracks the mascot's lifetime when it is a QObject
    WorkflowStore* workflowStore_ = nullptr;
    Limits limits_;

    QTcpServer* listener_ = nullptr;
    std::unordered_map<QTcpSocket*, Connection> connections_;
    std::vector<QPointer<QTcpSocket>> sseConnections_;
    QTimer deadlineTimer_;
    bool isListening_ = false;
    QString lastError_;
};

} // namespace perchwell
