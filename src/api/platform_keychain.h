#pragma once

#include "api/keychain.h"

#include <memory>

namespace perchwell {

// Whether the keychain may ask the user (a keyring's unlock prompt). The application
// never lets it; the token tool, run from a terminal, does.
enum class KeychainPrompting { never, allowed };

// The keychain this machine offers, chosen the same way by every reader so that they
// all find one token:
// - an item already kept in the owner-only file stays there (the token does not change
//   under a client), and a file that cannot be read is reported, not passed over;
// - otherwise the Secret Service when the session bus offers one, or when the bus does
//   not answer (it may hold the token: its failed lookups are reported, never taken for
//   a missing token);
// - otherwise the owner-only file.
std::shared_ptr<Keychain> platformKeychain(KeychainPrompting prompting = KeychainPrompting::never);

} // namespace perchwell
