#include "api/http_request_reader.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace perchwell {
namespace {

constexpr std::string_view headTerminator = "\r\n\r\n";

} // namespace

size_t HTTPRequestReader::append(std::string_view bytes) {
    switch (state_) {
    case State::complete:
    case State::tooLarge:
        return 0;
    case State::malformed:
        // Nothing will be parsed any more; only the size counts, towards the limit.
        counted_ += bytes.size();
        if (counted_ > maxBytes_) {
            state_ = State::tooLarge;
        }
        return bytes.size();
    case State::body: {
        const size_t taken = static_cast<size_t>(std::min<uint64_t>(announcedSize_ - counted_, bytes.size()));
        buffer_.append(bytes.data(), taken);
        counted_ += taken;
        if (counted_ == announcedSize_) {
            state_ = State::complete;
        }
        return taken;
    }
    case State::head:
        break;
    }

    buffer_.append(bytes);
    counted_ = buffer_.size();
    const size_t headEnd = findHeadEnd();
    if (headEnd == std::string::npos || headEnd + headTerminator.size() > maxBytes_) {
        if (counted_ > maxBytes_) {
            state_ = State::tooLarge;
            buffer_ = std::string();
        }
        return bytes.size();
    }
    auto head = HTTPRequest::parseHead(std::string_view(buffer_).substr(0, headEnd));
    if (!head) {
        state_ = counted_ > maxBytes_ ? State::tooLarge : State::malformed;
        buffer_ = std::string();
        return bytes.size();
    }
    request_ = std::move(*head);
    headParsed_ = true;
    bodyStart_ = headEnd + headTerminator.size();
    const uint64_t length = request_.contentLength();
    announcedSize_ = length > std::numeric_limits<uint64_t>::max() - bodyStart_
                         ? std::numeric_limits<uint64_t>::max()
                         : bodyStart_ + length;
    if (announcedSize_ > maxBytes_) {
        state_ = State::tooLarge;
        buffer_ = std::string();
        return bytes.size();
    }
    if (counted_ < announcedSize_) {
        state_ = State::body;
        return bytes.size();
    }
    const size_t excess = counted_ - static_cast<size_t>(announcedSize_);
    buffer_.resize(static_cast<size_t>(announcedSize_));
    counted_ = buffer_.size();
    state_ = State::complete;
    return bytes.size() - excess;
}

size_t HTTPRequestReader::findHeadEnd() {
    const size_t found = std::string_view(buffer_).find(headTerminator, scanFrom_);
    const size_t scannedTo = found == std::string::npos ? buffer_.size() : found + headTerminator.size();
    scannedBytes_ += scannedTo - scanFrom_;
    // The terminator may straddle this piece and the next.
    scanFrom_ =
        buffer_.size() >= headTerminator.size() - 1 ? buffer_.size() - (headTerminator.size() - 1) : 0;
    return found;
}

HTTPRequest HTTPRequestReader::take() {
    HTTPRequest request = std::move(request_);
    if (announcedSize_ > bodyStart_) {
        request.body = buffer_.substr(bodyStart_);
    }
    *this = HTTPRequestReader(maxBytes_);
    return request;
}

} // namespace perchwell
