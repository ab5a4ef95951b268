#include "analytics/transcript_pass.h"

#include "analytics/trace_parser.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unordered_map>

namespace perchwell {
namespace {

bool mayBeAssistantLine(std::string_view line) {
    static constexpr std::string_view marker = "\"assistant\"";
    return std::search(line.begin(), line.end(),
                       std::boyer_moore_horspool_searcher(marker.begin(), marker.end())) != line.end();
}

} // namespace

TranscriptPass::TranscriptPass(std::string root) : TranscriptPass(std::move(root), Options()) {}

TranscriptPass::TranscriptPass(std::string root, Options options)
    : root_(std::move(root)), options_(std::move(options)),
      workers_(options_.workers != 0 ? options_.workers : std::max(1u, std::thread::hardware_concurrency())) {
}

TranscriptPass::Outcome TranscriptPass::refresh(const Visit& visit, const std::function<void()>& onReset) {
    Outcome outcome;
    const auto listed = TraceParser::transcriptFiles(root_);
    std::unordered_map<std::string, size_t> known;
    for (size_t i = 0; i < paths_.size(); ++i) {
        known.emplace(paths_[i], i);
    }
    // A known file that is gone, shorter, or another file: start over.
    bool reset = false;
    std::vector<bool> stillListed(paths_.size(), false);
    for (const auto& path : listed) {
        if (auto it = known.find(path); it != known.end()) {
            stillListed[it->second] = true;
        }
    }
    for (size_t i = 0; i < paths_.size() && !reset; ++i) {
        struct stat st {};
        const auto& s = states_[i];
        reset = !stillListed[i] || ::stat(paths_[i].c_str(), &st) != 0 || st.st_ino != s.identity.inode ||
                st.st_dev != s.identity.device || st.st_size < s.offset;
    }
    if (reset) {
        paths_.clear();
        states_.clear();
        known.clear();
        outcome.rebuilt = true;
        if (onReset) {
            onReset();
        }
    }
    std::vector<Job> jobs;
    for (const auto& path : listed) {
        auto it = known.find(path);
        if (it == known.end()) {
            it = known.emplace(path, paths_.size()).first;
            paths_.push_back(path);
            states_.push_back({});
        }
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && st.st_size > states_[it->second].offset) {
            jobs.push_back({it->second, states_[it->second].offset, static_cast<int64_t>(st.st_size)});
        }
    }
    // Largest first, so one big file does not finish last on its own.
    std::sort(jobs.begin(), jobs.end(),
              [&](const Job& a, const Job& b) { return a.size - a.from > b.size - b.from; });

    std::atomic<size_t> next{0};
    std::atomic<size_t> done{0};
    std::atomic<int64_t> bytes{0};
    std::atomic<size_t> advanced{0};
    const unsigned threads = std::min<unsigned>(workers_, std::max<size_t>(1, jobs.size()));
    const auto work = [&](unsigned worker) {
        for (size_t j = next++; j < jobs.size(); j = next++) {
            const Job job = jobs[j];
            const auto result = TranscriptLines::forEach(
                paths_[job.file], job.from, [&](std::string_view text, int64_t after) {
                    if (options_.assistantLinesOnly && !mayBeAssistantLine(text)) {
                        return;
                    }
                    if (auto entry = options_.tokensOnly ? TraceParser::parseForTokens(text)
                                                         : TraceParser::parse(text)) {
                        const Line line{job.file, after - 1 - static_cast<int64_t>(text.size()),
                                        static_cast<uint32_t>(std::min<size_t>(text.size(), UINT32_MAX))};
                        visit(worker, *entry, line);
                    }
                });
            if (result) {
                // Each job touches its own state only.
                bytes += result->endOffset - job.from;
                advanced += result->endOffset > job.from ? 1 : 0;
                states_[job.file] = {result->identity, result->endOffset};
            }
            ++done;
        }
    };
    std::vector<std::thread> pool;
    for (unsigned w = 1; w < threads; ++w) {
        pool.emplace_back(work, w);
    }
    if (options_.progress && !jobs.empty()) {
        // The calling thread reports progress and leaves the work to the pool.
        std::thread last(work, 0);
        while (done.load() < jobs.size()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            options_.progress(done.load(), jobs.size());
        }
        last.join();
    } else {
        work(0);
    }
    for (auto& t : pool) {
        t.join();
    }
    outcome.filesRead = advanced.load();
    outcome.bytesRead = bytes.load();
    return outcome;
}

} // namespace perchwell
