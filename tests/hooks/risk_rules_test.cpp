#include "hooks/risk_rules.h"

#include <gtest/gtest.h>

using namespace perchwell;

namespace {

// Tag of the first rule of `table` that matches, or "" when none does.
std::string firstTag(const std::vector<RiskRule>& table, std::string_view haystack) {
    for (const RiskRule& rule : table) {
        if (rule.matches(haystack)) {
            return rule.tag;
        }
    }
    return "";
}

struct RuleCase {
    const char* haystack; // already lower case, as the decision hands it over
    const char* tag;
};

} // namespace

TEST(RiskRules, EveryTableRowCompilesAndContainsItsLiteral) {
    EXPECT_EQ(catastrophicRuleTable().size(), 7u);
    EXPECT_EQ(pathRuleTable().size(), 8u);
    for (const auto* table : {&catastrophicRuleTable(), &pathRuleTable()}) {
        for (const RiskRule& rule : *table) {
            EXPECT_NE(rule.regex->get(), nullptr) << rule.tag;
            // The pre-check must never hide a match: the literal is part of every match.
            EXPECT_FALSE(rule.matches("")) << rule.tag;
        }
    }
}

TEST(RiskRules, CatastrophicTable) {
    const RuleCase cases[] = {
        {"bash rm -rf /", "rm-root"},
        {"bash rm -r /", "rm-root"},
        {"bash rm -rf /*", "rm-root"},
        {"bash rm  -rf\t/ --no-preserve-root", "rm-root"},
        {"bash rm -rf /tmp/build", ""},
        {"bash rm -fr /", ""},
        {"bash rm -rf ~/projects/old", "rm-home-tilde"},
        {"bash rm -rf ~", "rm-home-tilde"},
        {"bash rm -rf $home", "rm-home-env"},
        {"bash rm -rf $home/x", "rm-home-env"},
        {"bash rm -rf $homebrew", ""},
        {"bash dd if=/dev/zero of=/dev/rdisk4", "dd-disk"},
        {"bash dd of=/dev/disk2", "dd-disk"},
        {"bash dd if=/dev/zero of=/tmp/disk.img", ""},
        {"bash mkfs.ext4 /dev/sda1", "mkfs"},
        {"bash mkfs.ext4 image.img", ""},
        {"bash shutdown -h now", "shutdown"},
        {"bash shutdown now", "shutdown"},
        {"bash shutdown -r now", ""},
        {"bash :(){ :|:& };:", "fork-bomb"},
        {"bash : ( ) { : | : & } ; :", ""},
        {"bash ls -la", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(firstTag(catastrophicRuleTable(), c.haystack), c.tag) << c.haystack;
    }
}

TEST(RiskRules, PathTable) {
    const RuleCase cases[] = {
        {"write ~/.ssh/id_rsa", "ssh"},
        {"read /home/u/.ssh", "ssh"},
        {".ssh/config", "ssh"},
        {"read id_rsa.pub", ""},
        {"read /home/u/id_rsa", "id-rsa"},
        {"read id_ed25519", "id-ed25519"},
        {"read ~/.aws/credentials", "aws"},
        {"read ~/.gnupg", "gnupg"},
        {"read /etc/hosts", "etc"},
        {"bash cat /private/etc/hosts", ""},
        {"read .env", "env"},
        {"read app/.env.local", "env"},
        {"read .envrc", ""},
        {"bash ls /var/db/x", "var-db"},
        {"read ~/.sshd_config", ""},
        {"bash echo hi\n/etc/passwd", "etc"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(firstTag(pathRuleTable(), c.haystack), c.tag) << c.haystack;
    }
}

TEST(RiskRules, KeywordMatching) {
    struct Case {
        const char* needle;
        const char* haystack;
        bool match;
    } cases[] = {
        {"delete", "bash delete_tmp", true},
        {"delete", "bash deleted", true},
        {"delete", "bash undelete", false},
        {"delete", "delete", true},
        {"--no-verify", "bash git commit --no-verify", true},
        {"--no-verify", "--no-verify at start", true},
        {"--no-verify", "bash git commit x--no-verify", false},
        {"--no-verify", "bash git commit é--no-verify", true},
        {"rm -rf", "bash rm -rf build", true},
        {"reset --hard", "bash git reset --hard head", true},
        {"a.b", "bash axb", false},
        {"a.b", "bash a.b", true},
        {"(x)", "bash (x)", true},
        {"(x)", "bash f(x)", false},
        {"\\e", "bash \\e", true},
        {"löschen", "bash dateilöschen", true},
        {"löschen", "bash loschen", false},
        {"drop database", "sql drop  database", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(keywordMatches(c.needle, c.haystack), c.match) << c.needle << " in " << c.haystack;
    }
}
