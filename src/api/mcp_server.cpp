#include "api/mcp_server.h"

#include "api/api_route.h"
#include "api/auth_token.h"
#include "api/landing_page.h"
#include "api/mcp_protocol.h"
#include "api/platform_keychain.h"
#include "companion/mascot_controlling.h"
#include "hooks/hook_command.h"
#include "state/coordinator.h"
#include "state/settings_store.h"
#include "workflow/workflow_store.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <algorithm>
#include <utility>

namespace perchwell {
namespace {

constexpr const char* unauthorizedMessage = "unauthorized — missing or invalid Authorization: Bearer header";
constexpr const char* storeUnavailableMessage = "workflow store unavailable";

// Runs `work` on the main thread later, from any thread. The application object lives
// for the whole run, so the call is never posted to a dead receiver.
template <typename F> void onMainThread(F work) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
}

} // namespace

MCPServer::MCPServer(SettingsStore& store, std::shared_ptr<Keychain> keychain, QObject* parent)
    : QObject(parent), store_(store),
      tokens_(
          [keychain = std::move(keychain)] {
              // Chosen on first use: a keyring that needs unlocking is nothing anybody who
              // leaves the API off should hear about.
              return keychain ? keychain : platformKeychain(KeychainPrompting::never);
          },
          log_) {
    connect(&deadlineTimer_, &QTimer::timeout, this, &MCPServer::sweepDeadlines);
}

MCPServer::~MCPServer() {
    stop();
    // Connections still awaiting an answer go now, while the maps they report to exist.
    for (const auto& [socket, connection] : std::exchange(connections_, {})) {
        disconnect(socket, nullptr, this, nullptr);
        socket->abort();
        delete socket;
    }
}

void MCPServer::setCoordinator(Coordinator* coordinator) {
    coordinator_ = coordinator;
}

void MCPServer::setMascot(MascotControlling* mascot) {
    mascot_ = mascot;
    mascotObject_ = dynamic_cast<QObject*>(mascot);
}

MascotControlling* MCPServer::mascot() const {
    // A mascot that is a QObject is held weakly; any other is the owner's to clear.
    if (mascot_ != nullptr && dynamic_cast<QObject*>(mascot_) != nullptr && mascotObject_.isNull()) {
        return nullptr;
    }
    return mascot_;
}

void MCPServer::setWorkflowStore(WorkflowStore* store) {
    workflowStore_ = store;
}

quint16 MCPServer::clampedPort(qint64 port) {
    return static_cast<quint16>(std::clamp<qint64>(port, 1024, 65535));
}

quint16 MCPServer::port() const {
    return listener_ != nullptr && isListening_ ? listener_->serverPort() : 0;
}

void MCPServer::setListening(bool listening) {
    if (isListening_ != listening) {
        isListening_ = listening;
        emit isListeningChanged(listening);
    }
}

void MCPServer::setLastError(const QString& error) {
    if (lastError_ != error || lastError_.isNull() != error.isNull()) {
        lastError_ = error;
        emit lastErrorChanged(error);
    }
}

// --- Listener -----------------------------------------------------------------------

void MCPServer::start() {
    stop();
    setLastError(QString());
    (void)tokens_.token(); // a failure is logged there and tried again on the next request
    const quint16 port = clampedPort(store_.mcpPort());
    listener_ = new QTcpServer(this);
    listener_->setMaxPendingConnections(limits_.maxConnections);
    connect(listener_, &QTcpServer::newConnection, this, &MCPServer::acceptConnections);
    connect(listener_, &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError) {
        const QString description = listener_->errorString();
        listener_->close();
        setListening(false);
        setLastError(description);
        log_.error("MCP listener failed: " + description.toStdString());
    });
    if (!listener_->listen(QHostAddress::LocalHost, port)) {
        const QString description = listener_->errorString();
        listener_->deleteLater();
        listener_ = nullptr;
        setListening(false);
        setLastError(description);
        log_.error("MCP start failed: " + description.toStdString());
        return;
    }
    log_.info("MCP/HTTP starting on 127.0.0.1:" + std::to_string(port));
    deadlineTimer_.start(std::clamp(limits_.requestDeadlineMs / 4, 10, 1000));
    setListening(true);
}

void MCPServer::stop() {
    if (listener_ != nullptr) {
        listener_->close();
        listener_->deleteLater();
        listener_ = nullptr;
    }
    deadlineTimer_.stop();
    const auto streams = std::exchange(sseConnections_, {});
    for (const auto& socket : streams) {
        if (socket) {
            drop(socket);
        }
    }
    // Connections still sending their request go too; those awaiting an answer from the
    // store still get it.
    std::vector<QTcpSocket*> reading;
    for (const auto& [socket, connection] : connections_) {
        if (connection.phase == Phase::reading) {
            reading.push_back(socket);
        }
    }
    for (QTcpSocket* socket : reading) {
        drop(socket);
    }
    setListening(false);
}

void MCPServer::acceptConnections() {
    while (listener_ != nullptr && listener_->hasPendingConnections()) {
        if (static_cast<int>(connections_.size()) >= limits_.maxConnections) {
            // The rest wait in the backlog until a connection closes.
            listener_->pauseAccepting();
            return;
        }
        QTcpSocket* socket = listener_->nextPendingConnection();
        if (socket == nullptr) {
            return;
        }
        socket->setParent(this);
        Connection& connection = connections_[socket];
        connection.since.start();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { receive(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { forget(socket); });
        connect(socket, &QTcpSocket::errorOccurred, this, [this, socket](QAbstractSocket::SocketError error) {
            Connection* c = connectionFor(socket);
            if (c == nullptr || error == QAbstractSocket::RemoteHostClosedError) {
                return;
            }
            if (c->phase == Phase::reading) {
                log_.error("recv error: " + socket->errorString().toStdString());
            } else if (c->phase == Phase::streaming) {
                sseConnections_.erase(std::remove(sseConnections_.begin(), sseConnections_.end(), socket),
                                      sseConnections_.end());
            } else {
                log_.warning("sendRaw network send failed: " + socket->errorString().toStdString());
            }
            drop(socket);
        });
        receive(socket); // bytes may have arrived with the connection
    }
}

MCPServer::Connection* MCPServer::connectionFor(QTcpSocket* socket) {
    const auto it = connections_.find(socket);
    return it == connections_.end() ? nullptr : &it->second;
}

void MCPServer::drop(QTcpSocket* socket) {
    socket->abort();
    forget(socket);
}

void MCPServer::forget(QTcpSocket* socket) {
    if (connections_.erase(socket) == 0) {
        return;
    }
    // An event stream whose peer went away is dropped at once.
    sseConnections_.erase(std::remove(sseConnections_.begin(), sseConnections_.end(), socket),
                          sseConnections_.end());
    socket->deleteLater();
    if (listener_ != nullptr && static_cast<int>(connections_.size()) < limits_.maxConnections) {
        listener_->resumeAccepting();
        if (listener_->hasPendingConnections()) {
            QMetaObject::invokeMethod(this, &MCPServer::acceptConnections, Qt::QueuedConnection);
        }
    }
}

void MCPServer::sweepDeadlines() {
    std::vector<QTcpSocket*> expired;
    for (const auto& [socket, connection] : connections_) {
        if (connection.phase == Phase::reading && connection.since.hasExpired(limits_.requestDeadlineMs)) {
            expired.push_back(socket);
        }
    }
    for (QTcpSocket* socket : expired) {
        drop(socket);
    }
}

void MCPServer::receive(QTcpSocket* socket) {
    Q_ASSERT(QThread::currentThread() == thread());
    Connection* connection = connectionFor(socket);
    if (connection == nullptr) {
        return;
    }
    if (connection->phase != Phase::reading) {
        // Only one request per connection: later bytes are read and dropped, so that a
        // peer that hangs up is still noticed.
        socket->skip(socket->bytesAvailable());
        return;
    }
    while (socket->bytesAvailable() > 0) {
        // Sized to what is there: read(max) would allocate the whole chunk every time.
        const QByteArray chunk = socket->read(std::min<qint64>(socket->bytesAvailable(), receiveChunkBytes));
        connection->buffer.append(chunk.constData(), static_cast<size_t>(chunk.size()));
        if (connection->buffer.size() > HTTPRequest::maxRequestBytes) {
            log_.warning("recv: request exceeded " + std::to_string(HTTPRequest::maxRequestBytes) +
                         "B cap, dropping");
            connection->phase = Phase::answering;
            connection->buffer = std::string();
            send(HTTPResponse::error(413, "payload too large"), socket);
            return;
        }
        if (auto request = HTTPRequest::parse(connection->buffer)) {
            connection->phase = Phase::answering;
            connection->buffer = std::string();
            route(*request, socket);
            return;
        }
    }
}

// --- Responses ----------------------------------------------------------------------

void MCPServer::sendRaw(int status, const std::string& contentType, const std::string& body,
                        QTcpSocket* socket) {
    send(HTTPResponse{status, contentType, body, {}}, socket);
}

void MCPServer::send(const HTTPResponse& response, QTcpSocket* socket) {
    if (connectionFor(socket) == nullptr || socket->state() != QAbstractSocket::ConnectedState) {
        return;
    }
    const std::string bytes = response.serialize();
    socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
    // Hands the bytes to the kernel now rather than on the next loop turn, then closes
    // once everything is written.
    socket->flush();
    socket->disconnectFromHost();
}

// --- Token --------------------------------------------------------------------------

bool MCPServer::isAuthorized(const HTTPRequest& request) {
    return tokens_.check(request.header("authorization")).verdict == AuthTokenCache::Verdict::authorized;
}

// --- Routes -------------------------------------------------------------------------

MCPStateResponse MCPServer::currentState() const {
    return MCPStateResponse{store_.enabled(), store_.mascotEnabled(), store_.safePromptOnly(),
                            store_.mcpPort()};
}

void MCPServer::route(const HTTPRequest& request, QTcpSocket* socket) {
    const ApiRoute route = matchRoute(request);
    if (!isPublic(route)) {
        const auto check = tokens_.check(request.header("authorization"));
        if (check.verdict == AuthTokenCache::Verdict::unauthorized) {
            send(HTTPResponse::error(401, unauthorizedMessage), socket);
            return;
        }
        if (check.verdict == AuthTokenCache::Verdict::unavailable) {
            send(HTTPResponse::error(503, "token unavailable: " + check.error + "; try again"), socket);
            return;
        }
    }
    switch (route) {
    case ApiRoute::health:
        send(HTTPResponse::json(200, {{"ok", true}, {"version", MCPProtocol::serverVersion}}), socket);
        return;
    case ApiRoute::landing:
        sendRaw(200, "text/html; charset=utf-8", landingHTML(store_.mcpPort()), socket);
        return;
    case ApiRoute::mcpDiscovery:
        send(HTTPResponse::json(200, {{"transport", "streamable-http"},
                                      {"name", "perchwell"},
                                      {"instructions", "POST JSON-RPC 2.0 to this same endpoint with header "
                                                       "`Authorization: Bearer <token>`."}}),
             socket);
        return;
    case ApiRoute::mcpNoEventStream: {
        HTTPResponse response = HTTPResponse::error(405, "no server-initiated event stream; POST to /mcp");
        response.extraHeaders.emplace_back("Allow", "GET, POST");
        send(response, socket);
        return;
    }
    case ApiRoute::state:
        send(HTTPResponse::json(200, currentState().toJSON()), socket);
        return;
    case ApiRoute::control: {
        const auto control = MCPControlRequest::decode(request.body);
        if (!control) {
            send(HTTPResponse::error(400, "invalid body"), socket);
            return;
        }
        const ControlOutcome outcome = handleControl(control->action);
        const MCPControlResponse answer{outcome.ok, store_.enabled() ? "running" : "paused", outcome.message};
        send(HTTPResponse::json(200, answer.toJSON()), socket);
        return;
    }
    case ApiRoute::events:
        attachSSE(socket);
        return;
    case ApiRoute::sessions:
        handleListSessions(socket);
        return;
    case ApiRoute::sessionPolicy:
        handleSetSessionPolicy(request.body, socket);
        return;
    case ApiRoute::mcp:
        handleMCP(request.body, socket);
        return;
    case ApiRoute::notFound:
        send(HTTPResponse::error(404, "not found"), socket);
        return;
    }
}

ControlOutcome MCPServer::handleControl(MCPControlRequest::Action action) {
    MascotControlling* mascot = this->mascot();
    switch (action) {
    case MCPControlRequest::Action::pause:
        if (coordinator_) {
            store_.setEnabled(false);
            coordLog_.info("watcher paused");
            if (mascot != nullptr) {
                mascot->set(MascotState::paused());
            }
        }
        break;
    case MCPControlRequest::Action::resume:
        if (coordinator_) {
            store_.setEnabled(true);
            const bool active = coordinator_->suspendCount() == 0;
            coordLog_.info(active ? "watcher active (hook + workflow mode)" : "watcher paused");
            if (mascot != nullptr) {
                mascot->set(active ? MascotState::pacing() : MascotState::paused());
            }
        }
        break;
    case MCPControlRequest::Action::wave:
        if (mascot != nullptr) {
            mascot->set(MascotState::happy());
        }
        break;
    case MCPControlRequest::Action::hide:
        if (mascot != nullptr) {
            mascot->hide();
        }
        break;
    case MCPControlRequest::Action::show:
        if (!store_.mascotEnabled()) {
            return {false, "mascot disabled in settings"};
        }
        if (mascot != nullptr) {
            mascot->show();
        }
        break;
    }
    return {true, std::nullopt};
}

void MCPServer::attachSSE(QTcpSocket* socket) {
    Connection* connection = connectionFor(socket);
    if (connection == nullptr) {
        return;
    }
    connection->phase = Phase::streaming;
    static const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n"
                                    "Cache-Control: no-cache\r\nConnection: keep-alive\r\n\r\n";
    socket->write(head.data(), static_cast<qint64>(head.size()));
    sseConnections_.emplace_back(socket);
    sseSend(":connected\n\n", socket);
}

void MCPServer::sseSend(const std::string& line, QTcpSocket* socket) {
    if (socket->write(line.data(), static_cast<qint64>(line.size())) < 0) {
        drop(socket);
    }
}

void MCPServer::handleListSessions(QTcpSocket* socket) {
    if (workflowStore_ == nullptr) {
        send(HTTPResponse::error(503, storeUnavailableMessage), socket);
        return;
    }
    QPointer<MCPServer> self(this);
    QPointer<QTcpSocket> connection(socket);
    workflowStore_->async(
        [](WorkflowStore& store) { return store.listSessions(sessionListLimit); },
        [self, connection](std::vector<SessionCard> cards) {
            onMainThread([self, connection, cards = std::move(cards)] {
                if (!self || !connection) {
                    return;
                }
                nlohmann::json items = nlohmann::json::array();
                for (const SessionCard& card : cards) {
                    items.push_back(sessionItemJSON(card));
                }
                self->send(HTTPResponse::json(200, {{"sessions", std::move(items)}}), connection);
            });
        });
}

void MCPServer::handleSetSessionPolicy(const std::optional<std::string>& body, QTcpSocket* socket) {
    const auto request = SessionPolicyRequest::decode(body);
    if (!request) {
        send(HTTPResponse::error(400, "invalid body — expected {sessionId, level}"), socket);
        return;
    }
    if (workflowStore_ == nullptr) {
        send(HTTPResponse::error(503, storeUnavailableMessage), socket);
        return;
    }
    QPointer<MCPServer> self(this);
    QPointer<QTcpSocket> connection(socket);
    const SessionPolicyRequest policy = *request;
    workflowStore_->async(
        [policy](WorkflowStore& store) { return store.setSessionPolicy(policy.sessionId, policy.level); },
        [self, connection, policy](Result<void> written) {
            onMainThread([self, connection, policy, written = std::move(written)] {
                if (!self) {
                    return;
                }
                if (!written) {
                    self->log_.error("setSessionPolicy failed: " + written.error().message);
                    self->send(HTTPResponse::error(500, "db write failed: " + written.error().message),
                               connection);
                    return;
                }
                // The table first, then the file the hook reads.
                HookCommand::updateSessionPolicy(policy.sessionId, policy.level);
                if (connection) {
                    self->send(HTTPResponse::json(200, {{"ok", true},
                                                        {"sessionId", policy.sessionId},
                                                        {"level", toString(policy.level)}}),
                               connection);
                }
            });
        });
}

void MCPServer::handleMCP(const std::optional<std::string>& body, QTcpSocket* socket) {
    const MCPProtocol::Handlers handlers{
        [this] { return currentState(); },
        [this](MCPControlRequest::Action action) { return handleControl(action); }};
    send(MCPProtocol::handleMCP(body, handlers), socket);
}

} // namespace perchwell
