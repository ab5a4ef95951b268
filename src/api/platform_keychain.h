#pragma once

#include "api/keychain.h"

#include <memory>

namespace perchwell {

// The keychain this machine offers: an item already kept in the owner-only file stays
// there (so the token does not change under a client); otherwise the Secret Service
// when one answers on the session bus; otherwise the owner-only file.
std::shared_ptr<Keychain> platformKeychain();

} // namespace perchwell
