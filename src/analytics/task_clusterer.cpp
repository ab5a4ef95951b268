#include "analytics/task_clusterer.h"

#include "analytics/grapheme_text.h"

#include <algorithm>
#include <cstdio>
#include <random>

namespace perchwell {
namespace {

constexpr size_t titleLimit = 60;
constexpr size_t breadcrumbLimit = 40;
constexpr size_t breadcrumbCount = 3;
constexpr std::string_view toolResultMarker = "[tool_result]";

std::string randomUuid() {
    thread_local std::mt19937_64 engine{std::random_device{}()};
    const uint64_t hi = (engine() & 0xFFFFFFFFFFFF0FFFull) | 0x0000000000004000ull; // version 4
    const uint64_t lo = (engine() & 0x3FFFFFFFFFFFFFFFull) | 0x8000000000000000ull; // RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof(text), "%08X-%04X-%04X-%04X-%012llX", static_cast<unsigned>(hi >> 32),
                  static_cast<unsigned>((hi >> 16) & 0xFFFF), static_cast<unsigned>(hi & 0xFFFF),
                  static_cast<unsigned>(lo >> 48), static_cast<unsigned long long>(lo & 0xFFFFFFFFFFFFull));
    return text;
}

const std::string& cwdText(const UserEntry& e) {
    static const std::string empty;
    return e.cwd ? *e.cwd : empty;
}

} // namespace

std::string TaskClusterer::clean(std::string_view text) {
    std::string out(text);
    std::replace(out.begin(), out.end(), '\n', ' ');
    const auto isSpace = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    };
    size_t b = 0;
    size_t e = out.size();
    while (b < e && isSpace(out[b])) {
        ++b;
    }
    while (e > b && isSpace(out[e - 1])) {
        --e;
    }
    return out.substr(b, e - b);
}

std::optional<WorkflowTask> TaskClusterer::makeTask(const std::vector<UserEntry>& run) {
    if (run.empty()) {
        return std::nullopt;
    }
    WorkflowTask task;
    task.id = randomUuid();
    task.cwd = run.front().cwd ? *run.front().cwd : "<unknown>";
    task.startedAt = run.front().timestamp;
    task.endedAt = run.back().timestamp;
    task.title = graphemes::truncated(clean(run.front().content), titleLimit);
    task.promptCount = static_cast<int64_t>(run.size());
    for (size_t i = 0; i < std::min(breadcrumbCount, run.size()); ++i) {
        task.breadcrumb.push_back(graphemes::truncated(clean(run[i].content), breadcrumbLimit));
    }
    return task;
}

std::vector<WorkflowTask> TaskClusterer::cluster(std::vector<UserEntry> prompts, double gap) {
    std::stable_sort(prompts.begin(), prompts.end(),
                     [](const UserEntry& a, const UserEntry& b) { return a.timestamp < b.timestamp; });
    std::vector<WorkflowTask> tasks;
    std::vector<UserEntry> run;
    const auto close = [&] {
        if (auto task = makeTask(run)) {
            tasks.push_back(std::move(*task));
        }
        run.clear();
    };
    for (auto& p : prompts) {
        if (!run.empty()) {
            const auto& last = run.back();
            if (p.timestamp - last.timestamp > gap || cwdText(p) != cwdText(last)) {
                close();
            }
        }
        run.push_back(std::move(p));
    }
    close();
    std::reverse(tasks.begin(), tasks.end());
    return tasks;
}

bool TaskClusterer::isToolResultOnly(const UserEntry& entry) {
    // The store keeps a tool result as "[tool_result]", blocks joined by line feeds.
    std::string_view rest = entry.content;
    if (rest.empty()) {
        return false;
    }
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        if (rest.substr(0, end) != toolResultMarker) {
            return false;
        }
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    return true;
}

std::vector<UserEntry> TaskClusterer::typedPrompts(std::vector<UserEntry> prompts) {
    std::erase_if(prompts, isToolResultOnly);
    return prompts;
}

} // namespace perchwell
