#pragma once

#include "api/keychain.h"
#include "common/app_logger.h"
#include "common/result.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace perchwell {

// The bearer token that guards the local API.
class AuthToken {
public:
    // 32 bytes from the system's secure generator; a failure carries its errno.
    using RandomSource = std::function<Result<std::string>(size_t bytes)>;

    // Compares every byte of the longer input whatever the contents, so the time taken
    // tells nothing about where two tokens differ.
    static bool constantTimeEquals(std::string_view a, std::string_view b);

    // The token of an "authorization" header value: it must begin with "Bearer "
    // (exactly); the rest, with spaces and tabs trimmed. Nothing otherwise.
    static std::optional<std::string_view> bearerToken(std::string_view authorization);

    static Result<std::string> systemRandomBytes(size_t count);
    static std::string hexEncoded(std::string_view bytes);

    // What ensureAuthToken found or made.
    struct Loaded {
        enum class Origin {
            stored,   // read from the keychain
            made,     // new, and stored for the next launch and for other readers
            unstored, // new, but the keychain refused it, or the time-derived fallback
        };
        std::string token;
        Origin origin = Origin::stored;
    };

    // The stored token when there is a non-empty one; otherwise (no such item, or an
    // empty one) a new one of 64 lower-case hex digits, stored for the next launch when
    // the keychain takes it; if the generator fails, a time-and-UUID token that is not
    // stored. A lookup that fails is an error: nothing is made and the keychain is left
    // alone, since it may hold a token this lookup could not see.
    static Result<Loaded> ensureAuthToken(Keychain& keychain, const AppLogger& log,
                                          const RandomSource& random = systemRandomBytes);

    // "secret-service lookup failed (status -25308: the keyring is locked)"
    static std::string lookupFailure(const Keychain& keychain, const KeychainResult& failure);

    // The time-derived fallback: seconds since 1970, "-", an upper-case random UUID.
    static std::string fallbackToken();
};

} // namespace perchwell
