#pragma once

#include "api/http_response.h"

#include <QPointer>
#include <cstdint>
#include <string_view>

namespace perchwell {

class MCPServer;

// Where a route handler's answer goes: one connection of the server. Cheap to copy and
// safe to keep for an answer that comes later: once the server or the connection is
// gone, it does nothing. Main thread only.
class ApiReply {
public:
    ApiReply() = default;
    ApiReply(MCPServer* server, uint64_t connection);

    // One complete answer; the connection closes once it is written. Later calls on the
    // same connection do nothing.
    void send(const HTTPResponse& response) const;
    // Turns the connection into an event stream that stays open, and writes `bytes`.
    void openEventStream(std::string_view bytes) const;
    // Writes more of the event stream; false when the stream is gone.
    bool streamSend(std::string_view bytes) const;

private:
    QPointer<MCPServer> server_;
    uint64_t connection_ = 0;
};

} // namespace perchwell
