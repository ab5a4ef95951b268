#include "api/platform_keychain.h"

#include "api/file_keychain.h"
#ifdef PERCHWELL_HAVE_LIBSECRET
#include "api/secret_service_keychain.h"
#endif

namespace perchwell {

std::shared_ptr<Keychain> platformKeychain(KeychainPrompting prompting) {
    auto file = std::make_shared<FileKeychain>();
    if (file->read(Keychain::tokenService, Keychain::tokenAccount).kind != KeychainResult::Kind::notFound) {
        return file;
    }
#ifdef PERCHWELL_HAVE_LIBSECRET
    if (SecretServiceKeychain::presence() != SecretServiceKeychain::Presence::absent) {
        return std::make_shared<SecretServiceKeychain>(prompting == KeychainPrompting::allowed
                                                           ? SecretServiceKeychain::Prompting::allowed
                                                           : SecretServiceKeychain::Prompting::never);
    }
#else
    (void)prompting;
#endif
    return file;
}

} // namespace perchwell
