#include "tree_generator.h"

#include "common/file_util.h"

#include <cstdio>
#include <ctime>
#include <random>
#include <string_view>

namespace perchwell::bench {
namespace {

constexpr std::string_view words[] = {
    "refactor", "the",    "parser",   "so",          "that",        "tests",    "pass",    "again",
    "fix",      "flaky",  "build",    "add",         "retry",       "logic",    "cache",   "query",
    "index",    "window", "résumé",   "naïve",       "日本語",      "検索",     "emoji",   "🦉",
    "owl",      "token",  "usage",    "report",      "session",     "daily",    "latency", "async",
    "handler",  "socket", "quote\"d", "back\\slash", "line\nbreak", "tab\there"};

class Writer {
public:
    Writer(const TreeGenerator::Options& o) : options_(o), rng_(o.seed) {}

    uint64_t next() { return rng_(); }
    int range(int lo, int hi) { return lo + static_cast<int>(rng_() % static_cast<uint64_t>(hi - lo + 1)); }

    std::string hex(int n) {
        static const char* digits = "0123456789abcdef";
        std::string s;
        for (int i = 0; i < n; ++i) {
            s += digits[rng_() % 16];
        }
        return s;
    }
    std::string uuid() { return hex(8) + "-" + hex(4) + "-4" + hex(3) + "-a" + hex(3) + "-" + hex(12); }

    static void escape(std::string& out, std::string_view text) {
        for (char c : text) {
            switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += c;
            }
        }
    }
    std::string sentence(int count) {
        std::string s;
        for (int i = 0; i < count; ++i) {
            if (i > 0) {
                s += ' ';
            }
            s += words[rng_() % std::size(words)];
        }
        return s;
    }
    static std::string stamp(double t) {
        const auto secs = static_cast<time_t>(t);
        const int millis = static_cast<int>((t - static_cast<double>(secs)) * 1000);
        tm utc{};
        gmtime_r(&secs, &utc);
        char text[64];
        std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                      utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, millis);
        return text;
    }

    const TreeGenerator::Options& options_;
    std::mt19937_64 rng_;
};

struct Session {
    std::string id;
    std::string cwd;
    bool sidechain = false;
    std::string agentId;
    double clock = 0;
    std::string parent;
};

void header(std::string& out, Writer& w, Session& s, const char* type, const std::string& uuid) {
    out += "{\"parentUuid\":";
    out += s.parent.empty() ? "null" : "\"" + s.parent + "\"";
    out += ",\"isSidechain\":";
    out += s.sidechain ? "true" : "false";
    out += ",\"userType\":\"external\",\"cwd\":\"";
    Writer::escape(out, s.cwd);
    out += "\",\"sessionId\":\"" + s.id + "\",\"version\":\"1.0.98\",\"gitBranch\":\"main\",";
    if (s.sidechain) {
        out += "\"agentId\":\"" + s.agentId + "\",";
    }
    out += "\"type\":\"";
    out += type;
    out += "\",\"uuid\":\"" + uuid + "\",\"timestamp\":\"" + Writer::stamp(s.clock) + "\"";
    s.parent = uuid;
    (void)w;
}

void typedPrompt(std::string& out, Writer& w, Session& s, TreeGenerator::Expected& e) {
    header(out, w, s, "user", w.uuid());
    out += ",\"message\":{\"role\":\"user\",\"content\":\"";
    Writer::escape(out, w.sentence(w.range(3, 30)));
    out += "\"}}\n";
    ++e.typedPrompts;
    s.clock += w.range(1, 5);
}

void toolResult(std::string& out, Writer& w, Session& s, const std::string& toolId, int bytes) {
    header(out, w, s, "user", w.uuid());
    out += ",\"message\":{\"role\":\"user\",\"content\":[{\"tool_use_id\":\"" + toolId +
           "\",\"type\":\"tool_result\",\"content\":\"";
    std::string body;
    while (static_cast<int>(body.size()) < bytes) {
        body += w.sentence(12);
        body += '\n';
    }
    Writer::escape(out, body);
    out += "\",\"is_error\":false}]},\"toolUseResult\":{\"stdout\":\"ok\",\"stderr\":\"\",\"interrupted\":"
           "false}}\n";
    s.clock += w.range(1, 20);
}

void otherLine(std::string& out, Writer& w, Session& s) {
    switch (w.range(0, 3)) {
    case 0:
        out += "{\"type\":\"queue-operation\",\"operation\":\"enqueue\",\"timestamp\":\"" +
               Writer::stamp(s.clock) + "\",\"sessionId\":\"" + s.id + "\",\"content\":\"next\"}\n";
        break;
    case 1:
        header(out, w, s, "system", w.uuid());
        out += ",\"subtype\":\"local_command\",\"content\":\"<command-name>/status</"
               "command-name>\",\"level\":\"info\"}\n";
        break;
    case 2:
        header(out, w, s, "attachment", w.uuid());
        out += ",\"attachment\":{\"type\":\"todo\",\"content\":[]}}\n";
        break;
    default:
        out += "{\"type\":\"file-history-snapshot\",\"messageId\":\"" + w.uuid() +
               "\",\"snapshot\":{\"trackedFileBackups\":{}},\"isSnapshotUpdate\":false}\n";
    }
}

// One assistant message: a line per content block, each with the same id and usage.
void assistantMessage(std::string& out, Writer& w, Session& s, TreeGenerator::Expected& e,
                      std::vector<std::string>& toolIds) {
    const bool withId = w.range(0, 49) != 0;
    const std::string messageId = "msg_01" + w.hex(22);
    const std::string requestId = "req_011" + w.hex(21);
    const TokenUsage usage{w.range(1, 400), w.range(1, 3000), w.range(0, 90000), w.range(0, 9000)};
    const std::string model = w.range(0, 3) == 0 ? "claude-opus-4-1-20250805" : "claude-sonnet-4-20250514";
    std::vector<std::string> blocks;
    if (w.range(0, 1) == 0) {
        std::string thinking;
        Writer::escape(thinking, w.sentence(20));
        blocks.push_back("{\"type\":\"thinking\",\"thinking\":\"" + thinking + "\",\"signature\":\"" +
                         w.hex(64) + "\"}");
    }
    std::string text;
    Writer::escape(text, w.sentence(w.range(5, 60)));
    blocks.push_back("{\"type\":\"text\",\"text\":\"" + text + "\"}");
    const int tools = withId ? w.range(0, 3) : 0;
    for (int t = 0; t < tools; ++t) {
        const std::string id = "toolu_01" + w.hex(22);
        toolIds.push_back(id);
        std::string command;
        Writer::escape(command, "grep -rn " + w.sentence(2) + " src/");
        blocks.push_back("{\"type\":\"tool_use\",\"id\":\"" + id + "\",\"name\":\"" +
                         (t % 2 ? "Read" : "Bash") + "\",\"input\":{\"command\":\"" + command +
                         "\",\"description\":\"search\"}}");
    }
    if (!withId) {
        blocks.resize(1);
    }
    const time_t day = static_cast<time_t>(s.clock) / 86400;
    e.usageByUtcDay[day] += usage;
    e.usageBySession[s.id] += usage;
    e.total += usage;
    for (const auto& block : blocks) {
        header(out, w, s, "assistant", w.uuid());
        out += ",\"message\":{";
        if (withId) {
            out += "\"id\":\"" + messageId + "\",";
        }
        out += "\"type\":\"message\",\"role\":\"assistant\",\"model\":\"" + model + "\",\"content\":[" +
               block + "],\"stop_reason\":null,\"stop_sequence\":null,\"usage\":{\"input_tokens\":" +
               std::to_string(usage.inputTokens) +
               ",\"cache_creation_input_tokens\":" + std::to_string(usage.cacheCreationInputTokens) +
               ",\"cache_read_input_tokens\":" + std::to_string(usage.cacheReadInputTokens) +
               ",\"cache_creation\":{\"ephemeral_5m_input_tokens\":" +
               std::to_string(usage.cacheCreationInputTokens) +
               ",\"ephemeral_1h_input_tokens\":0},\"output_tokens\":" + std::to_string(usage.outputTokens) +
               ",\"service_tier\":\"standard\"}}";
        if (withId) {
            out += ",\"requestId\":\"" + requestId + "\"";
        }
        out += "}\n";
        ++e.assistantLines;
        // Lines of one message are written within the same second or two.
    }
    s.clock += w.range(2, 30);
}

// Writes lines until `budget` bytes.
void conversation(std::string& out, Writer& w, Session& s, TreeGenerator::Expected& e, int64_t budget) {
    while (static_cast<int64_t>(out.size()) < budget) {
        if (!s.sidechain) {
            typedPrompt(out, w, s, e);
        }
        const int rounds = w.range(1, 6);
        for (int r = 0; r < rounds && static_cast<int64_t>(out.size()) < budget; ++r) {
            std::vector<std::string> toolIds;
            assistantMessage(out, w, s, e, toolIds);
            for (const auto& id : toolIds) {
                toolResult(out, w, s, id, w.range(100, 6000));
            }
            if (w.range(0, 9) == 0) {
                otherLine(out, w, s);
            }
        }
        s.clock += w.range(10, 900);
    }
}

} // namespace

TreeGenerator::Expected TreeGenerator::generate(const Options& o) {
    Writer w(o);
    Expected e;
    const int64_t perSession = o.targetBytes / std::max(1, o.sessions);
    std::string out;
    for (int i = 0; i < o.sessions; ++i) {
        const int project = i % std::max(1, o.projects);
        Session s;
        s.id = w.uuid();
        s.cwd = "/home/dev/code/project" + std::to_string(project);
        const std::string dir = o.root + "/-home-dev-code-project" + std::to_string(project);
        (void)files::ensureDirectory(dir);
        s.clock = static_cast<double>(o.firstDay + w.range(0, o.days - 1)) * 86400 + w.range(0, 86399) + 0.25;
        const bool subagent = static_cast<double>(w.next() % 1000) < o.subagentShare * 1000;
        const int64_t budget = subagent ? perSession * 3 / 4 : perSession;
        out.clear();
        conversation(out, w, s, e, budget);
        // A half-written last line, as a live transcript has now and then.
        if (w.range(0, 9) == 0) {
            out += "{\"parentUuid\":\"x\",\"type\":\"assistant\",\"message\":{\"usage\":{\"input_tok";
        }
        e.bytes += static_cast<int64_t>(out.size());
        if (auto f = std::fopen((dir + "/" + s.id + ".jsonl").c_str(), "wb")) {
            std::fwrite(out.data(), 1, out.size(), f);
            std::fclose(f);
        }
        if (subagent) {
            Session a = s;
            a.sidechain = true;
            a.agentId = w.hex(8);
            a.parent.clear();
            out.clear();
            conversation(out, w, a, e, perSession - budget);
            const std::string agentDir = dir + "/" + s.id + "/subagents";
            (void)files::ensureDirectory(agentDir);
            e.bytes += static_cast<int64_t>(out.size());
            if (auto f = std::fopen((agentDir + "/agent-" + a.agentId + ".jsonl").c_str(), "wb")) {
                std::fwrite(out.data(), 1, out.size(), f);
                std::fclose(f);
            }
        }
    }
    return e;
}

} // namespace perchwell::bench
