#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace perchwell {

// The texts of a prompt-rewrite request and the vagueness test's word rules.
struct PromptRewrite {
    static constexpr std::string_view systemPrompt =
        "You are a prompt coach for Claude Code. Rewrite the user's prompt in one concise sentence, adding "
        "file "
        "paths, desired result, constraints, and concrete success criteria when useful. If the prompt is "
        "already "
        "specific enough, return exactly \"ORIGINAL\".\nReturn only the rewrite or ORIGINAL. No explanation.";
    static constexpr std::string_view actionVerbs[] = {
        "fix",     "add",    "implement", "test",  "refactor",  "optimize", "delete", "create", "debug",
        "migrate", "deploy", "ship",      "build", "integrate", "split",    "merge",  "remove"};
    // Prompts shorter than this many user-perceived characters are vague.
    static constexpr size_t shortPrompt = 30;

    // For a trimmed prompt of at least `shortPrompt` characters: it names an action
    // verb (as a substring, so "address" counts for "add"), or holds a digit together
    // with "/" or "." (a path, a file or a version).
    static bool looksSpecific(std::string_view trimmedText);

    // "Original prompt: …\nProject directory: …\nBranch: …"; the two line feeds are
    // always there, the directory and branch only when known.
    static std::string userPrompt(std::string_view content, const std::optional<std::string>& cwd,
                                  const std::optional<std::string>& gitBranch);
};

} // namespace perchwell
