#pragma once

#include "api/http_request.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace perchwell {

// Collects the bytes of one request as they arrive and tells when its head and then the
// whole request are in. The search for the blank line that ends the head resumes where
// the previous one stopped, so a head that trickles in costs time in proportion to its
// length, not to the square of it.
class HTTPRequestReader {
public:
    enum class State {
        head,      // still looking for the end of the head
        body,      // head parsed; waiting for the announced body
        complete,  // the whole request is in: take() it
        malformed, // the head ended but is no request; bytes are still counted
        tooLarge,  // more than the limit buffered, or a head announcing more than it
    };

    explicit HTTPRequestReader(size_t maxBytes = HTTPRequest::maxRequestBytes) : maxBytes_(maxBytes) {}

    // Takes the next bytes and returns how many belong to this request; bytes after the
    // announced body (a second request, say) are not kept. Nothing is taken once the
    // request is complete or too large.
    size_t append(std::string_view bytes);

    State state() const { return state_; }
    // True once the head has been parsed (also when the announced size is then too large).
    bool headParsed() const { return headParsed_; }
    // Method, path and headers, valid once headParsed(); no body.
    const HTTPRequest& head() const { return request_; }
    // Head, blank line and announced body, valid once headParsed().
    uint64_t announcedSize() const { return announcedSize_; }
    // Bytes taken so far (also those of a malformed head, which are counted, not kept).
    size_t buffered() const { return counted_; }
    // Bytes examined while looking for the end of the head, over this reader's life.
    uint64_t scannedBytes() const { return scannedBytes_; }

    // The complete request, with its body; the reader is left empty. Only when complete.
    HTTPRequest take();

private:
    // Where the head ends (the blank line's start), or npos.
    size_t findHeadEnd();

    size_t maxBytes_;
    State state_ = State::head;
    bool headParsed_ = false;
    std::string buffer_;
    size_t counted_ = 0;
    size_t scanFrom_ = 0;
    size_t bodyStart_ = 0;
    uint64_t announcedSize_ = 0;
    uint64_t scannedBytes_ = 0;
    HTTPRequest request_;
};

} // namespace perchwell
