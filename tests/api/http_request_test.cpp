#include "api/http_request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace perchwell {
namespace {

TEST(HTTPRequestParse, IncompleteOrMalformedHeadsGiveNothing) {
    const std::vector<std::string> cases = {
        "",
        "GET /health HTTP/1.1\r\nHost: x\r\n",     // no blank line yet
        "GET /health HTTP/1.1\r\n\r",              // half a terminator
        "\r\n\r\n",                                // no request line at all
        "\r\n\r\nGET / HTTP/1.1\r\n\r\n",          // the first blank line ends an empty head
        "GET\r\n\r\n",                             // a single piece
        "   GET   \r\nHost: x\r\n\r\n",            // still a single piece
        "GET\t/health\r\n\r\n",                    // tabs do not separate
        std::string("GET /\xff HTTP/1.1\r\n\r\n"), // head not UTF-8
    };
    for (const auto& buffer : cases) {
        EXPECT_FALSE(HTTPRequest::parse(buffer).has_value()) << buffer;
    }
}

TEST(HTTPRequestParse, RequestLineKeepsMethodAndPathAsSent) {
    struct Case {
        std::string buffer, method, path;
    };
    const std::vector<Case> cases = {
        {"GET /health HTTP/1.1\r\n\r\n", "GET", "/health"},
        {"GET  /health  HTTP/1.1\r\n\r\n", "GET", "/health"}, // double spaces
        {"get /Health\r\n\r\n", "get", "/Health"},            // no version, case kept
        {"GET /api/state?x=1#f HTTP/1.1\r\n\r\n", "GET", "/api/state?x=1#f"},
        {"\r\nGET / HTTP/1.1\r\n\r\n", "GET", "/"}, // a leading empty line dropped
        {"POST /mcp HTTP/1.1 extra pieces\r\n\r\n", "POST", "/mcp"},
    };
    for (const auto& c : cases) {
        const auto request = HTTPRequest::parse(c.buffer);
        ASSERT_TRUE(request.has_value()) << c.buffer;
        EXPECT_EQ(request->method, c.method);
        EXPECT_EQ(request->path, c.path);
        EXPECT_FALSE(request->body.has_value());
    }
}

TEST(HTTPRequestParse, HeadersAreLowerCasedTrimmedAndLaterOnesWin) {
    const auto request = HTTPRequest::parse("GET / HTTP/1.1\r\n"
                                            "X-Mixed-Case:   inner space  \r\n"
                                            "Tabbed:\t\tv\t\r\n"
                                            "no colon here\r\n"
                                            "Dup: first\r\n"
                                            "dup: second\r\n"
                                            "Url: http://a:1/b\r\n"
                                            "Empty:\r\n"
                                            "\r\n");
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->headers.at("x-mixed-case"), "inner space");
    EXPECT_EQ(request->headers.at("tabbed"), "v");
    EXPECT_EQ(request->headers.at("dup"), "second");
    EXPECT_EQ(request->headers.at("url"), "http://a:1/b");
    EXPECT_EQ(request->headers.at("empty"), "");
    EXPECT_EQ(request->headers.size(), 5u);
}

TEST(HTTPRequestParse, ContentLengthRules) {
    struct Case {
        std::string length;
        std::string after; // bytes after the blank line
        bool complete;
        std::optional<std::string> body;
    };
    const std::vector<Case> cases = {
        {"10", "abcd", false, std::nullopt}, // waits for the rest
        {"10", "0123456789", true, "0123456789"},
        {"4", "abcdEXTRA", true, "abcd"}, // bytes beyond the body ignored
        {"+3", "abc", true, "abc"},
        {"-5", "abc", true, std::nullopt},  // negative: no body
        {"0", "", true, std::nullopt},      // zero: absent, not empty
        {"", "xyz", true, std::nullopt},    // empty value
        {"ten", "xyz", true, std::nullopt}, // not a number
        {"5x", "abcde", true, std::nullopt},
        {"+-5", "abcde", true, std::nullopt},
        {"99999999999999999999999", "a", true, std::nullopt}, // overflow counts as unparsable
        {"9223372036854775807", "a", false, std::nullopt},    // enormous: never complete
    };
    for (const auto& c : cases) {
        const std::string buffer = "POST /x HTTP/1.1\r\nContent-Length: " + c.length + "\r\n\r\n" + c.after;
        const auto request = HTTPRequest::parse(buffer);
        ASSERT_EQ(request.has_value(), c.complete) << c.length;
        if (request) {
            EXPECT_EQ(request->body, c.body) << c.length;
        }
    }
    EXPECT_FALSE(HTTPRequest::parse("POST /x HTTP/1.1\r\n\r\nbody").value().body.has_value());
}

TEST(HTTPRequestParse, SplitPacketsParseOnceTheHeadAndBodyHaveArrived) {
    const std::string whole = "POST /api/control HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 18\r\n\r\n"
                              "{\"action\":\"wave\"}";
    ASSERT_EQ(whole.size() - whole.find("\r\n\r\n") - 4, 17u); // one byte short on purpose
    const std::string full = whole + " ";
    for (size_t cut = 0; cut < full.size(); ++cut) {
        EXPECT_FALSE(HTTPRequest::parse(full.substr(0, cut)).has_value()) << cut;
    }
    const auto request = HTTPRequest::parse(full);
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->body, "{\"action\":\"wave\"} ");
}

TEST(HTTPRequestParse, BinaryBodyAndCapSizedRequest) {
    std::string body(HTTPRequest::maxRequestBytes - 64, '\0');
    body[1] = '\xff';
    const std::string prefix =
        "POST /mcp HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\nX-Fill: ";
    const std::string filler(HTTPRequest::maxRequestBytes - body.size() - prefix.size() - 4, 'a');
    const std::string buffer = prefix + filler + "\r\n\r\n" + body;
    ASSERT_EQ(buffer.size(), HTTPRequest::maxRequestBytes);
    const auto request = HTTPRequest::parse(buffer);
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->body->size(), body.size());
    EXPECT_EQ((*request->body)[1], '\xff');
}

} // namespace
} // namespace perchwell
