#include "api/http_response.h"

namespace perchwell {

std::string_view HTTPResponse::reasonPhrase(int status) {
    switch (status) {
    case 202:
        return "Accepted";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 500:
        return "Internal Server Error";
    default:
        return "OK";
    }
}

std::string compactJSON(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

HTTPResponse HTTPResponse::json(int status, const nlohmann::json& value) {
    return HTTPResponse{status, "application/json", compactJSON(value), {}};
}

HTTPResponse HTTPResponse::error(int status, std::string_view message) {
    return json(status, nlohmann::json{{"error", message}});
}

std::string HTTPResponse::serialize() const {
    std::string out;
    out.reserve(128 + body.size());
    out += "HTTP/1.1 ";
    out += std::to_string(status);
    out += ' ';
    out += reasonPhrase(status);
    out += "\r\nContent-Type: ";
    out += contentType;
    out += "\r\nContent-Length: ";
    out += std::to_string(body.size());
    out += "\r\n";
    for (const auto& [name, value] : extraHeaders) {
        out += name;
        out += ": ";
        out += value;
        out += "\r\n";
    }
    out += "Connection: close\r\n\r\n";
    out += body;
    return out;
}

} // namespace perchwell
