#include "api/platform_keychain.h"

#include "api/file_keychain.h"
#ifdef PERCHWELL_HAVE_LIBSECRET
#include "api/secret_service_keychain.h"
#endif

namespace perchwell {

std::shared_ptr<Keychain> platformKeychain() {
    auto file = std::make_shared<FileKeychain>();
    if (file->read(Keychain::tokenService, Keychain::tokenAccount).kind == KeychainResult::Kind::found) {
        return file;
    }
#ifdef PERCHWELL_HAVE_LIBSECRET
    if (SecretServiceKeychain::serviceAvailable()) {
        auto secrets = std::make_shared<SecretServiceKeychain>();
        // A service that is there but does not answer (locked, no prompter) is no use.
        if (secrets->read(Keychain::tokenService, Keychain::tokenAccount).kind !=
            KeychainResult::Kind::failed) {
            return secrets;
        }
    }
#endif
    return file;
}

} // namespace perchwell
