#pragma once

#include <string>
#include <variant>

namespace perchwell {

// Why an Ollama request failed; `description()` is the text shown to the user.
struct OllamaError {
    enum class Kind { notReachable, badStatus, modelMissing, decodeFailed };

    Kind kind = Kind::decodeFailed;
    int status = 0;     // badStatus only
    std::string detail; // notReachable: the message; badStatus: the body; modelMissing: the model

    static OllamaError notReachable(std::string message) {
        return {Kind::notReachable, 0, std::move(message)};
    }
    static OllamaError badStatus(int status, std::string body) {
        return {Kind::badStatus, status, std::move(body)};
    }
    static OllamaError modelMissing(std::string model) { return {Kind::modelMissing, 0, std::move(model)}; }
    static OllamaError decodeFailed() { return {Kind::decodeFailed, 0, {}}; }

    // badStatus quotes only the first 200 characters of the body.
    std::string description() const;

    bool operator==(const OllamaError&) const = default;
};

// A value or the reason there is none.
template <typename T> using OllamaResult = std::variant<T, OllamaError>;

} // namespace perchwell
