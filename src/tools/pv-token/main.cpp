// pv-token: prints the local API's bearer token, making and storing one first when
// there is none yet, so that scripts can write
//     curl -H "Authorization: Bearer $(pv-token)" http://127.0.0.1:7392/api/state
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
                      "in Perchwell's data directory.");
            return 0;
        }
        std::fprintf(stderr, "pv-token: unknown argument %s (try --help)\n", argv[i]);
        return 2;
    }
    const auto keychain = platformKeychain();
    const std::string token = AuthToken::ensureAuthToken(*keychain, AppLogger("mcp"));
    std::printf("%s\n", token.c_str());
    return 0;
}
