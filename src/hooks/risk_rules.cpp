#include "hooks/risk_rules.h"

#include "common/utf8.h"

namespace perchwell {
namespace {

struct RuleRow {
    const char* pattern;
    const char* reason;
    const char* tag;
    const char* requiredLiteral;
};

std::vector<RiskRule> buildTable(std::initializer_list<RuleRow> rows) {
    std::vector<RiskRule> rules;
    for (const RuleRow& row : rows) {
        rules.push_back(
            {std::make_shared<const LazyRegex>(row.pattern), row.reason, row.tag, row.requiredLiteral});
    }
    return rules;
}

} // namespace

bool RiskRule::matches(std::string_view haystack) const {
    if (!containsSubstring(haystack, requiredLiteral)) {
        return false;
    }
    const Regex* compiled = regex->get();
    return compiled != nullptr && compiled->search(haystack);
}

const std::vector<RiskRule>& catastrophicRuleTable() {
    static const std::vector<RiskRule> table = buildTable({
        {R"(rm\s+-rf?\s+/(\s|$|\*))", "rm -rf at filesystem root", "rm-root", "rm"},
        {R"(rm\s+-rf?\s+~(\s|$|/))", "rm -rf home directory", "rm-home-tilde", "rm"},
        {R"(rm\s+-rf?\s+\$home(\s|$|/))", "rm -rf home directory", "rm-home-env", "$home"},
        {R"(dd\s+(if=\S+\s+)?of=/dev/r?disk)", "dd writes to raw disk device", "dd-disk", "of=/dev/"},
        {R"(mkfs\.\w+\s+/dev/)", "filesystem format", "mkfs", "mkfs."},
        {R"(shutdown\s+(-h|now))", "system shutdown", "shutdown", "shutdown"},
        {R"(:\(\)\s*\{\s*:\s*\|\s*:&\s*\}\s*;\s*:)", "fork bomb", "fork-bomb", ":()"},
    });
    return table;
}

const std::vector<RiskRule>& pathRuleTable() {
    static const std::vector<RiskRule> table = buildTable({
        {R"((^|[\s/~])\.ssh(/|\s|$))", "touches ~/.ssh — SSH keys directory", "ssh", ".ssh"},
        {R"((^|[\s/~])\.aws(/|\s|$))", "touches ~/.aws — AWS credentials", "aws", ".aws"},
        {R"((^|[\s/~])\.gnupg(/|\s|$))", "touches ~/.gnupg — GPG keys", "gnupg", ".gnupg"},
        {R"((^|\s)/etc/)", "touches /etc/ — system configuration", "etc", "/etc/"},
        {R"(\.env(\.|\s|$))", "touches .env file — environment secrets", "env", ".env"},
        {R"((^|\s)/var/db/)", "touches /var/db/ — system databases", "var-db", "/var/db/"},
        {R"((^|[\s/])id_rsa(\s|$))", "touches id_rsa — SSH private key", "id-rsa", "id_rsa"},
        {R"((^|[\s/])id_ed25519(\s|$))", "touches id_ed25519 — SSH private key", "id-ed25519", "id_ed25519"},
    });
    return table;
}

const std::vector<std::string>& defaultDangerousKeywords() {
    static const std::vector<std::string> keywords = {"delete",           "rm -rf",       "drop database",
                                                      "force push",       "reset --hard", "git push -f",
                                                      "git push --force", "--no-verify"};
    return keywords;
}

bool keywordMatches(std::string_view needle, std::string_view haystack) {
    // Every match contains the needle itself, so its absence settles it cheaply.
    if (!containsSubstring(haystack, needle)) {
        return false;
    }
    if (!utf8::isAscii(needle) || needle.empty()) {
        return true;
    }
    const char first = needle.front();
    const bool wordStart = (first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z') ||
                           (first >= '0' && first <= '9') || first == '_';
    const std::string pattern =
        std::string(wordStart ? R"(\b)" : "(?:^|[^a-zA-Z0-9_])") + escapeForRegex(needle);
    // Keywords change with the settings, so they are compiled per decision; the
    // interpreter is cheaper than a JIT compile for one search.
    if (auto regex = Regex::compile(pattern, /*jit=*/false)) {
        return regex->search(haystack);
    }
    return true;
}

} // namespace perchwell
