#pragma once

#include "api/keychain.h"

namespace perchwell {

// Secrets in the desktop's Secret Service (GNOME Keyring, KWallet, KeePassXC) through
// libsecret. Items carry the attributes "service" and "account", so
// `secret-tool lookup service <service> account <account>` finds them too.
class SecretServiceKeychain : public Keychain {
public:
    enum class Presence {
        present, // running, or startable on demand
        absent,  // no session bus, or nothing there offers the service
        unknown, // the bus did not answer: the service may well be there
    };
    // Whether the keyring may show its unlock prompt. The application never lets it (a
    // prompt would hold its main thread); a locked keyring is then a failed read.
    enum class Prompting { never, allowed };

    static Presence presence();

    explicit SecretServiceKeychain(Prompting prompting = Prompting::never) : prompting_(prompting) {}

    // A matching item that stays locked is failed(interactionNotAllowedStatus), never
    // notFound: the token is there, only out of reach.
    KeychainResult read(std::string_view service, std::string_view account) override;
    bool set(std::string_view value, std::string_view service, std::string_view account) override;
    void deleteItem(std::string_view service, std::string_view account) override;
    std::string backendName() const override { return "secret-service"; }
    std::string location(std::string_view service, std::string_view account) const override;

private:
    Prompting prompting_;
};

} // namespace perchwell
