#pragma once

#include <memory>
#include <optional>
#include <string_view>

struct pcre2_real_code_8;

namespace perchwell {

// A compiled PCRE2 pattern with Unicode-aware \s \w \b (UTF + UCP), matching the
// ICU meaning the rule tables are written for. Safe to share between threads.
class Regex {
public:
    // Nothing when the pattern does not compile. `jit` pays a compile cost once for
    // faster matching; worth it for patterns that live for the whole process.
    static std::optional<Regex> compile(std::string_view pattern, bool jit = true);

    // True when the pattern matches anywhere in `subject`. Invalid UTF-8 in the
    // subject never matches inside the bad bytes and never fails the call.
    bool search(std::string_view subject) const;

private:
    struct Free {
        void operator()(pcre2_real_code_8* code) const;
    };
    explicit Regex(pcre2_real_code_8* code) : code_(code, Free{}) {}
    std::shared_ptr<pcre2_real_code_8> code_;
};

// Escapes every ASCII character that is not a letter or digit, so the text is matched literally.
std::string escapeForRegex(std::string_view literal);

} // namespace perchwell
