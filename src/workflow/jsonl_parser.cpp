#include "workflow/jsonl_parser.h"

#include <simdjson.h>

#include <cstdint>
#include <string>

namespace perchwell::JSONLParser {
namespace {

using simdjson::dom::array;
using simdjson::dom::element;
using simdjson::dom::object;

// A parser per thread keeps its buffers between lines; one that grew on a huge line
// gives the memory back rather than holding it for the thread's life.
constexpr size_t kKeptParserCapacity = 16u << 20;

simdjson::dom::parser& threadParser() {
    thread_local auto parser = std::make_unique<simdjson::dom::parser>();
    if (parser->capacity() > kKeptParserCapacity) {
        parser = std::make_unique<simdjson::dom::parser>();
    }
    return *parser;
}

std::optional<std::string> optionalString(const object& obj, std::string_view key) {
    std::string_view value;
    if (obj.at_key(key).get_string().get(value) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    return std::string(value);
}

bool requiredString(const object& obj, std::string_view key, std::string& out) {
    std::string_view value;
    if (obj.at_key(key).get_string().get(value) != simdjson::SUCCESS) {
        return false;
    }
    out.assign(value);
    return true;
}

// "type" of a content block, when it is a string.
std::optional<std::string_view> blockType(const object& block) {
    std::string_view type;
    if (block.at_key("type").get_string().get(type) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    return type;
}

// The array's elements when every one of them is an object; nothing otherwise.
std::optional<std::vector<object>> objectElements(const element& value) {
    array items;
    if (value.get_array().get(items) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    std::vector<object> objects;
    for (element item : items) {
        object obj;
        if (item.get_object().get(obj) != simdjson::SUCCESS) {
            return std::nullopt;
        }
        objects.push_back(obj);
    }
    return objects;
}

void appendPiece(std::string& text, bool& any, std::string_view piece) {
    if (any) {
        text.push_back('\n');
    }
    text.append(piece);
    any = true;
}

std::string extractTextContent(const object& message) {
    element content;
    if (message.at_key("content").get(content) != simdjson::SUCCESS) {
        return {};
    }
    std::string_view direct;
    if (content.get_string().get(direct) == simdjson::SUCCESS) {
        return std::string(direct);
    }
    const auto blocks = objectElements(content);
    if (!blocks) {
        return {};
    }
    std::string text;
    bool any = false;
    for (const object& block : *blocks) {
        const auto type = blockType(block);
        if (!type) {
            continue;
        }
        if (*type == "text") {
            std::string_view piece;
            if (block.at_key("text").get_string().get(piece) == simdjson::SUCCESS) {
                appendPiece(text, any, piece);
            }
        } else if (*type == "tool_result") {
            appendPiece(text, any, "[tool_result]");
        }
    }
    return text;
}

void extractAssistantContent(const object& message, std::string& text, std::vector<std::string>& tools) {
    element content;
    if (message.at_key("content").get(content) != simdjson::SUCCESS) {
        return;
    }
    std::string_view direct;
    if (content.get_string().get(direct) == simdjson::SUCCESS) {
        text.assign(direct);
        return;
    }
    const auto blocks = objectElements(content);
    if (!blocks) {
        return;
    }
    bool any = false;
    for (const object& block : *blocks) {
        const auto type = blockType(block);
        if (!type) {
            continue;
        }
        std::string_view value;
        if (*type == "text") {
            if (block.at_key("text").get_string().get(value) == simdjson::SUCCESS) {
                appendPiece(text, any, value);
            }
        } else if (*type == "tool_use") {
            if (block.at_key("name").get_string().get(value) == simdjson::SUCCESS) {
                tools.emplace_back(value);
            }
        }
    }
}

// The fields every user and assistant line needs: uuid, sessionId, a parseable
// timestamp and an object "message".
bool commonFields(const object& line, std::string& uuid, std::string& sessionId, double& timestamp,
                  object& message) {
    if (!requiredString(line, "uuid", uuid) || !requiredString(line, "sessionId", sessionId)) {
        return false;
    }
    std::string_view ts;
    if (line.at_key("timestamp").get_string().get(ts) != simdjson::SUCCESS) {
        return false;
    }
    const auto parsed = parseTimestamp(ts);
    if (!parsed) {
        return false;
    }
    timestamp = *parsed;
    return line.at_key("message").get_object().get(message) == simdjson::SUCCESS;
}

std::optional<UserEntry> parseUser(const object& line) {
    UserEntry entry;
    object message;
    if (!commonFields(line, entry.uuid, entry.sessionId, entry.timestamp, message)) {
        return std::nullopt;
    }
    entry.content = extractTextContent(message);
    entry.promptId = optionalString(line, "promptId");
    entry.cwd = optionalString(line, "cwd");
    entry.gitBranch = optionalString(line, "gitBranch");
    entry.permissionMode = optionalString(line, "permissionMode");
    entry.parentUuid = optionalString(line, "parentUuid");
    return entry;
}

std::optional<AssistantEntry> parseAssistant(const object& line) {
    AssistantEntry entry;
    object message;
    if (!commonFields(line, entry.uuid, entry.sessionId, entry.timestamp, message)) {
        return std::nullopt;
    }
    extractAssistantContent(message, entry.textContent, entry.toolUses);
    entry.cwd = optionalString(line, "cwd");
    entry.gitBranch = optionalString(line, "gitBranch");
    entry.parentUuid = optionalString(line, "parentUuid");
    return entry;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The RFC 8259 number grammar: -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
bool isJsonNumber(std::string_view t) {
    size_t i = 0;
    const auto skipDigits = [&] {
        const size_t from = i;
        while (i < t.size() && isDigit(t[i])) {
            ++i;
        }
        return i > from;
    };
    if (i < t.size() && t[i] == '-') {
        ++i;
    }
    if (i < t.size() && t[i] == '0') {
        ++i;
    } else if (!skipDigits()) {
        return false;
    }
    if (i < t.size() && t[i] == '.' && (++i, !skipDigits())) {
        return false;
    }
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
            ++i;
        }
        if (!skipDigits()) {
            return false;
        }
    }
    return i == t.size();
}

bool isNumberByte(char c) {
    return isDigit(c) || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

// simdjson refuses numbers it cannot hold (integers beyond 64 bits, magnitudes beyond a
// double, 20-digit exponents) with the error it gives malformed ones. We read no number
// of a transcript line, so such a line is decoded again with each of those numbers
// written as null; everything else about the line is still simdjson's to judge, and a
// malformed number is left as it is for simdjson to refuse. Nothing when there is no
// such number.
std::optional<std::string> unrepresentableNumbersAsNull(std::string_view line,
                                                        simdjson::dom::parser& parser) {
    std::string rewritten;
    size_t copied = 0; // bytes of `line` accounted for in `rewritten`
    bool changed = false;
    bool inString = false;
    for (size_t i = 0; i < line.size();) {
        const char c = line[i];
        if (inString) {
            inString = c != '"';
            i += c == '\\' ? 2 : 1;
            continue;
        }
        if (c == '"') {
            inString = true;
        }
        if (c != '-' && !isDigit(c)) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < line.size() && isNumberByte(line[end])) {
            ++end;
        }
        const std::string_view token = line.substr(i, end - i);
        simdjson::dom::element number;
        if (isJsonNumber(token) &&
            parser.parse(token.data(), token.size()).get(number) != simdjson::SUCCESS) {
            rewritten.append(line.substr(copied, i - copied)).append("null");
            copied = end;
            changed = true;
        }
        i = end;
    }
    if (!changed) {
        return std::nullopt;
    }
    rewritten.append(line.substr(copied));
    return rewritten;
}

} // namespace

std::optional<JSONLEntry> parse(std::string_view line) {
    simdjson::dom::parser& parser = threadParser();
    element root;
    auto error = parser.parse(line.data(), line.size()).get(root);
    std::optional<std::string> rewritten;
    if (error == simdjson::NUMBER_ERROR && (rewritten = unrepresentableNumbersAsNull(line, parser))) {
        error = parser.parse(rewritten->data(), rewritten->size()).get(root);
    }
    if (error != simdjson::SUCCESS) {
        return std::nullopt;
    }
    object obj;
    if (root.get_object().get(obj) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    std::string_view type;
    if (obj.at_key("type").get_string().get(type) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    if (type == "user") {
        if (auto entry = parseUser(obj)) {
            return JSONLEntry{std::move(*entry)};
        }
        return std::nullopt;
    }
    if (type == "assistant") {
        if (auto entry = parseAssistant(obj)) {
            return JSONLEntry{std::move(*entry)};
        }
        return std::nullopt;
    }
    return JSONLEntry{OtherEntry{std::string(type)}};
}

} // namespace perchwell::JSONLParser
