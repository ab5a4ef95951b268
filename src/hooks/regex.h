#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
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

// A pattern compiled on its first use, once per process, from any thread. A hook
// process pays only for the rules whose literal shows up in its input.
class LazyRegex {
public:
    explicit LazyRegex(std::string pattern) : pattern_(std::move(pattern)) {}
    // Nothing when the pattern does not compile.
    const Regex* get() const;

private:
    std::string pattern_;
    mutable std::once_flag once_;
    mutable std::optional<Regex> compiled_;
};

// Escapes every ASCII character that is not a letter or digit, so the text is matched literally.
std::string escapeForRegex(std::string_view literal);

} // namespace perchwell
