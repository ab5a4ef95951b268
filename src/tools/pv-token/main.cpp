// pv-token: prints the local API's bearer token, making and storing one first when
// there is none yet, so that scripts can write
//     curl -H "Authorization: Bearer $(pv-token)" http://127.0.0.1:7392/api/state
// Standard error says where the token was read or stored. It prints only a token that
// is in the store the application reads: never one made while the store could not be
// read (it may hold another), nor one the store refused.
#include "api/auth_token.h"
#include "api/platform_keychain.h"
#include "common/app_logger.h"

#include <cstdio>
#include <string_view>

int main(int argc, char** argv) {
    using namespace perchwell;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::puts("usage: pv-token\n"
                      "Prints the bearer token of Perchwell's local API (made and stored when missing).\n"
                      "It is kept in the Secret Service when one runs, else in an owner-only file\n"
                      "in Perchwell's data directory. Standard error names the store.");
            return 0;
        }
        std::fprintf(stderr, "pv-token: unknown argument %s (try --help)\n", argv[i]);
        return 2;
    }
    // A terminal is there to answer the keyring's unlock prompt.
    const auto keychain = platformKeychain(KeychainPrompting::allowed);
    const std::string where = keychain->location(Keychain::tokenService, Keychain::tokenAccount);
    const auto loaded = AuthToken::ensureAuthToken(*keychain, AppLogger("pv-token"));
    if (!loaded) {
        std::fprintf(stderr,
                     "pv-token: could not read the token from %s: %s; nothing was made or changed, "
                     "try again once it answers\n",
                     where.c_str(), loaded.error().message.c_str());
        return 1;
    }
    switch (loaded->origin) {
    case AuthToken::Loaded::Origin::stored:
        std::fprintf(stderr, "pv-token: token read from %s\n", where.c_str());
        break;
    case AuthToken::Loaded::Origin::made:
        std::fprintf(stderr, "pv-token: no token yet; made one and stored it in %s\n", where.c_str());
        break;
    case AuthToken::Loaded::Origin::unstored:
        std::fprintf(stderr,
                     "pv-token: no token in %s, and a new one could not be stored there; none printed\n",
                     where.c_str());
        return 1;
    }
    std::printf("%s\n", loaded->token.c_str());
    return 0;
}
