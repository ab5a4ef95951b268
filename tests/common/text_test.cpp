#include "common/substring_search.h"
#include "common/utf8.h"

#include <gtest/gtest.h>

using namespace perchwell;

TEST(SubstringSearch, AgreesWithPlainFind) {
    const std::string texts[] = {"",       "a",     "rm -rf /", "xx.envyy.env",
                                 "aaaaab", "$home", "zq",       std::string("a\0b", 3)};
    const std::string needles[] = {
        "", "a", "b", ".env", "ab", "aab", "$home", "zq", "q", "rm -rf /x", std::string("\0b", 2)};
    for (const auto& t : texts) {
        for (const auto& n : needles) {
            EXPECT_EQ(containsSubstring(t, n), t.find(n) != std::string::npos) << t << " / " << n;
        }
    }
}

TEST(Utf8, LowercaseTrimAndValidity) {
    struct Case {
        const char* in;
        const char* lower;
    } cases[] = {
        {"RM -RF $HOME", "rm -rf $home"},
        {"ÉCOLE Straße ΣΑΣ", "école straße σασ"},
        {"MIXED ascii É then ASCII", "mixed ascii é then ascii"},
        {"bad \xff BYTE", "bad \xff byte"},
        {"@[`{", "@[`{"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utf8::lowercased(c.in), c.lower);
    }
    EXPECT_EQ(utf8::trimHorizontalWhitespace(" \t\u00a0 delete \u3000"), "delete");
    EXPECT_EQ(utf8::trimHorizontalWhitespace("\ndelete\n"), "\ndelete\n");
    EXPECT_EQ(utf8::trimHorizontalWhitespace("   "), "");
    EXPECT_TRUE(utf8::isValid("é"));
    EXPECT_FALSE(utf8::isValid("\xc3"));
}
