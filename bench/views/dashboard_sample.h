#pragma once

#include <cstdint>
#include <string>

namespace perchwell {
class WorkflowStore;
}

namespace perchwell::bench {

// A week (or more) of Claude Code work in several projects, written as transcripts the
// way Claude Code writes them (one line per content block of an assistant message,
// tool results as user lines, sub-agent transcripts) and ingested into a workflow
// store: what the dashboard's lenses show on a working machine. Deterministic for a seed
// and a `now`.
class DashboardSample {
public:
    struct Options {
        std::string root; // the projects directory
        WorkflowStore* store = nullptr;
        int prompts = 700; // typed prompts in all
        int days = 7;
        double now = 0; // the newest session ends a minute before it
        uint64_t seed = 7;
    };
    struct Written {
        int64_t prompts = 0;
        int64_t sessions = 0;
        int64_t lines = 0;
    };
    static Written generate(const Options& options);
};

} // namespace perchwell::bench
