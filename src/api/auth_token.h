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

    // The stored token when there is a non-empty one; otherwise a new one of 64 lower-case
    // hex digits, stored for the next launch when the keychain takes it. If the generator
    // fails, a time-and-UUID token that is not stored.
    static std::string ensureAuthToken(Keychain& keychain, const AppLogger& log,
                                       const RandomSource& random = systemRandomBytes);

    // The time-derived fallback: seconds since 1970, "-", an upper-case random UUID.
    static std::string fallbackToken();
};

} // namespace perchwell
