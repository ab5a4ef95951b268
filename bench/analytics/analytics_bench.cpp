// analytics_bench generate <root> [bytes] [sessions] [projects]
//   writes a transcript tree and prints the expected per-day totals (UTC) as JSON.
// analytics_bench trace <root> [append-file]
//   times the Trace engine: first pass, a reload after 1 MB is appended, and searches.
#include "analytics/trace_index.h"
#include "tree_generator.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace perchwell;

namespace {

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

int generate(int argc, char** argv) {
    bench::TreeGenerator::Options o;
    o.root = argv[2];
    if (argc > 3) {
        o.targetBytes = std::atoll(argv[3]);
    }
    if (argc > 4) {
        o.sessions = std::atoi(argv[4]);
    }
    if (argc > 5) {
        o.projects = std::atoi(argv[5]);
    }
    const auto e = bench::TreeGenerator::generate(o);
    std::printf("{\"bytes\":%lld,\"assistantLines\":%lld,\"daily\":[", static_cast<long long>(e.bytes),
                static_cast<long long>(e.assistantLines));
    bool first = true;
    for (const auto& [day, u] : e.usageByUtcDay) {
        std::printf("%s{\"day\":%lld,\"totalTokens\":%lld}", first ? "" : ",", static_cast<long long>(day),
                    static_cast<long long>(u.totalTokens()));
        first = false;
    }
    std::printf("],\"totalTokens\":%lld}\n", static_cast<long long>(e.total.totalTokens()));
    return 0;
}

int trace(int argc, char** argv) {
    const std::string root = argv[2];
    TraceIndex index(root);
    auto start = std::chrono::steady_clock::now();
    index.refresh();
    std::printf("first pass: %.0f ms, %zu entries\n", millisecondsSince(start), index.entryCount());

    if (argc > 3) {
        // 1 MB of new lines at the end of one session, as Claude Code appends them.
        const std::string file = argv[3];
        std::string lines;
        int n = 0;
        while (lines.size() < (1u << 20)) {
            ++n;
            lines += "{\"type\":\"assistant\",\"uuid\":\"appended-" + std::to_string(n) +
                     "\",\"sessionId\":\"appended\",\"timestamp\":\"2030-01-01T00:00:00Z\",\"cwd\":\"/x\","
                     "\"message\":{\"id\":\"msg_app" +
                     std::to_string(n) + "\",\"model\":\"m\",\"content\":[{\"type\":\"text\",\"text\":\"" +
                     std::string(900, 'a') + "\"}],\"usage\":{\"input_tokens\":1,\"output_tokens\":2}}}\n";
        }
        if (FILE* f = std::fopen(file.c_str(), "ab")) {
            std::fwrite(lines.data(), 1, lines.size(), f);
            std::fclose(f);
        }
        start = std::chrono::steady_clock::now();
        const auto outcome = index.refresh();
        std::printf("reload after %lld appended bytes: %.1f ms (%zu files read)\n",
                    static_cast<long long>(outcome.bytesRead), millisecondsSince(start), outcome.filesRead);
        start = std::chrono::steady_clock::now();
        index.refresh();
        std::printf("reload with nothing new: %.1f ms\n", millisecondsSince(start));
    }
    for (const char* query : {"parser retry", "検索", "zzzzunlikely", "owl 🦉", "toolu_01ab"}) {
        start = std::chrono::steady_clock::now();
        const auto hits = index.search(query);
        std::printf("search \"%s\": %.1f ms, %zu hits\n", query, millisecondsSince(start), hits.size());
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "generate") {
        return generate(argc, argv);
    }
    if (argc >= 3 && std::string(argv[1]) == "trace") {
        return trace(argc, argv);
    }
    std::fputs(
        "usage: analytics_bench generate <root> [bytes] [sessions] [projects] | trace <root> [append-file]\n",
        stderr);
    return 2;
}
