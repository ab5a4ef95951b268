// Runs against a real Secret Service only inside secret_service_test.sh, which starts a
// private session bus and a throw-away keyring in a temporary HOME; skipped elsewhere so
// that no test ever touches the user's own keyring.
#include "api/auth_token.h"
#include "api/platform_keychain.h"
#include "platform/paths.h"

#ifdef PERCHWELL_HAVE_LIBSECRET
#include "api/secret_service_keychain.h"
#endif

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace perchwell {
namespace {

#ifdef PERCHWELL_HAVE_LIBSECRET
class SecretServiceKeychainTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("PERCHWELL_PRIVATE_SECRET_SERVICE") == nullptr) {
            GTEST_SKIP() << "needs the private keyring of secret_service_test.sh";
        }
        ASSERT_TRUE(SecretServiceKeychain::serviceAvailable());
    }
    SecretServiceKeychain keychain;
};

TEST_F(SecretServiceKeychainTest, ReadSetDelete) {
    keychain.deleteItem("pw.test", "acct");
    EXPECT_EQ(keychain.read("pw.test", "acct"), KeychainResult::notFound());
    ASSERT_TRUE(keychain.set("first", "pw.test", "acct"));
    ASSERT_TRUE(keychain.set("second — ü", "pw.test", "acct")); // replaces
    EXPECT_EQ(keychain.read("pw.test", "acct"), KeychainResult::found("second — ü"));
    EXPECT_EQ(keychain.read("pw.test", "other"), KeychainResult::notFound());
    keychain.deleteItem("pw.test", "acct");
    EXPECT_EQ(keychain.read("pw.test", "acct"), KeychainResult::notFound());
}

TEST_F(SecretServiceKeychainTest, PlatformChoiceKeepsTheTokenInTheServiceAndNeverInAFile) {
    keychain.deleteItem(Keychain::tokenService, Keychain::tokenAccount);
    auto chosen = platformKeychain();
    EXPECT_EQ(chosen->backendName(), "secret-service");
    const std::string token = AuthToken::ensureAuthToken(*chosen, AppLogger("mcp"));
    EXPECT_EQ(keychain.read(Keychain::tokenService, Keychain::tokenAccount), KeychainResult::found(token));
    EXPECT_EQ(AuthToken::ensureAuthToken(*platformKeychain(), AppLogger("mcp")), token);
    struct stat st {};
    EXPECT_NE(::stat(Paths::dataFile("secrets").c_str(), &st), 0);
}
#endif

TEST(PlatformKeychain, WithoutASessionBusTheOwnerOnlyFileIsUsed) {
    if (std::getenv("PERCHWELL_PRIVATE_SECRET_SERVICE") != nullptr) {
        GTEST_SKIP() << "a Secret Service runs here";
    }
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    ::setenv("XDG_RUNTIME_DIR", "/nonexistent", 1);
    EXPECT_EQ(platformKeychain()->backendName(), "file");
}

} // namespace
} // namespace perchwell
