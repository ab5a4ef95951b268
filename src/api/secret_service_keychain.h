#pragma once

#include "api/keychain.h"

namespace perchwell {

// Secrets in the desktop's Secret Service (GNOME Keyring, KWallet, KeePassXC) through
// libsecret. Items carry the attributes "service" and "account", so
// `secret-tool lookup service <service> account <account>` finds them too.
class SecretServiceKeychain : public Keychain {
public:
    // True when a Secret Service is running or can be started on the session bus.
    static bool serviceAvailable();

    KeychainResult read(std::string_view service, std::string_view account) override;
    bool set(std::string_view value, std::string_view service, std::string_view account) override;
    void deleteItem(std::string_view service, std::string_view account) override;
    std::string backendName() const override { return "secret-service"; }
};

} // namespace perchwell
