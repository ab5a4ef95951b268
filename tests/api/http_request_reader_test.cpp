#include "api/http_request_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace perchwell {
namespace {

using State = HTTPRequestReader::State;

// Feeds `bytes` in pieces of `piece` bytes until the reader stops taking them.
HTTPRequestReader feed(std::string_view bytes, size_t piece, size_t maxBytes = HTTPRequest::maxRequestBytes) {
    HTTPRequestReader reader(maxBytes);
    for (size_t at = 0; at < bytes.size(); at += piece) {
        reader.append(bytes.substr(at, piece));
    }
    return reader;
}

TEST(HTTPRequestReader, AnyChunkingGivesTheOneShotResult) {
    const std::vector<std::string> inputs = {
        "GET /health HTTP/1.1\r\nHost: x\r\n\r\n",
        "POST /api/control HTTP/1.1\r\nContent-Length: 18\r\n\r\n{\"action\":\"wave\"}",
        "POST /x HTTP/1.1\r\nContent-Length: 4\r\n\r\nabcdGET / HTTP/1.1\r\n\r\n", // a second request
        "POST /x HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc",                       // body short
        "GET /health HTTP/1.1\r\nHost: x\r\n\r",                                   // head short
        "\r\n\r\nGET / HTTP/1.1\r\n\r\n",                                          // empty head
        "GET\r\n\r\n",
        "\r\r\r\n\r\r\n\r\n\r\nX",
    };
    for (const auto& input : inputs) {
        const auto oneShot = HTTPRequest::parse(input);
        for (const size_t piece : {size_t{1}, size_t{2}, size_t{3}, size_t{5}, input.size()}) {
            HTTPRequestReader reader = feed(input, piece);
            ASSERT_EQ(reader.state() == State::complete, oneShot.has_value()) << input << " / " << piece;
            if (oneShot) {
                const HTTPRequest request = reader.take();
                EXPECT_EQ(request.method, oneShot->method);
                EXPECT_EQ(request.path, oneShot->path);
                EXPECT_EQ(request.headers, oneShot->headers);
                EXPECT_EQ(request.body, oneShot->body) << input << " / " << piece;
            }
        }
    }
}

TEST(HTTPRequestReader, TheHeadSearchResumesWhereItStopped) {
    // A flood of CR with no head end: every piece is examined once, not the whole buffer again.
    const size_t total = HTTPRequest::maxRequestBytes;
    const size_t piece = 16 * 1024;
    const HTTPRequestReader flood = feed(std::string(total + piece, '\r'), piece);
    EXPECT_EQ(flood.state(), State::tooLarge);
    EXPECT_LE(flood.scannedBytes(), total + piece + 3 * (total / piece + 1));

    const std::string head = "GET / HTTP/1.1\r\nX-Long: " + std::string(100'000, 'v') + "\r\n\r\n";
    const HTTPRequestReader trickled = feed(head, 1);
    EXPECT_EQ(trickled.state(), State::complete);
    EXPECT_LE(trickled.scannedBytes(), 4 * head.size());
}

TEST(HTTPRequestReader, TheHeadIsKnownBeforeTheBodyAndExtraBytesAreNotTaken) {
    HTTPRequestReader reader;
    const std::string head = "POST /mcp HTTP/1.1\r\nAuthorization: Bearer t\r\nContent-Length: 6\r\n\r\n";
    EXPECT_EQ(reader.append(head + "ab"), head.size() + 2);
    EXPECT_EQ(reader.state(), State::body);
    ASSERT_TRUE(reader.headParsed());
    EXPECT_EQ(reader.head().header("authorization"), "Bearer t");
    EXPECT_EQ(reader.announcedSize(), head.size() + 6);
    EXPECT_EQ(reader.append("cdefXYZ"), 4u);
    EXPECT_EQ(reader.state(), State::complete);
    EXPECT_EQ(reader.append("more"), 0u);
    EXPECT_EQ(reader.take().body, "abcdef");
}

TEST(HTTPRequestReader, SizeLimits) {
    struct Case {
        std::string input;
        size_t max;
        State state;
        bool headParsed;
    };
    const std::string head = "POST /x HTTP/1.1\r\nContent-Length: ";
    const auto sized = [&](size_t body) { return head + std::to_string(body) + "\r\n\r\n"; };
    const size_t h = sized(10).size();
    const std::vector<Case> cases = {
        {sized(10) + std::string(10, 'b'), h + 10, State::complete, true}, // exactly the limit
        {sized(11), h + 10, State::tooLarge, true},                        // announced past it: head kept
        {sized(1'000'000'000'000), 4096, State::tooLarge, true},
        {std::string(65, 'x'), 64, State::tooLarge, false}, // a head that never ends
        {"GET\r\n\r\n" + std::string(56, 'x'), 64, State::malformed, false},
        {"GET\r\n\r\n" + std::string(58, 'x'), 64, State::tooLarge, false}, // malformed bytes still count
    };
    for (const auto& c : cases) {
        const HTTPRequestReader reader = feed(c.input, 7, c.max);
        EXPECT_EQ(reader.state(), c.state) << c.input.substr(0, 40);
        EXPECT_EQ(reader.headParsed(), c.headParsed) << c.input.substr(0, 40);
    }
}

} // namespace
} // namespace perchwell
