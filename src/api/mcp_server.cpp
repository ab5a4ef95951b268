#include "api/mcp_server.h"

#include "api/api_reply.h"
#include "api/platform_keychain.h"
#include "state/settings_store.h"

#include <QSocketNotifier>
#include <QThread>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <utility>

namespace perchwell {
namespace {

constexpr const char* unauthorizedMessage = "unauthorized — missing or invalid Authorization: Bearer header";

// Reads per wake-up of one connection, and connections taken per wake-up of the
// listener, so that one fast peer cannot hold the loop the mascot shares.
constexpr int readsPerWakeup = 16;
constexpr int acceptsPerWakeup = 64;

std::string describe(int error) {
    return std::strerror(error);
}

// Disables a notifier and deletes it once control is back in the event loop: it may be
// the one whose signal is being handled.
void retire(std::unique_ptr<QSocketNotifier>& notifier) {
    if (notifier) {
        notifier->setEnabled(false);
        notifier.release()->deleteLater();
    }
}

} // namespace

MCPServer::MCPServer(SettingsStore& store, std::shared_ptr<Keychain> keychain, QObject* parent)
    : QObject(parent), store_(store), handlers_(store),
      tokens_(
          [keychain = std::move(keychain)] {
              // Chosen on first use: a keyring that needs unlocking is nothing anybody who
              // leaves the API off should hear about.
              return keychain ? keychain : platformKeychain(KeychainPrompting::never);
          },
          log_),
      receiveBuffer_(receiveChunkBytes) {
    connect(&deadlineTimer_, &QTimer::timeout, this, &MCPServer::sweepDeadlines);
    acceptRetryTimer_.setSingleShot(true);
    connect(&acceptRetryTimer_, &QTimer::timeout, this, &MCPServer::resumeAccepting);
}

MCPServer::~MCPServer() {
    closeListener();
    // Connections still awaiting an answer go now, while the maps they report to exist.
    for (auto& [id, connection] : connections_) {
        connection->readable.reset();
        connection->writable.reset();
    }
    connections_.clear();
}

quint16 MCPServer::clampedPort(qint64 port) {
    return static_cast<quint16>(std::clamp<qint64>(port, 1024, 65535));
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

    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int reuse = 1;
    if (!fd.valid() || ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0 ||
        ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd.get(), SOMAXCONN) != 0) {
        const QString description = QString::fromStdString(describe(errno));
        setListening(false);
        setLastError(description);
        log_.error("MCP start failed: " + description.toStdString());
        return;
    }
    listener_ = std::move(fd);
    port_ = port;
    acceptable_ = std::make_unique<QSocketNotifier>(listener_.get(), QSocketNotifier::Read);
    connect(acceptable_.get(), &QSocketNotifier::activated, this, &MCPServer::acceptConnections);
    log_.info("MCP/HTTP starting on 127.0.0.1:" + std::to_string(port));
    deadlineTimer_.start(sweepIntervalMs());
    setListening(true);
}

void MCPServer::closeListener() {
    retire(acceptable_);
    listener_.reset();
    acceptRetryTimer_.stop();
    acceptFailing_ = false;
}

void MCPServer::stop() {
    closeListener();
    // Event streams and connections still sending their request go; those awaiting an
    // answer from the store still get it, and early answers finish being written.
    std::vector<uint64_t> dropped;
    for (const auto& [id, connection] : connections_) {
        if (connection->phase == Phase::reading || connection->phase == Phase::streaming) {
            dropped.push_back(id);
        }
    }
    for (uint64_t id : dropped) {
        closeConnection(id);
    }
    setListening(false);
}

int MCPServer::sweepIntervalMs() const {
    return std::clamp(std::min(limits_.requestDeadlineMs, limits_.lingerMs) / 4, 10, 1000);
}

void MCPServer::acceptConnections() {
    // The notifier brings us back for the rest of the backlog.
    for (int taken = 0; taken < acceptsPerWakeup && listener_.valid(); ++taken) {
        if (static_cast<int>(connections_.size()) >= limits_.maxConnections) {
            // The rest wait in the backlog until a connection closes.
            acceptable_->setEnabled(false);
            return;
        }
        const int fd = ::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        const int error = errno;
        if (fd < 0 && (error == EINTR || error == ECONNABORTED)) {
            continue;
        }
        if (fd < 0 && error != EAGAIN && error != EWOULDBLOCK) {
            pauseAccepting(error);
            return;
        }
        if (acceptFailing_) {
            acceptFailing_ = false;
            log_.info("MCP accepting connections again");
        }
        if (fd < 0) {
            return;
        }
        addConnection(fd);
    }
}

void MCPServer::pauseAccepting(int error) {
    // Out of descriptors or memory, say: the listener stays, and so does the connection
    // waiting in the backlog. Accepting rests, then tries again.
    acceptable_->setEnabled(false);
    if (!acceptFailing_) {
        acceptFailing_ = true;
        log_.warning("MCP accept failed: " + describe(error) + " — retrying in " +
                     std::to_string(limits_.acceptRetryMs) + " ms");
    }
    acceptRetryTimer_.start(limits_.acceptRetryMs);
}

void MCPServer::resumeAccepting() {
    if (!acceptable_ || static_cast<int>(connections_.size()) >= limits_.maxConnections) {
        return;
    }
    acceptable_->setEnabled(true);
    acceptConnections();
}

void MCPServer::addConnection(int fd) {
    auto connection = std::make_unique<Connection>();
    const uint64_t id = ++nextConnectionId_;
    connection->id = id;
    connection->fd.reset(fd);
    connection->since.start();
    connections_.emplace(id, std::move(connection));
    if (!deadlineTimer_.isActive()) {
        deadlineTimer_.start(sweepIntervalMs());
    }
    // The request often arrives with the connection, and is then answered without the
    // connection ever being watched.
    onReadable(id);
}

void MCPServer::watch(Connection& connection, Direction direction, bool enabled) {
    auto& notifier = direction == Direction::read ? connection.readable : connection.writable;
    if (!notifier) {
        if (!enabled) {
            return;
        }
        notifier = std::make_unique<QSocketNotifier>(connection.fd.get(), direction == Direction::read
                                                                              ? QSocketNotifier::Read
                                                                              : QSocketNotifier::Write);
        const uint64_t id = connection.id;
        if (direction == Direction::read) {
            connect(notifier.get(), &QSocketNotifier::activated, this, [this, id] { onReadable(id); });
        } else {
            connect(notifier.get(), &QSocketNotifier::activated, this, [this, id] { flush(id); });
        }
    }
    notifier->setEnabled(enabled);
}

MCPServer::Connection* MCPServer::find(uint64_t id) {
    const auto it = connections_.find(id);
    return it == connections_.end() ? nullptr : it->second.get();
}

void MCPServer::closeConnection(uint64_t id) {
    const auto it = connections_.find(id);
    if (it == connections_.end()) {
        return;
    }
    std::unique_ptr<Connection> connection = std::move(it->second);
    connections_.erase(it);
    streams_.erase(id);
    release(*connection);
    retire(connection->readable);
    retire(connection->writable);
    connection->fd.reset();
    if (acceptable_ && !acceptRetryTimer_.isActive() &&
        static_cast<int>(connections_.size()) < limits_.maxConnections && !acceptable_->isEnabled()) {
        acceptable_->setEnabled(true);
        QMetaObject::invokeMethod(this, &MCPServer::acceptConnections, Qt::QueuedConnection);
    }
}

void MCPServer::sweepDeadlines() {
    std::vector<uint64_t> expired;
    for (const auto& [id, connection] : connections_) {
        if ((connection->phase == Phase::reading &&
             connection->since.hasExpired(limits_.requestDeadlineMs)) ||
            (connection->phase == Phase::closing && connection->since.hasExpired(limits_.lingerMs))) {
            expired.push_back(id);
        }
    }
    for (uint64_t id : expired) {
        closeConnection(id);
    }
    if (connections_.empty() && !listener_.valid()) {
        deadlineTimer_.stop();
    }
}

// --- Reading ------------------------------------------------------------------------

void MCPServer::onReadable(uint64_t id) {
    Q_ASSERT(QThread::currentThread() == thread());
    for (int round = 0; round < readsPerWakeup; ++round) {
        Connection* connection = find(id);
        if (connection == nullptr || connection->peerFinished) {
            return;
        }
        const ssize_t n = ::recv(connection->fd.get(), receiveBuffer_.data(), receiveBuffer_.size(), 0);
        if (n > 0) {
            const std::string_view bytes(receiveBuffer_.data(), static_cast<size_t>(n));
            if (connection->phase == Phase::reading) {
                readRequest(*connection, bytes);
            } else {
                // Only one request per connection: later bytes are dropped, but they say
                // the peer is still sending.
                connection->linger = true;
            }
            continue;
        }
        if (n == 0) {
            peerFinished(id);
            return;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            receiveFailed(id, errno);
            return;
        }
        watch(*connection, Direction::read, true);
        return;
    }
    // More may be waiting: the notifier (level-triggered) brings us back after other work.
    if (Connection* connection = find(id)) {
        watch(*connection, Direction::read, true);
    }
}

void MCPServer::readRequest(Connection& connection, std::string_view bytes) {
    HTTPRequestReader& request = connection.request;
    const uint64_t scannedBefore = request.scannedBytes();
    const bool hadHead = request.headParsed();
    if (request.append(bytes) < bytes.size()) {
        connection.linger = true; // bytes after the request
    }
    headBytesScanned_ += request.scannedBytes() - scannedBefore;

    if (!hadHead && request.headParsed()) {
        connection.route = matchRoute(request.head());
        if (!checkToken(connection)) {
            return;
        }
    }
    if (request.state() == HTTPRequestReader::State::tooLarge) {
        log_.warning("recv: request exceeded " + std::to_string(HTTPRequest::maxRequestBytes) +
                     "B cap, dropping");
        answerEarly(connection, HTTPResponse::error(413, "payload too large"));
        return;
    }
    if (!charge(connection)) {
        HTTPResponse busy =
            HTTPResponse::error(503, "busy — too much request data waiting; try again shortly");
        busy.extraHeaders.emplace_back("Retry-After", "1");
        answerEarly(connection, busy);
        return;
    }
    if (request.state() == HTTPRequestReader::State::complete) {
        const HTTPRequest complete = request.take();
        release(connection);
        connection.phase = Phase::answering;
        handlers_.handle(connection.route, complete, ApiReply(this, connection.id));
    }
}

bool MCPServer::checkToken(Connection& connection) {
    // Before any body is read: a client without the token gets nothing buffered.
    if (isPublic(connection.route)) {
        return true;
    }
    const auto check = tokens_.check(connection.request.head().header("authorization"));
    switch (check.verdict) {
    case AuthTokenCache::Verdict::authorized:
        return true;
    case AuthTokenCache::Verdict::unauthorized:
        answerEarly(connection, HTTPResponse::error(401, unauthorizedMessage));
        return false;
    case AuthTokenCache::Verdict::unavailable:
        answerEarly(connection,
                    HTTPResponse::error(503, "token unavailable: " + check.error + "; try again"));
        return false;
    }
    return false;
}

bool MCPServer::isAuthorized(const HTTPRequest& request) {
    return tokens_.check(request.header("authorization")).verdict == AuthTokenCache::Verdict::authorized;
}

bool MCPServer::charge(Connection& connection) {
    const HTTPRequestReader& request = connection.request;
    // A parsed head holds room for its whole body at once.
    const size_t wanted =
        request.headParsed() ? static_cast<size_t>(request.announcedSize()) : request.buffered();
    if (wanted <= connection.charged) {
        return true;
    }
    const size_t more = wanted - connection.charged;
    if (bufferedBytes_ + more > limits_.maxBufferedBytes) {
        return false;
    }
    bufferedBytes_ += more;
    connection.charged = wanted;
    return true;
}

void MCPServer::release(Connection& connection) {
    bufferedBytes_ -= connection.charged;
    connection.charged = 0;
}

void MCPServer::answerEarly(Connection& connection, const HTTPResponse& response) {
    const HTTPRequestReader& request = connection.request;
    const bool wholeRequestRead = request.headParsed() && request.buffered() >= request.announcedSize();
    connection.linger = connection.linger || !wholeRequestRead;
    connection.request = HTTPRequestReader();
    release(connection);
    connection.phase = Phase::answering;
    sendOn(connection.id, response);
}

void MCPServer::peerFinished(uint64_t id) {
    Connection* connection = find(id);
    if (connection == nullptr) {
        return;
    }
    connection->peerFinished = true;
    connection->linger = false;
    switch (connection->phase) {
    case Phase::answering:
        // Half-closed after sending: the answer still goes out. The end of input stays
        // readable, so stop watching it.
        watch(*connection, Direction::read, false);
        return;
    case Phase::reading:   // gone before a full request: nothing is sent
    case Phase::streaming: // the stream's reader left
    case Phase::closing:
        closeConnection(id);
        return;
    }
}

void MCPServer::receiveFailed(uint64_t id, int error) {
    Connection* connection = find(id);
    if (connection != nullptr && connection->phase == Phase::reading) {
        log_.error("recv error: " + describe(error));
    }
    closeConnection(id);
}

// --- Writing ------------------------------------------------------------------------

void MCPServer::sendOn(uint64_t id, const HTTPResponse& response) {
    Connection* connection = find(id);
    if (connection == nullptr || connection->answered || connection->phase == Phase::streaming) {
        return;
    }
    connection->answered = true;
    connection->phase = Phase::answering;
    queue(*connection, response.serialize());
}

void MCPServer::openStreamOn(uint64_t id, std::string_view bytes) {
    Connection* connection = find(id);
    if (connection == nullptr || connection->answered) {
        return;
    }
    connection->phase = Phase::streaming;
    streams_.insert(id);
    queue(*connection, bytes);
}

bool MCPServer::streamSendOn(uint64_t id, std::string_view bytes) {
    Connection* connection = find(id);
    if (connection == nullptr || connection->phase != Phase::streaming) {
        return false;
    }
    queue(*connection, bytes);
    return find(id) != nullptr;
}

void MCPServer::queue(Connection& connection, std::string_view bytes) {
    connection.outbox.append(bytes);
    flush(connection.id);
}

void MCPServer::flush(uint64_t id) {
    Connection* connection = find(id);
    if (connection == nullptr) {
        return;
    }
    std::string& outbox = connection->outbox;
    while (connection->outboxSent < outbox.size()) {
        const ssize_t n = ::send(connection->fd.get(), outbox.data() + connection->outboxSent,
                                 outbox.size() - connection->outboxSent, MSG_NOSIGNAL);
        if (n >= 0) {
            connection->outboxSent += static_cast<size_t>(n);
            continue;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            watch(*connection, Direction::write, true);
            return;
        }
        sendFailed(id, errno);
        return;
    }
    outbox.clear();
    connection->outboxSent = 0;
    watch(*connection, Direction::write, false);
    if (connection->answered) {
        finishAnswer(id);
    }
}

void MCPServer::finishAnswer(uint64_t id) {
    Connection* connection = find(id);
    if (connection == nullptr) {
        return;
    }
    if (!connection->peerFinished) {
        // Whatever is already there is dropped; if more may come, it is read and dropped
        // for a while, since closing with unread bytes would reset the connection and
        // could destroy the answer before the peer reads it.
        char dropped[16 * 1024];
        for (int round = 0; round < readsPerWakeup; ++round) {
            const ssize_t n = ::recv(connection->fd.get(), dropped, sizeof dropped, 0);
            if (n > 0) {
                connection->linger = true;
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n == 0) {
                connection->peerFinished = true;
            }
            break;
        }
    }
    if (connection->peerFinished || !connection->linger) {
        closeConnection(id);
        return;
    }
    ::shutdown(connection->fd.get(), SHUT_WR);
    connection->phase = Phase::closing;
    connection->since.restart();
    watch(*connection, Direction::read, true);
}

void MCPServer::sendFailed(uint64_t id, int error) {
    Connection* connection = find(id);
    if (connection != nullptr && connection->phase == Phase::answering) {
        log_.warning("sendRaw network send failed: " + describe(error));
    }
    closeConnection(id);
}

} // namespace perchwell
