#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace perchwell {

// One complete answer of the local API; every one closes its connection.
struct HTTPResponse {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> extraHeaders;

    // The status line's reason: "Bad Request", "Not Found" and "Internal Server Error"
    // for 400, 404 and 500, "Accepted" and "Method Not Allowed" for the transport's 202
    // and 405; "OK" for everything else (clients of the API rely on that for 401, 413, 503).
    static std::string_view reasonPhrase(int status);

    // A JSON body, written compactly; text that is not UTF-8 is replaced, never thrown on.
    static HTTPResponse json(int status, const nlohmann::json& value);
    // {"error": message}
    static HTTPResponse error(int status, std::string_view message);

    // Status line, Content-Type, Content-Length, Connection: close, blank line, body.
    std::string serialize() const;
};

// Compact JSON text; invalid UTF-8 in strings is replaced rather than failing.
std::string compactJSON(const nlohmann::json& value);

} // namespace perchwell
