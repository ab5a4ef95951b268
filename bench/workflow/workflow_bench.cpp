// Back-fill throughput and append-to-callback latency of the workflow watcher over a
// transcript tree (see generate_transcripts.py and run.sh).
//     workflow_bench backfill <root> <database> [chunk bytes]
//     workflow_bench latency <root> <database> <appends>
#include "workflow/workflow_reader.h"
#include "workflow/workflow_store.h"
#include "workflow/workflow_watcher.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace perchwell;
using Clock = std::chrono::steady_clock;

namespace {

uint64_t treeBytes(const std::string& root) {
    uint64_t bytes = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.is_regular_file() && entry.path().extension() == ".jsonl") {
            bytes += entry.file_size();
        }
    }
    return bytes;
}

std::unique_ptr<WorkflowStore> openStore(const std::string& path) {
    auto store = WorkflowStore::open(path);
    if (!store) {
        std::fprintf(stderr, "cannot open %s: %s\n", path.c_str(), store.error().message.c_str());
        std::exit(1);
    }
    return std::move(*store);
}

int backfill(const std::string& root, const std::string& db, size_t chunkBytes) {
    const uint64_t bytes = treeBytes(root);
    auto store = openStore(db);
    WorkflowReader reader(chunkBytes);
    WorkflowWatcher watcher(*store, reader, root);
    const auto t0 = Clock::now();
    watcher.start().get();
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    const auto totals = store->totals();
    std::printf("backfill_bytes=%llu\nbackfill_seconds=%.3f\nbackfill_mb_per_s=%.1f\n",
                static_cast<unsigned long long>(bytes), seconds, bytes / 1e6 / seconds);
    std::printf("projects=%lld sessions=%lld prompts=%lld turns=%lld\n",
                static_cast<long long>(totals.projects), static_cast<long long>(totals.sessions),
                static_cast<long long>(totals.userPrompts), static_cast<long long>(totals.assistantTurns));
    return 0;
}

int latency(const std::string& root, const std::string& db, int appends) {
    auto store = openStore(db);
    WorkflowReader reader;
    WorkflowWatcher watcher(*store, reader, root);
    std::mutex mutex;
    std::condition_variable seen;
    std::string last;
    Clock::time_point arrived;
    watcher.onUserPromptIngested = [&](const UserEntry& e) {
        std::lock_guard lock(mutex);
        last = e.uuid;
        arrived = Clock::now();
        seen.notify_all();
    };
    watcher.start().get();

    // Append to an existing session, as a running Claude Code does.
    std::string file;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.is_regular_file() && entry.path().extension() == ".jsonl") {
            file = entry.path().string();
            break;
        }
    }
    const std::string session = std::filesystem::path(file).stem().string();
    std::vector<double> millis;
    for (int i = 0; i < appends; ++i) {
        const std::string uuid = "bench-" + std::to_string(i);
        const std::string line =
            R"({"type":"user","uuid":")" + uuid + R"(","sessionId":")" + session +
            R"(","timestamp":"2025-06-01T09:30:15.123Z","message":{"content":"next step please"}})"
            "\n";
        const auto t0 = Clock::now();
        {
            std::ofstream out(file, std::ios::app | std::ios::binary);
            out << line;
        }
        std::unique_lock lock(mutex);
        if (!seen.wait_for(lock, std::chrono::seconds(5), [&] { return last == uuid; })) {
            std::fprintf(stderr, "append %d not reported within 5 s\n", i);
            return 1;
        }
        millis.push_back(std::chrono::duration<double, std::milli>(arrived - t0).count());
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::sort(millis.begin(), millis.end());
    std::printf("appends=%d\nlatency_ms_median=%.2f\nlatency_ms_p90=%.2f\nlatency_ms_max=%.2f\n", appends,
                millis[millis.size() / 2], millis[millis.size() * 9 / 10], millis.back());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "backfill" && (argc == 4 || argc == 5)) {
        return backfill(argv[2], argv[3],
                        argc == 5 ? std::strtoull(argv[4], nullptr, 10) : WorkflowReader::defaultChunkBytes);
    }
    if (mode == "latency" && argc == 5) {
        return latency(argv[2], argv[3], std::atoi(argv[4]));
    }
    std::fprintf(stderr, "usage: %s backfill <root> <db> [chunk bytes] | latency <root> <db> <appends>\n",
                 argv[0]);
    return 2;
}
