// libFuzzer target: any bytes through the request parser, the incremental reader the
// server uses (in several piece sizes, which must all agree with the one-shot parse and
// keep the head search linear), the route table and, for a parsed body, the MCP and
// control decoders. Built by the `fuzz` preset; run with fuzz/run.sh.
#include "api/api_route.h"
#include "api/api_types.h"
#include "api/http_request.h"
#include "api/http_request_reader.h"
#include "api/mcp_protocol.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

// Feeds `buffer` in pieces to a reader limited to `limit` bytes and checks it against
// the one-shot parse.
void readInPieces(std::string_view buffer, size_t piece, size_t limit,
                  const std::optional<perchwell::HTTPRequest>& oneShot) {
    using State = perchwell::HTTPRequestReader::State;
    perchwell::HTTPRequestReader reader(limit);
    size_t appends = 0;
    for (size_t at = 0;
         at < buffer.size() && reader.state() != State::complete && reader.state() != State::tooLarge;
         at += piece, ++appends) {
        const auto bytes = buffer.substr(at, piece);
        check(reader.append(bytes) <= bytes.size());
    }
    // Each piece is searched once, plus the three bytes a terminator may straddle.
    check(reader.scannedBytes() <= buffer.size() + 3 * appends);
    if (reader.state() == State::complete) {
        check(reader.announcedSize() <= limit);
    }
    if (limit < buffer.size()) {
        return; // the limit may refuse what the unlimited parse takes
    }
    check((reader.state() == State::complete) == oneShot.has_value());
    if (oneShot) {
        const perchwell::HTTPRequest request = reader.take();
        check(request.method == oneShot->method && request.path == oneShot->path &&
              request.headers == oneShot->headers && request.body == oneShot->body);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view buffer(reinterpret_cast<const char*>(data), size);
    const auto request = perchwell::HTTPRequest::parse(buffer);
    for (const size_t piece : {size_t{1}, size_t{7}, size_t{4096}}) {
        readInPieces(buffer, piece, SIZE_MAX, request);
    }
    readInPieces(buffer, 13, 256, request);
    if (!request) {
        return 0;
    }
    // Invariants: the body never reaches past the buffer and is never empty.
    check(!request->body || (!request->body->empty() && request->body->size() <= size));
    check(!request->method.empty() && !request->path.empty());
    (void)perchwell::matchRoute(*request);
    (void)perchwell::MCPControlRequest::decode(request->body);
    (void)perchwell::SessionPolicyRequest::decode(request->body);
    const perchwell::MCPProtocol::Handlers handlers{
        [] { return perchwell::MCPStateResponse{}; },
        [](perchwell::MCPControlRequest::Action) { return perchwell::ControlOutcome{}; }};
    const auto response = perchwell::MCPProtocol::handleMCP(request->body, handlers);
    (void)response.serialize();
    return 0;
}
