#include "api/auth_token_cache.h"
#include "fake_keychain.h"

#include <gtest/gtest.h>

#include <vector>

namespace perchwell {
namespace {

using Verdict = AuthTokenCache::Verdict;
using namespace std::chrono_literals;

class AuthTokenCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        AppLogger::setSink([this](const AppLogger::Record& r) { records.push_back(r); });
    }
    void TearDown() override { AppLogger::setSink({}); }

    AuthTokenCache::Check check(const std::string& token) { return cache.check("Bearer " + token); }

    std::vector<AppLogger::Record> records;
    std::shared_ptr<testing::FakeKeychain> keychain = std::make_shared<testing::FakeKeychain>();
    std::chrono::steady_clock::time_point now{};
    AuthTokenCache cache{[this] { return keychain; }, AppLogger("mcp"), AuthToken::systemRandomBytes, 1000ms,
                         [this] { return now; }};
};

TEST_F(AuthTokenCacheTest, FailedLookupIsReportedAndRetriedWithoutMintingAnything) {
    keychain->items[keychain->tokenKey()] = "kept";
    keychain->failReads = Keychain::interactionNotAllowedStatus;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const auto result = check("kept");
        EXPECT_EQ(result.verdict, Verdict::unavailable);
        EXPECT_NE(result.error.find("fake lookup failed (status -25308"), std::string::npos) << result.error;
    }
    EXPECT_EQ(keychain->reads, 3); // tried again every time
    EXPECT_EQ(keychain->sets, 0);
    EXPECT_EQ(keychain->items.at(keychain->tokenKey()), "kept");
    ASSERT_EQ(records.size(), 1u) << "one report per distinct failure";
    EXPECT_EQ(records[0].level, LogLevel::error);

    keychain->failReads.reset(); // unlocked
    EXPECT_EQ(check("kept").verdict, Verdict::authorized);
    EXPECT_EQ(keychain->sets, 0);
    EXPECT_EQ(records.back().level, LogLevel::info);
}

TEST_F(AuthTokenCacheTest, MissingSchemeIsRefusedWithoutAskingTheKeychain) {
    keychain->failReads = -1;
    for (const std::optional<std::string_view> header :
         {std::optional<std::string_view>(), std::optional<std::string_view>("bearer x"),
          std::optional<std::string_view>("Basic x")}) {
        EXPECT_EQ(cache.check(header).verdict, Verdict::unauthorized);
    }
    EXPECT_EQ(keychain->reads, 0);
}

TEST_F(AuthTokenCacheTest, MakesATokenOnlyWhenThereIsNoneAndKeepsIt) {
    const auto made = cache.token();
    ASSERT_TRUE(made.ok());
    EXPECT_EQ(keychain->items.at(keychain->tokenKey()), *made);
    EXPECT_EQ(check(*made).verdict, Verdict::authorized);
    EXPECT_EQ(keychain->reads, 1); // kept in memory
}

TEST_F(AuthTokenCacheTest, ATokenStoredByAnotherProcessIsAcceptedButNeverMinted) {
    keychain->items[keychain->tokenKey()] = "first";
    ASSERT_EQ(check("first").verdict, Verdict::authorized);

    // Removed and made again by the token tool while the server runs.
    keychain->items[keychain->tokenKey()] = "second";
    EXPECT_EQ(check("second").verdict, Verdict::authorized);
    EXPECT_EQ(check("first").verdict, Verdict::unauthorized);

    // Wrong tokens look again at most once per interval.
    const int reads = keychain->reads;
    EXPECT_EQ(check("wrong").verdict, Verdict::unauthorized);
    EXPECT_EQ(check("wrong").verdict, Verdict::unauthorized);
    EXPECT_EQ(keychain->reads, reads);
    now += 1000ms;
    EXPECT_EQ(check("wrong").verdict, Verdict::unauthorized);
    EXPECT_EQ(keychain->reads, reads + 1);

    // An item removed, or a keychain failing, leaves the kept token in force.
    keychain->items.clear();
    now += 1000ms;
    EXPECT_EQ(check("wrong").verdict, Verdict::unauthorized);
    keychain->failReads = -1;
    now += 1000ms;
    EXPECT_EQ(check("wrong").verdict, Verdict::unauthorized);
    EXPECT_EQ(check("second").verdict, Verdict::authorized);
    EXPECT_EQ(keychain->sets, 0);
}

} // namespace
} // namespace perchwell
