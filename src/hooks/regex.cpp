#define PCRE2_CODE_UNIT_WIDTH 8
#include "hooks/regex.h"

#include <pcre2.h>
#include <string>

namespace perchwell {

void Regex::Free::operator()(pcre2_real_code_8* code) const {
    pcre2_code_free(code);
}

std::optional<Regex> Regex::compile(std::string_view pattern, bool jit) {
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    pcre2_code* code =
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                      PCRE2_UTF | PCRE2_UCP | PCRE2_MATCH_INVALID_UTF, &errorCode, &errorOffset, nullptr);
    if (code == nullptr) {
        return std::nullopt;
    }
    if (jit) {
        // Without JIT support the interpreter still gives the same answers.
        (void)pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
    }
    return Regex(code);
}

bool Regex::search(std::string_view subject) const {
    std::unique_ptr<pcre2_match_data, decltype(&pcre2_match_data_free)> data(
        pcre2_match_data_create(1, nullptr), &pcre2_match_data_free);
    if (!data) {
        return false;
    }
    const int rc = pcre2_match(code_.get(), reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), 0,
                               0, data.get(), nullptr);
    return rc >= 0;
}

const Regex* LazyRegex::get() const {
    std::call_once(once_, [this] { compiled_ = Regex::compile(pattern_); });
    return compiled_ ? &*compiled_ : nullptr;
}

std::string escapeForRegex(std::string_view literal) {
    std::string out;
    out.reserve(literal.size() * 2);
    for (char c : literal) {
        const auto u = static_cast<unsigned char>(c);
        const bool plain =
            u >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!plain) {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    return out;
}

} // namespace perchwell
