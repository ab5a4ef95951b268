#include "analytics/trace_parser.h"

#include "analytics/transcript_lines.h"
#include "common/sorted_json.h"
#include "common/utf8.h"
#include "hooks/in_situ_json.h"
#include "platform/paths.h"
#include "workflow/jsonl_parser.h"
#include "workflow/project_scanner.h"

#include <rapidjson/document.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace perchwell {
namespace {

using Value = rapidjson::Value;
using Document =
    rapidjson::GenericDocument<rapidjson::UTF8<>, rapidjson::MemoryPoolAllocator<>, rapidjson::CrtAllocator>;

std::optional<std::string> optionalText(const Value& object, const char* key) {
    const auto it = object.FindMember(key);
    if (it == object.MemberEnd() || !it->value.IsString()) {
        return std::nullopt;
    }
    return std::string(it->value.GetString(), it->value.GetStringLength());
}

std::string_view textOf(const Value& value) {
    return value.IsString() ? std::string_view(value.GetString(), value.GetStringLength())
                            : std::string_view();
}

const Value* member(const Value& object, const char* key) {
    const auto it = object.FindMember(key);
    return it == object.MemberEnd() ? nullptr : &it->value;
}

void appendPiece(std::string& out, bool& first, std::string_view piece) {
    if (!first) {
        out.push_back('\n');
    }
    first = false;
    out.append(piece);
}

// A content block's "type", empty when it has none.
std::string_view blockKind(const Value& block) {
    const Value* type = member(block, "type");
    return type != nullptr ? textOf(*type) : std::string_view();
}

// A "text" block's text joins the others; one without text contributes nothing.
void appendTextBlock(const Value& block, std::string& out, bool& first) {
    if (const Value* text = member(block, "text"); text != nullptr && text->IsString()) {
        appendPiece(out, first, textOf(*text));
    }
}

std::string renderToolResult(const Value* content) {
    if (content == nullptr) {
        return {};
    }
    if (content->IsString()) {
        return std::string(textOf(*content));
    }
    std::string out;
    if (!content->IsArray()) {
        return out;
    }
    bool first = true;
    for (const Value& block : content->GetArray()) {
        if (!block.IsObject()) {
            continue;
        }
        const std::string_view kind = blockKind(block);
        if (kind == "text") {
            appendTextBlock(block, out, first);
        } else if (kind == "image") {
            appendPiece(out, first, "[image]");
        }
    }
    return out;
}

void userText(const Value& message, TraceUserTurn& turn) {
    const Value* content = member(message, "content");
    if (content == nullptr) {
        return;
    }
    if (content->IsString()) {
        turn.text = textOf(*content);
        return;
    }
    if (!content->IsArray()) {
        return;
    }
    bool first = true;
    size_t results = 0;
    size_t others = 0;
    for (const Value& block : content->GetArray()) {
        if (!block.IsObject()) {
            ++others;
            continue;
        }
        const std::string_view kind = blockKind(block);
        if (kind == "tool_result") {
            ++results;
            appendPiece(turn.text, first, renderToolResult(member(block, "content")));
            continue;
        }
        ++others;
        if (kind == "text") {
            appendTextBlock(block, turn.text, first);
        }
    }
    turn.toolResultsOnly = results > 0 && others == 0;
}

std::string inputJSON(const Value* input) {
    if (input == nullptr || !(input->IsObject() || input->IsArray())) {
        return "{}";
    }
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writeSorted(*input, writer);
    return std::string(buffer.GetString(), buffer.GetSize());
}

// An integer, or a finite float within the signed 64-bit range truncated toward zero;
// anything else 0.
int64_t tokenCount(const Value& usage, const char* key) {
    const Value* value = member(usage, key);
    if (value == nullptr || !value->IsNumber()) {
        return 0;
    }
    if (value->IsInt64()) {
        return value->GetInt64();
    }
    if (value->IsUint64()) {
        return 0; // beyond the signed range
    }
    const double d = value->GetDouble();
    if (!std::isfinite(d) || d >= 9223372036854775808.0 || d < -9223372036854775808.0) {
        return 0;
    }
    return static_cast<int64_t>(d);
}

void assistantContent(const Value& message, TraceTurn& turn, bool withContent) {
    turn.model = optionalText(message, "model");
    turn.messageId = optionalText(message, "id");
    if (const Value* usage = member(message, "usage"); usage != nullptr && usage->IsObject()) {
        turn.usage = TokenUsage{tokenCount(*usage, "input_tokens"), tokenCount(*usage, "output_tokens"),
                                tokenCount(*usage, "cache_read_input_tokens"),
                                tokenCount(*usage, "cache_creation_input_tokens")};
    }
    if (!withContent) {
        return;
    }
    const Value* content = member(message, "content");
    if (content == nullptr || !content->IsArray()) {
        return;
    }
    bool first = true;
    for (const Value& block : content->GetArray()) {
        if (!block.IsObject()) {
            continue;
        }
        const std::string_view kind = blockKind(block);
        if (kind == "text") {
            appendTextBlock(block, turn.text, first);
        } else if (kind == "tool_use") {
            const Value* name = member(block, "name");
            if (name == nullptr || !name->IsString()) {
                continue;
            }
            turn.toolUses.push_back(ToolUseBlock{optionalText(block, "id"), std::string(textOf(*name)),
                                                 inputJSON(member(block, "input"))});
        }
    }
}

template <typename Turn> bool commonFields(const Value& line, Turn& turn, const Value*& message) {
    const Value* uuid = member(line, "uuid");
    const Value* session = member(line, "sessionId");
    const Value* stamp = member(line, "timestamp");
    message = member(line, "message");
    if (uuid == nullptr || !uuid->IsString() || session == nullptr || !session->IsString() ||
        stamp == nullptr || !stamp->IsString() || message == nullptr || !message->IsObject()) {
        return false;
    }
    const auto timestamp = JSONLParser::parseTimestamp(textOf(*stamp));
    if (!timestamp) {
        return false;
    }
    turn.id = textOf(*uuid);
    turn.sessionId = textOf(*session);
    turn.timestamp = *timestamp;
    turn.parentUuid = optionalText(line, "parentUuid");
    turn.cwd = optionalText(line, "cwd");
    return true;
}

// The reader and writeSorted recurse per level: a line nested deeper than strict readers
// accept is refused before it can exhaust the stack.
bool nestingWithin(std::string_view line, int maxDepth) {
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maxDepth) {
                return false;
            }
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return true;
}

// Numbers beyond the double range are refused by the reader; none of them can be a
// token count, so they are written over and the line read again.
bool parseDocument(std::string_view line, Document& document, std::string& scratch) {
    std::string pristine; // only when a number had to be written over
    scratch.assign(line);
    for (int attempt = 0; attempt < 64; ++attempt) {
        // In place: strings stay in `scratch`, and nothing is copied.
        document.ParseInsitu<rapidjson::kParseValidateEncodingFlag>(scratch.data());
        if (!document.HasParseError()) {
            return true;
        }
        if (pristine.empty()) {
            pristine.assign(line);
        }
        if (document.GetParseError() != rapidjson::kParseErrorNumberTooBig ||
            !InSituJson::neutraliseNumber(pristine, document.GetErrorOffset())) {
            return false;
        }
        scratch = pristine;
    }
    return false;
}

std::optional<TraceEntry> parseLine(std::string_view line, bool withContent) {
    if (std::memchr(line.data(), '\0', line.size()) != nullptr) {
        return std::nullopt; // no JSON text holds a NUL byte
    }
    if (!nestingWithin(line, InSituJson::maxDepth)) {
        return std::nullopt;
    }
    // One pool per thread: a line's values need no allocation of their own.
    thread_local std::string scratch;
    thread_local char firstChunk[64 << 10];
    thread_local rapidjson::MemoryPoolAllocator<> pool(firstChunk, sizeof(firstChunk));
    pool.Clear();
    Document document(&pool);
    if (!parseDocument(line, document, scratch) || !document.IsObject()) {
        return std::nullopt;
    }
    const Value* type = member(document, "type");
    if (type == nullptr || !type->IsString()) {
        return std::nullopt;
    }
    const std::string_view kind = textOf(*type);
    const Value* message = nullptr;
    if (kind == "user") {
        TraceUserTurn turn;
        if (!commonFields(document, turn, message)) {
            return std::nullopt;
        }
        if (withContent) {
            userText(*message, turn);
        }
        return TraceEntry(std::move(turn));
    }
    if (kind == "assistant") {
        TraceTurn turn;
        if (!commonFields(document, turn, message)) {
            return std::nullopt;
        }
        assistantContent(*message, turn, withContent);
        return TraceEntry(std::move(turn));
    }
    return std::nullopt;
}

} // namespace

std::optional<TraceEntry> TraceParser::parse(std::string_view line) {
    return parseLine(line, true);
}

std::optional<TraceEntry> TraceParser::parseForTokens(std::string_view line) {
    return parseLine(line, false);
}

std::vector<std::string> TraceParser::transcriptFiles(const std::string& root) {
    std::vector<std::string> files;
    for (const auto& project : ProjectScanner::scan(root)) {
        files.insert(files.end(), project.sessionFiles.begin(), project.sessionFiles.end());
        // <project>/<session>/subagents/agent-<id>.jsonl, whether or not <session>.jsonl is there.
        std::vector<std::string> sessions;
        if (DIR* dir = ::opendir(project.directory.c_str())) {
            while (const dirent* e = ::readdir(dir)) {
                if (e->d_name[0] != '.' && (e->d_type == DT_DIR || e->d_type == DT_UNKNOWN)) {
                    sessions.emplace_back(e->d_name);
                }
            }
            ::closedir(dir);
        }
        std::sort(sessions.begin(), sessions.end());
        for (const auto& session : sessions) {
            const std::string subagents = project.directory + "/" + session + "/subagents";
            DIR* dir = ::opendir(subagents.c_str());
            if (dir == nullptr) {
                continue;
            }
            std::vector<std::string> names;
            while (const dirent* e = ::readdir(dir)) {
                if (ProjectScanner::isSessionFileName(e->d_name)) {
                    names.emplace_back(e->d_name);
                }
            }
            ::closedir(dir);
            std::sort(names.begin(), names.end());
            for (const auto& name : names) {
                files.push_back(subagents + "/" + name);
            }
        }
    }
    return files;
}

std::vector<TraceEntry> TraceParser::scanAll(const std::string& root) {
    std::vector<TraceEntry> entries;
    for (const auto& file : transcriptFiles(root)) {
        TranscriptLines::forEach(file, 0, [&](std::string_view line, int64_t) {
            if (auto entry = parse(line)) {
                entries.push_back(std::move(*entry));
            }
        });
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const TraceEntry& a, const TraceEntry& b) { return a.timestamp() < b.timestamp(); });
    return entries;
}

std::string TraceParser::defaultRoot() {
    return Paths::claudeDirectory() + "/projects";
}

} // namespace perchwell
