#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace perchwell {

// The words Auto Continue types, and how a local model's wording is vetted.
struct ContinueText {
    static constexpr std::string_view fallback = "continue";
    static constexpr size_t maximumLength = 50;
    static constexpr std::string_view prompt =
        "Your Claude Code agent has paused and is waiting for a short instruction. Return one concise "
        "English "
        "instruction under 12 words that tells it to continue, such as \"continue\", \"proceed\", \"keep "
        "going\", "
        "or \"continue with the next step\". Return only the instruction, with no explanation or quotes.";
    static constexpr std::string_view system =
        "You are a developer's local assistant. Reply with one short instruction only.";
    static constexpr std::string_view antiContinueWords[] = {"stop",   "pause", "halt", "wait", "abort",
                                                             "cancel", "quit",  "exit", "kill", "terminate"};

    // The model's reply made typeable: escape sequences and control characters
    // dropped, its first non-blank line, trimmed of white space and of the quote
    // characters " ' ` 「 」 at both ends.
    static std::string clean(std::string_view reply);

    // What to type for `reply`: the cleaned text, or "continue" when it is empty, too
    // long, or names one of the anti-continue words (`rejectedWord` then says which).
    struct Verdict {
        std::string text;
        std::optional<std::string> rejectedWord;
        std::string cleaned;
    };
    static Verdict judge(std::string_view reply);

    // Only printable text: escape sequences (CSI, OSC, two-byte), C0 and C1 controls,
    // DEL and invalid UTF-8 removed. Line breaks are dropped too unless kept.
    static std::string terminalSafe(std::string_view text, bool keepLineFeeds = false);
};

} // namespace perchwell
