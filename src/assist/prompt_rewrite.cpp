#include "assist/prompt_rewrite.h"

#include "common/utf8.h"

#include <algorithm>
#include <cctype>

namespace perchwell {

bool PromptRewrite::looksSpecific(std::string_view trimmedText) {
    const std::string lower = utf8::lowercased(trimmedText);
    for (std::string_view verb : actionVerbs) {
        if (lower.find(verb) != std::string::npos) {
            return true;
        }
    }
    const bool digit =
        std::any_of(trimmedText.begin(), trimmedText.end(), [](unsigned char c) { return std::isdigit(c); });
    return digit && trimmedText.find_first_of("/.") != std::string_view::npos;
}

std::string PromptRewrite::userPrompt(std::string_view content, const std::optional<std::string>& cwd,
                                      const std::optional<std::string>& gitBranch) {
    std::string out = "Original prompt: ";
    out += content;
    out += '\n';
    if (cwd) {
        out += "Project directory: " + *cwd;
    }
    out += '\n';
    if (gitBranch) {
        out += "Branch: " + *gitBranch;
    }
    return out;
}

} // namespace perchwell
