#include "api/http_request.h"

#include "api/http_request_reader.h"

#include "common/utf8.h"

#include <charconv>
#include <cstdint>
#include <vector>

namespace perchwell {
namespace {

std::string_view trimSpacesAndTabs(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::vector<std::string_view> splitDroppingEmpty(std::string_view text, std::string_view separator) {
    std::vector<std::string_view> pieces;
    size_t start = 0;
    while (start <= text.size()) {
        const auto next = text.find(separator, start);
        const auto end = next == std::string_view::npos ? text.size() : next;
        if (end > start) {
            pieces.push_back(text.substr(start, end - start));
        }
        if (next == std::string_view::npos) {
            break;
        }
        start = next + separator.size();
    }
    return pieces;
}

// A signed decimal with an optional leading sign; anything else (also overflow) is 0.
int64_t parseContentLength(std::string_view text) {
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') {
        digits.remove_prefix(1);
        if (!digits.empty() && digits.front() == '-') {
            return 0;
        }
    }
    int64_t value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty()) {
        return 0;
    }
    return value;
}

} // namespace

std::optional<HTTPRequest> HTTPRequest::parse(std::string_view buffer) {
    HTTPRequestReader reader(SIZE_MAX);
    reader.append(buffer);
    if (reader.state() != HTTPRequestReader::State::complete) {
        return std::nullopt;
    }
    return reader.take();
}

std::optional<HTTPRequest> HTTPRequest::parseHead(std::string_view head) {
    if (!utf8::isValid(head)) {
        return std::nullopt;
    }
    const auto lines = splitDroppingEmpty(head, "\r\n");
    if (lines.empty()) {
        return std::nullopt;
    }
    const auto requestLine = splitDroppingEmpty(lines.front(), " ");
    if (requestLine.size() < 2) {
        return std::nullopt;
    }

    HTTPRequest request;
    request.method = std::string(requestLine[0]);
    request.path = std::string(requestLine[1]);
    for (size_t i = 1; i < lines.size(); ++i) {
        const auto colon = lines[i].find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        request.headers[utf8::lowercased(lines[i].substr(0, colon))] =
            std::string(trimSpacesAndTabs(lines[i].substr(colon + 1)));
    }
    return request;
}

uint64_t HTTPRequest::contentLength() const {
    const int64_t length = parseContentLength(header("content-length").value_or(""));
    return length > 0 ? static_cast<uint64_t>(length) : 0;
}

std::optional<std::string_view> HTTPRequest::header(std::string_view name) const {
    const auto it = headers.find(std::string(name));
    if (it == headers.end()) {
        return std::nullopt;
    }
    return it->second;
}

} // namespace perchwell
