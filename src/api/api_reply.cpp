#include "api/api_reply.h"

#include "api/mcp_server.h"

namespace perchwell {

ApiReply::ApiReply(MCPServer* server, uint64_t connection) : server_(server), connection_(connection) {}

void ApiReply::send(const HTTPResponse& response) const {
    if (server_) {
        server_->sendOn(connection_, response);
    }
}

void ApiReply::openEventStream(std::string_view bytes) const {
    if (server_) {
        server_->openStreamOn(connection_, bytes);
    }
}

bool ApiReply::streamSend(std::string_view bytes) const {
    return server_ && server_->streamSendOn(connection_, bytes);
}

} // namespace perchwell
