#include "assist/ollama_error.h"

#include "common/utf8.h"

namespace perchwell {

std::string OllamaError::description() const {
    switch (kind) {
    case Kind::notReachable:
        return "Ollama is not reachable: " + detail;
    case Kind::badStatus:
        return "Ollama HTTP " + std::to_string(status) + ": " +
               std::string(utf8::firstCharacters(detail, 200));
    case Kind::modelMissing:
        return "Ollama model is not installed: " + detail + ". Run `ollama pull " + detail + "`.";
    case Kind::decodeFailed:
        return "Could not parse Ollama response.";
    }
    return "Could not parse Ollama response.";
}

} // namespace perchwell
