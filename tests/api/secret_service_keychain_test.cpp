// Runs against a real Secret Service only inside secret_service_test.sh, which starts a
// private session bus and a throw-away keyring in a temporary HOME; skipped elsewhere so
// that no test ever touches the user's own keyring.
#include "api/auth_token.h"
#include "api/file_keychain.h"
#include "api/platform_keychain.h"
#include "platform/paths.h"
#include "support/process.h"

#ifdef PERCHWELL_HAVE_LIBSECRET
#include "api/secret_service_keychain.h"

#include <libsecret/secret.h>
#endif

#include <cstdlib>
#include <gtest/gtest.h>
#include <regex>
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
        ASSERT_EQ(SecretServiceKeychain::presence(), SecretServiceKeychain::Presence::present);
    }
    SecretServiceKeychain keychain;
};

// Locks every collection, as a screen locker or the user may, and unlocks the login
// collection again when it goes, with the password secret_service_test.sh gave it (no
// prompt: gnome-keyring's own interface for that).
class LockedKeyring {
public:
    LockedKeyring() {
        SecretService* service = secret_service_get_sync(SECRET_SERVICE_LOAD_COLLECTIONS, nullptr, nullptr);
        GList* collections = secret_service_get_collections(service);
        EXPECT_GT(secret_service_lock_sync(service, collections, nullptr, nullptr, nullptr), 0);
        g_list_free_full(collections, g_object_unref);
        g_object_unref(service);
    }
    ~LockedKeyring() {
        GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        GVariant* opened = g_dbus_connection_call_sync(
            bus, "org.freedesktop.secrets", "/org/freedesktop/secrets", "org.freedesktop.Secret.Service",
            "OpenSession", g_variant_new("(sv)", "plain", g_variant_new_string("")), nullptr,
            G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        EXPECT_NE(opened, nullptr);
        GVariant* output = nullptr;
        const gchar* session = nullptr;
        g_variant_get(opened, "(v&o)", &output, &session);
        GVariant* secret =
            g_variant_new("(o@ay@ays)", session, g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "", 0, 1),
                          g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "test", 4, 1), "text/plain");
        GVariant* unlocked = g_dbus_connection_call_sync(
            bus, "org.freedesktop.secrets", "/org/freedesktop/secrets",
            "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface", "UnlockWithMasterPassword",
            g_variant_new("(o@(oayays))", "/org/freedesktop/secrets/collection/login", secret), nullptr,
            G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        EXPECT_NE(unlocked, nullptr);
        if (unlocked != nullptr) {
            g_variant_unref(unlocked);
        }
        g_variant_unref(output);
        g_variant_unref(opened);
        g_object_unref(bus);
    }
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

TEST_F(SecretServiceKeychainTest, ALockedKeyringIsAFailureAndNothingIsMadeOverIt) {
    ASSERT_TRUE(keychain.set("kept", Keychain::tokenService, Keychain::tokenAccount));
    const std::string tool = testing::binaryPath("pv-token");
    {
        LockedKeyring locked;
        EXPECT_EQ(keychain.read(Keychain::tokenService, Keychain::tokenAccount),
                  KeychainResult::failed(Keychain::interactionNotAllowedStatus));
        EXPECT_FALSE(keychain.set("other", "pw.test", "acct")) << "storing would have prompted";

        const auto chosen = platformKeychain();
        EXPECT_EQ(chosen->backendName(), "secret-service");
        EXPECT_FALSE(AuthToken::ensureAuthToken(*chosen, AppLogger("mcp")).ok());

        // The tool may prompt; nobody can answer here, so it fails and prints nothing.
        const auto run = testing::runProcess({tool});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("pv-token: could not read the token from the Secret Service (service "
                                "com.brisklane.perchwell, account mcp-token): ",
                                0),
                  0u)
            << run.err;
        struct stat st {};
        EXPECT_NE(::stat(Paths::dataFile("secrets").c_str(), &st), 0) << "no token may go to the file";
    }
    EXPECT_EQ(keychain.read(Keychain::tokenService, Keychain::tokenAccount), KeychainResult::found("kept"));
    const auto run = testing::runProcess({tool});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "kept\n");
    EXPECT_EQ(run.err,
              "pv-token: token read from the Secret Service (service com.brisklane.perchwell, account "
              "mcp-token)\n");
    keychain.deleteItem(Keychain::tokenService, Keychain::tokenAccount);
}

TEST_F(SecretServiceKeychainTest, PlatformChoiceKeepsTheTokenInTheServiceAndNeverInAFile) {
    keychain.deleteItem(Keychain::tokenService, Keychain::tokenAccount);
    auto chosen = platformKeychain();
    EXPECT_EQ(chosen->backendName(), "secret-service");
    const std::string token = AuthToken::ensureAuthToken(*chosen, AppLogger("mcp"))->token;
    EXPECT_EQ(keychain.read(Keychain::tokenService, Keychain::tokenAccount), KeychainResult::found(token));
    EXPECT_EQ(AuthToken::ensureAuthToken(*platformKeychain(), AppLogger("mcp"))->token, token);
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

TEST(PvToken, SaysWhichStoreItReadAndPrintsNothingFromAStoreItCannotRead) {
    if (std::getenv("PERCHWELL_PRIVATE_SECRET_SERVICE") != nullptr) {
        GTEST_SKIP() << "a Secret Service runs here";
    }
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    ::setenv("XDG_RUNTIME_DIR", "/nonexistent", 1);
    const std::string tool = testing::binaryPath("pv-token");
    const std::string item = FileKeychain().itemPath(Keychain::tokenService, Keychain::tokenAccount);

    const auto made = testing::runProcess({tool});
    EXPECT_EQ(made.exitCode, 0);
    EXPECT_TRUE(std::regex_match(made.out, std::regex("[0-9a-f]{64}\n"))) << made.out;
    EXPECT_EQ(made.err, "pv-token: no token yet; made one and stored it in " + item + "\n");

    const auto read = testing::runProcess({tool});
    EXPECT_EQ(read.out, made.out);
    EXPECT_EQ(read.err, "pv-token: token read from " + item + "\n");

    // An item that is there but cannot be read is not replaced by a new one.
    ASSERT_EQ(::unlink(item.c_str()), 0);
    ASSERT_EQ(::mkdir(item.c_str(), 0700), 0);
    const auto unreadable = testing::runProcess({tool});
    EXPECT_EQ(unreadable.exitCode, 1);
    EXPECT_EQ(unreadable.out, "");
    EXPECT_EQ(
        unreadable.err.rfind("pv-token: could not read the token from " + item + ": file lookup failed", 0),
        0u)
        << unreadable.err;
    struct stat st {};
    ASSERT_EQ(::stat(item.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

} // namespace
} // namespace perchwell
