#pragma once

#include "analytics/trace_records.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace perchwell {

// Reads Claude Code transcripts for the Trace view and the token reports. Parses with
// RapidJSON (header-only), so the `usage` command shares it without a JSON library.
// Stateless; callable from any thread.
class TraceParser {
public:
    // One transcript line → its entry; nothing for a line that is not a JSON object, of
    // another type, or missing a required field.
    static std::optional<TraceEntry> parse(std::string_view line);
    // The same, leaving out what token figures never read: texts and tool calls.
    static std::optional<TraceEntry> parseForTokens(std::string_view line);

    // Every entry under `root` (the projects directory), sub-agent transcripts included,
    // oldest first (a stable sort: equal timestamps keep file order).
    static std::vector<TraceEntry> scanAll(const std::string& root);

    // The transcript files under `root`: each project's session files, then the
    // sub-agent files kept in <project>/<session>/subagents/.
    static std::vector<std::string> transcriptFiles(const std::string& root);

    // $CLAUDE_CONFIG_DIR/projects, else ~/.claude/projects.
    static std::string defaultRoot();
};

} // namespace perchwell
