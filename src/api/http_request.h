#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace perchwell {

// One request as the local API reads it: exactly one per connection.
struct HTTPRequest {
    // A connection that has buffered more than this is answered 413 and read no further.
    static constexpr size_t maxRequestBytes = 4'194'304;

    std::string method;                         // as sent, case-sensitive
    std::string path;                           // as sent, query and fragment included
    std::map<std::string, std::string> headers; // lower-cased name -> trimmed value; later wins
    std::optional<std::string> body;            // absent when the content length is 0 or less

    // The request at the start of `buffer`, or nothing while it is incomplete or when
    // its head is malformed (the connection then keeps reading until the peer gives up).
    // Bytes after the announced body are ignored.
    static std::optional<HTTPRequest> parse(std::string_view buffer);

    // Method, path and headers of a head (the bytes before the blank line), without a
    // body; nothing when the head is not UTF-8 or its request line has fewer than two
    // pieces.
    static std::optional<HTTPRequest> parseHead(std::string_view head);

    // The header's value, or nothing when it was not sent; `name` is lower case.
    std::optional<std::string_view> header(std::string_view name) const;

    // The announced body length: "content-length" as a signed decimal (an optional sign
    // first); missing, empty, unparsable or negative is 0.
    uint64_t contentLength() const;
};

} // namespace perchwell
