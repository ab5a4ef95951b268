#include "assist/continue_text.h"
#include "assist/ollama_error.h"
#include "assist/ollama_url_guard.h"
#include "assist/prompt_rewrite.h"

#include <gtest/gtest.h>

namespace perchwell {
namespace {

TEST(OllamaURLGuardTest, RefusesWhatCouldReachAMetadataServiceOrAnotherLoopback) {
    struct Case {
        const char* scheme;
        const char* host;
        bool allowed;
    };
    const Case cases[] = {
        {"http", "127.0.0.1", true},
        {"HTTP", "LOCALHOST", true},
        {"https", "10.0.0.5", true},
        {"http", "ollama.lan", true},
        {"ftp", "127.0.0.1", false},
        {"", "127.0.0.1", false},
        {"http", "", false},
        {"http", "127.0.0.2", false},
        {"http", "127.1", false},
        {"http", "169.254.1.1", false},
        {"http", "169.254.169.254", false},
        {"http", "0.0.0.0", false},
        {"http", "0", false},
        {"http", "::", false},
        {"http", "[::]", false},
        {"http", "fd00:ec2::254", false},
        {"http", "[FD00:EC2::254]", false},
        {"http", "100.100.100.200", false},
        {"http", "192.0.0.192", false},
        {"http", "168.63.129.16", false},
        {"http", "Metadata.Google.Internal", false},
        {"http", "metadata.google.internal.", false}, // the same name, fully qualified
        {"http", "metadata.goog", false},
        {"http", "metadata", false},
        {"http", "instance-data", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OllamaURLGuard::isAllowed(c.scheme, c.host), c.allowed) << c.scheme << "://" << c.host;
    }
}

TEST(OllamaErrorTest, DescriptionsNameTheCauseAndCutTheBodyAt200Characters) {
    EXPECT_EQ(OllamaError::notReachable("Connection refused").description(),
              "Ollama is not reachable: Connection refused");
    EXPECT_EQ(OllamaError::modelMissing("qwen2.5:0.5b").description(),
              "Ollama model is not installed: qwen2.5:0.5b. Run `ollama pull qwen2.5:0.5b`.");
    EXPECT_EQ(OllamaError::decodeFailed().description(), "Could not parse Ollama response.");
    EXPECT_EQ(OllamaError::badStatus(500, std::string(300, 'x')).description(),
              "Ollama HTTP 500: " + std::string(200, 'x'));
    // Characters, not bytes: a multi-byte character is never split.
    std::string accents;
    for (int i = 0; i < 250; ++i) {
        accents += "é";
    }
    const std::string described = OllamaError::badStatus(502, accents).description();
    EXPECT_EQ(described, "Ollama HTTP 502: " + accents.substr(0, 400));
}

TEST(ContinueTextTest, JudgesTheModelsWording) {
    struct Case {
        std::string reply;
        std::string typed;
        std::optional<std::string> rejected;
    };
    const Case cases[] = {
        {"\n\n  'Proceed.'  ", "Proceed.", std::nullopt},
        {"Keep going\nwith more lines", "Keep going", std::nullopt},
        {"「続けてください」", "続けてください", std::nullopt},
        {"\"`Continue with the next step`\"", "Continue with the next step", std::nullopt},
        {"Don't stop now", "continue", "stop"},
        {"Please WAIT", "continue", "wait"},
        {"Exit and halt", "continue", "halt"}, // the table's order decides which is named
        {std::string(51, 'a'), "continue", std::nullopt},
        {std::string(50, 'a'), std::string(50, 'a'), std::nullopt},
        {"\n \t\n", "continue", std::nullopt},
        {"", "continue", std::nullopt},
        // Nothing but printable text reaches a terminal.
        {"\x1b[31mgo on\x1b[0m", "go on", std::nullopt},
        {"\x1b]0;title\x07proceed", "proceed", std::nullopt},
        {"carry\x03 on\x7f", "carry on", std::nullopt},
        {"\r\nresume\r\n", "resume", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto verdict = ContinueText::judge(c.reply);
        EXPECT_EQ(verdict.text, c.typed) << c.reply;
        EXPECT_EQ(verdict.rejectedWord, c.rejected) << c.reply;
    }
}

TEST(ContinueTextTest, TerminalSafeTextKeepsOnlyPrintableCharacters) {
    EXPECT_EQ(ContinueText::terminalSafe("a\nb\tc\x1b[2Jd\xc2\x9b"
                                         "e\xff"),
              "ab cde");
    EXPECT_EQ(ContinueText::terminalSafe("a\nb", true), "a\nb");
    EXPECT_EQ(ContinueText::terminalSafe("unterminated \x1b]52;c;ZXZpbA=="), "unterminated ");
    EXPECT_EQ(ContinueText::terminalSafe("weiter \xe2\x86\x92 ok"), "weiter → ok");
}

TEST(PromptRewriteTest, SpecificPromptsNameAnActionOrAPathWithANumber) {
    struct Case {
        std::string text;
        bool specific;
    };
    const Case cases[] = {
        {"please refactor the settings loader code", true},
        {"what should we do about the address form", true}, // "add" inside "address"
        {"look at the crash in version 3.2 of the app", true},
        {"look at the crash in the latest build of it", true}, // "build"
        {"look at the crash in the newest version now.", false},
        {"look at the crash in version three of it", false},
        {"LOOK INTO WHY THE PARSER IS SLOW, THEN FIX IT", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PromptRewrite::looksSpecific(c.text), c.specific) << c.text;
    }
}

TEST(PromptRewriteTest, UserPromptAlwaysHasItsTwoLineFeeds) {
    EXPECT_EQ(PromptRewrite::userPrompt("make it faster", "/home/a/app", "main"),
              "Original prompt: make it faster\nProject directory: /home/a/app\nBranch: main");
    EXPECT_EQ(PromptRewrite::userPrompt("make it faster", std::nullopt, std::nullopt),
              "Original prompt: make it faster\n\n");
    EXPECT_EQ(PromptRewrite::userPrompt("x", std::nullopt, "dev"), "Original prompt: x\n\nBranch: dev");
}

} // namespace
} // namespace perchwell
