#include "api/auth_token.h"
#include "api/file_keychain.h"
#include "fake_keychain.h"
#include "platform/paths.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sys/stat.h>

namespace perchwell {
namespace {

TEST(ConstantTimeEquals, ComparesBytesAndLengths) {
    struct Case {
        std::string a, b;
        bool equal;
    };
    const std::vector<Case> cases = {
        {"", "", true},
        {"abc", "abc", true},
        {"abc", "abd", false},
        {"abc", "ab", false},
        {"ab", "abc", false},
        {"", "a", false},
        {std::string("a\0", 2), "a", false}, // a missing byte counts as 0, the lengths still differ
        {"\xff\xfe", "\xff\xfe", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AuthToken::constantTimeEquals(c.a, c.b), c.equal) << c.a << " vs " << c.b;
    }
}

TEST(BearerToken, SchemeIsExactAndTokenTrimmed) {
    struct Case {
        std::string header;
        std::optional<std::string> token;
    };
    const std::vector<Case> cases = {
        {"Bearer abc", "abc"},
        {"Bearer    abc \t ", "abc"},
        {"Bearer \tabc", "abc"},
        {"Bearer ", ""},
        {"bearer abc", std::nullopt},
        {"BEARER abc", std::nullopt},
        {"Bearer", std::nullopt},
        {"Bearerabc", std::nullopt},
        {" Bearer abc", std::nullopt},
        {"Basic abc", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto token = AuthToken::bearerToken(c.header);
        EXPECT_EQ(token ? std::optional<std::string>(std::string(*token)) : std::nullopt, c.token)
            << c.header;
    }
}

class EnsureAuthTokenTest : public ::testing::Test {
protected:
    void SetUp() override {
        AppLogger::setSink([this](const AppLogger::Record& r) { records.push_back(r); });
    }
    void TearDown() override { AppLogger::setSink({}); }

    std::vector<AppLogger::Record> records;
    AppLogger log{"mcp"};
    testing::FakeKeychain keychain;
};

using Origin = AuthToken::Loaded::Origin;

TEST_F(EnsureAuthTokenTest, StoredNonEmptyTokenIsReturned) {
    keychain.items[keychain.tokenKey()] = "stored-token";
    const auto loaded = AuthToken::ensureAuthToken(keychain, log);
    ASSERT_TRUE(loaded.ok());
    EXPECT_EQ(loaded->token, "stored-token");
    EXPECT_EQ(loaded->origin, Origin::stored);
    EXPECT_EQ(keychain.sets, 0);
}

TEST_F(EnsureAuthTokenTest, MissingOrEmptyItemMakesAndStoresANewToken) {
    for (const bool emptyItem : {false, true}) {
        keychain.items.clear();
        if (emptyItem) {
            keychain.items[keychain.tokenKey()] = "";
        }
        const auto loaded = AuthToken::ensureAuthToken(keychain, log);
        ASSERT_TRUE(loaded.ok());
        EXPECT_TRUE(std::regex_match(loaded->token, std::regex("[0-9a-f]{64}"))) << loaded->token;
        EXPECT_EQ(loaded->origin, Origin::made);
        EXPECT_EQ(keychain.items.at("com.brisklane.perchwell/mcp-token"), loaded->token);
    }
    EXPECT_TRUE(records.empty());
}

TEST_F(EnsureAuthTokenTest, FailedLookupMakesNothingAndChangesNothing) {
    // The store may hold a token this lookup could not see (locked, timed out, daemon error).
    for (const int32_t status : {-5, Keychain::interactionNotAllowedStatus, Keychain::decodeStatus}) {
        keychain.failReads = status;
        const auto loaded = AuthToken::ensureAuthToken(keychain, log);
        ASSERT_FALSE(loaded.ok());
        EXPECT_EQ(loaded.error().message.rfind("fake lookup failed (status " + std::to_string(status), 0), 0u)
            << loaded.error().message;
    }
    EXPECT_EQ(keychain.sets, 0);
    EXPECT_TRUE(records.empty()); // the caller reports it
}

TEST_F(EnsureAuthTokenTest, HexEncodingIsTwoLowerCaseDigitsPerByteInOrder) {
    const auto fixed = [](size_t n) { return Result<std::string>(std::string(n - 2, '\x00') + "\xab\x0f"); };
    EXPECT_EQ(AuthToken::ensureAuthToken(keychain, log, fixed)->token, std::string(60, '0') + "ab0f");
}

TEST_F(EnsureAuthTokenTest, UnstoredTokenIsStillUsedAndWarned) {
    keychain.acceptSets = false;
    const auto loaded = AuthToken::ensureAuthToken(keychain, log);
    ASSERT_TRUE(loaded.ok());
    EXPECT_EQ(loaded->token.size(), 64u);
    EXPECT_EQ(loaded->origin, Origin::unstored);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, LogLevel::warning);
    EXPECT_EQ(records[0].message, "MCP token not persisted to Keychain — will rotate on next launch");
}

TEST_F(EnsureAuthTokenTest, GeneratorFailureGivesUnstoredFallback) {
    const auto failing = [](size_t) { return Result<std::string>(Error{"38"}); };
    const auto loaded = AuthToken::ensureAuthToken(keychain, log, failing);
    ASSERT_TRUE(loaded.ok());
    EXPECT_TRUE(std::regex_match(
        loaded->token,
        std::regex(R"(\d+\.\d+-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12})")))
        << loaded->token;
    EXPECT_EQ(loaded->origin, Origin::unstored);
    EXPECT_EQ(keychain.sets, 0);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, LogLevel::error);
    EXPECT_EQ(records[0].message, "SecRandomCopyBytes failed (38) — using time-derived fallback");
    EXPECT_NE(AuthToken::fallbackToken(), AuthToken::fallbackToken());
}

TEST(FileKeychain, ReadSetDeleteInAnOwnerOnlyFile) {
    testing::TempHome home;
    FileKeychain keychain;
    EXPECT_EQ(keychain.read("svc", "acct"), KeychainResult::notFound());
    ASSERT_TRUE(keychain.set("secret-1", "svc", "acct"));
    ASSERT_TRUE(keychain.set("secret-2", "svc", "acct")); // replaces
    EXPECT_EQ(keychain.read("svc", "acct"), KeychainResult::found("secret-2"));
    EXPECT_EQ(keychain.read("svc", "other"), KeychainResult::notFound());

    struct stat st {};
    ASSERT_EQ(::stat(keychain.itemPath("svc", "acct").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(Paths::dataFile("secrets").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(Paths::dataDirectory().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    keychain.deleteItem("svc", "acct");
    EXPECT_EQ(keychain.read("svc", "acct"), KeychainResult::notFound());
    keychain.deleteItem("svc", "acct"); // idempotent
}

TEST(FileKeychain, RejectsNamesThatLeaveItsFolderAndUndecodableData) {
    testing::TempHome home;
    FileKeychain keychain;
    for (const auto& [service, account] : std::vector<std::pair<std::string, std::string>>{
             {"../x", "a"}, {"s", "a/b"}, {"", "a"}, {"s", ".."}, {"s", ""}}) {
        EXPECT_FALSE(keychain.set("v", service, account)) << service << "/" << account;
        EXPECT_EQ(keychain.read(service, account).kind, KeychainResult::Kind::failed);
    }
    ASSERT_TRUE(keychain.set("\xff\xfe", "svc", "bin"));
    EXPECT_EQ(keychain.read("svc", "bin"), KeychainResult::failed(Keychain::decodeStatus));
}

} // namespace
} // namespace perchwell
