#include "dashboard_sample.h"

#include "workflow/jsonl_parser.h"
#include "workflow/project_scanner.h"
#include "workflow/workflow_store.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>

namespace perchwell::bench {
namespace {

using nlohmann::json;

struct Project {
    const char* cwd;
    const char* branches[3];
    int weight;
};
constexpr Project projects[] = {
    {"/home/dana/src/perchwell", {"main", "dashboard-charts", "fix/watcher-offsets"}, 9},
    {"/home/dana/src/ledger", {"main", "feature/refunds", "chore/bump-deps"}, 6},
    {"/home/dana/src/storefront", {"main", "checkout-redesign", "fix/cart-rounding"}, 5},
    {"/home/dana/src/infra", {"main", "eu-west-failover", "main"}, 3},
    {"/home/dana/notes", {"main", "main", "main"}, 2},
    {"/home/dana/src/mobileapp", {"develop", "feature/offline-sync", "release/2.4"}, 3},
};

constexpr const char* prompts[] = {
    "Add a per-project token chart to the Trace view",
    "The watcher misses lines written while the laptop sleeps, can you find out why?",
    "Write tests for the refund flow when the payment provider times out",
    "Refactor the cart total calculation so rounding happens once, at the end",
    "Why does CI fail on the arm64 runner but not locally?",
    "Bump the AWS provider to 5.x and fix whatever breaks in the plan",
    "Summarise yesterday's meeting notes into action items",
    "Make the offline sync queue survive an app restart",
    "Explain what this migration does before I run it in production",
    "The checkout button is misaligned on Safari, fix the flexbox",
    "Add an index for the sessions query, it takes 400 ms on my database",
    "Rename OrderService to CheckoutService everywhere, keep the public API",
    "Can you review this diff for race conditions?",
    "Port the date helpers from moment to Temporal",
    "Generate a changelog entry for release 2.4",
    "Set up a failover health check for the EU region",
    "Fix the flaky test in watcher_test.cpp (it fails about one run in twenty)",
    "continue",
    "yes, go ahead",
    "Use a QTimer instead of the sleep loop",
    "Add pagination to GET /refunds with a cursor",
    "Profile the startup, something takes two seconds before the window shows",
    "Draft a README section for the new usage command",
    "Why is the bundle 3 MB larger since last week?",
};
constexpr const char* replies[] = {
    "I'll start by reading the current implementation to see where the data comes from.",
    "Found it: the offset is stored before the batch is committed, so a crash loses the tail.",
    "The tests pass now. I also added a case for an empty response body.",
    "Here is the plan: extract the rounding into one helper, call it from the total, and update the tests.",
    "The runner uses an older glibc; pinning the toolchain image fixes the link error.",
    "Done. The plan shows 3 resources changed and none destroyed.",
};
struct Tool {
    const char* name;
    const char* input;
};
constexpr Tool tools[] = {
    {"Read", R"({"file_path":"src/views/trace_view_model.cpp"})"},
    {"Bash", R"({"command":"ctest --preset default -R watcher","description":"Run the watcher tests"})"},
    {"Edit", R"({"file_path":"src/cart/total.ts","old_string":"round(","new_string":"roundOnce("})"},
    {"Grep", R"({"pattern":"OrderService","path":"src"})"},
    {"Bash", R"({"command":"terraform plan -out plan.bin","description":"Plan the change"})"},
    {"Write", R"({"file_path":"CHANGELOG.md"})"},
};

std::string stamp(double t) {
    const auto secs = static_cast<time_t>(t);
    tm utc{};
    gmtime_r(&secs, &utc);
    char text[64];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>((t - std::floor(t)) * 1000));
    return text;
}

class Writer {
public:
    explicit Writer(uint64_t seed) : rng_(seed) {}
    int range(int lo, int hi) { return lo + static_cast<int>(rng_() % static_cast<uint64_t>(hi - lo + 1)); }
    std::string hex(int n) {
        std::string s;
        for (int i = 0; i < n; ++i) {
            s += "0123456789abcdef"[rng_() % 16];
        }
        return s;
    }
    std::string uuid() { return hex(8) + "-" + hex(4) + "-4" + hex(3) + "-a" + hex(3) + "-" + hex(12); }
    const Project& project() {
        int total = 0;
        for (const auto& p : projects) {
            total += p.weight;
        }
        int pick = range(0, total - 1);
        for (const auto& p : projects) {
            if ((pick -= p.weight) < 0) {
                return p;
            }
        }
        return projects[0];
    }

private:
    std::mt19937_64 rng_;
};

struct Session {
    std::string id;
    std::string cwd;
    std::string branch;
    std::optional<std::string> mode;
    std::string parent;
    double clock = 0;
    std::string agentId;                          // sub-agent transcripts only
    std::vector<std::pair<double, json>> records; // at `clock` seconds from the session's start
};

void line(Session& s, json record, Writer& w) {
    const std::string uuid = w.uuid();
    record["parentUuid"] = s.parent.empty() ? json(nullptr) : json(s.parent);
    record["isSidechain"] = !s.agentId.empty();
    if (!s.agentId.empty()) {
        record["agentId"] = s.agentId;
    }
    record["userType"] = "external";
    record["cwd"] = s.cwd;
    record["sessionId"] = s.id;
    record["version"] = "2.0.14";
    record["gitBranch"] = s.branch;
    if (s.mode && record["type"] == "user") {
        record["permissionMode"] = *s.mode;
    }
    record["uuid"] = uuid;
    s.parent = uuid;
    s.records.emplace_back(s.clock, std::move(record));
}

// One assistant message split the way Claude Code writes it: a line per content block,
// each repeating the message's usage.
void answer(Session& s, Writer& w, const char* model, int toolCount) {
    const std::string messageId = "msg_01" + w.hex(22);
    const json usage = {{"input_tokens", w.range(3, 40)},
                        {"cache_creation_input_tokens", w.range(200, 9000)},
                        {"cache_read_input_tokens", w.range(8000, 90000)},
                        {"output_tokens", w.range(40, 2400)},
                        {"service_tier", "standard"}};
    std::vector<json> blocks{{{"type", "text"}, {"text", replies[w.range(0, std::size(replies) - 1)]}}};
    std::vector<std::string> ids;
    for (int t = 0; t < toolCount; ++t) {
        const Tool& tool = tools[w.range(0, std::size(tools) - 1)];
        ids.push_back("toolu_01" + w.hex(22));
        blocks.push_back({{"type", "tool_use"},
                          {"id", ids.back()},
                          {"name", tool.name},
                          {"input", json::parse(tool.input)}});
    }
    for (const auto& block : blocks) {
        line(s,
             {{"type", "assistant"},
              {"requestId", "req_011" + w.hex(21)},
              {"message",
               {{"id", messageId},
                {"type", "message"},
                {"role", "assistant"},
                {"model", model},
                {"content", json::array({block})},
                {"stop_reason", nullptr},
                {"usage", usage}}}},
             w);
    }
    s.clock += w.range(3, 40);
    for (const auto& id : ids) {
        line(s,
             {{"type", "user"},
              {"message",
               {{"role", "user"},
                {"content",
                 json::array({{{"tool_use_id", id}, {"type", "tool_result"}, {"content", "ok"}}})}}}},
             w);
        s.clock += w.range(1, 8);
    }
}

// Writes the transcript with its records moved to start at `start`, and stores it the
// way the watcher would.
void save(const std::filesystem::path& file, Session& s, double start, WorkflowStore* store,
          const std::string& dir) {
    std::string lines;
    std::vector<JSONLEntry> entries;
    for (auto& [at, record] : s.records) {
        record["timestamp"] = stamp(start + at);
        const std::string text = record.dump();
        lines += text + "\n";
        if (auto entry = JSONLParser::parse(text)) {
            entries.push_back(std::move(*entry));
        }
    }
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << lines;
    if (!store || !s.agentId.empty()) {
        return; // the store follows the main transcripts only
    }
    std::string cwd = dir;
    std::replace(cwd.begin(), cwd.end(), '-', '/');
    [[maybe_unused]] auto project = store->upsertProject({dir, cwd, file.parent_path().string(), {}});
    [[maybe_unused]] auto stored =
        store->ingest(s.id, dir, file.string(), entries, static_cast<int64_t>(lines.size()));
}

} // namespace

DashboardSample::Written DashboardSample::generate(const Options& o) {
    Writer w(o.seed);
    Written out;
    const double span = o.days * 86400.0;
    // Sessions of 3 to 25 prompts, started at working hours spread over the days.
    while (out.prompts < o.prompts) {
        const Project& project = w.project();
        Session s;
        s.id = w.uuid();
        s.cwd = project.cwd;
        s.branch = project.branches[w.range(0, 2)];
        const int kind = w.range(0, 9);
        s.mode = kind == 0 ? std::optional<std::string>("vscode") : std::nullopt;
        const int size = std::min(out.sessions < 2 ? w.range(3, 5) : w.range(3, 25),
                                  static_cast<int>(o.prompts - out.prompts));
        std::string dir = s.cwd;
        std::replace(dir.begin(), dir.end(), '/', '-');
        const char* model = w.range(0, 3) == 0 ? "claude-opus-4-1-20250805" : "claude-sonnet-4-5-20250929";
        for (int p = 0; p < size; ++p) {
            line(s,
                 {{"type", "user"},
                  {"message", {{"role", "user"}, {"content", prompts[w.range(0, std::size(prompts) - 1)]}}}},
                 w);
            s.clock += w.range(2, 6);
            for (int round = w.range(1, 3); round > 0; --round) {
                answer(s, w, model, w.range(0, 2));
            }
            s.clock += w.range(30, 300);
            ++out.prompts;
        }
        std::vector<Session> agents;
        if (w.range(0, 3) == 0) { // a sub-agent did part of the work
            Session agent;
            agent.id = s.id;
            agent.cwd = s.cwd;
            agent.branch = s.branch;
            agent.agentId = w.hex(8);
            agent.clock = s.clock / 2;
            for (int i = w.range(2, 6); i > 0; --i) {
                answer(agent, w, "claude-haiku-4-5-20251001", 1);
            }
            agents.push_back(std::move(agent));
        }
        // The first sessions written are the newest: one still active, one idle; the
        // others end at working hours spread over the days.
        const double end = out.sessions == 0   ? o.now - 60
                           : out.sessions == 1 ? o.now - 1500
                                               : o.now - w.range(3600, static_cast<int>(span) - 3600);
        const double start = end - s.clock;
        for (auto& agent : agents) {
            save(std::filesystem::path(o.root) / dir / s.id / "subagents" /
                     ("agent-" + agent.agentId + ".jsonl"),
                 agent, start, nullptr, dir);
            out.lines += static_cast<int64_t>(agent.records.size());
        }
        save(std::filesystem::path(o.root) / dir / (s.id + ".jsonl"), s, start, o.store, dir);
        out.lines += static_cast<int64_t>(s.records.size());
        ++out.sessions;
    }
    return out;
}

} // namespace perchwell::bench
