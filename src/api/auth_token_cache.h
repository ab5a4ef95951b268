#pragma once

#include "api/auth_token.h"
#include "api/keychain.h"
#include "common/app_logger.h"
#include "common/result.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace perchwell {

// The bearer token a running server accepts. Loaded (or made) once and then kept, so a
// request costs no keychain lookup; but
// - a lookup that fails makes nothing and changes nothing: the error is reported and the
//   next request tries again;
// - a request whose token differs makes it read the keychain again (at most once per
//   interval, and never minting), so a token that another process stored since — the
//   token tool after the item was removed, say — is accepted rather than refused.
class AuthTokenCache {
public:
    using KeychainSource = std::function<std::shared_ptr<Keychain>()>;
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    static constexpr std::chrono::milliseconds defaultResyncInterval{1000};

    enum class Verdict { authorized, unauthorized, unavailable };
    struct Check {
        Verdict verdict = Verdict::unauthorized;
        std::string error; // unavailable only
    };

    // `source` is asked for the keychain once, when the token is first needed.
    AuthTokenCache(KeychainSource source, AppLogger log,
                   AuthToken::RandomSource random = AuthToken::systemRandomBytes,
                   std::chrono::milliseconds resyncInterval = defaultResyncInterval,
                   Clock clock = std::chrono::steady_clock::now);

    // The token, loaded or made on first use; an error while the keychain cannot be read.
    Result<std::string> token();
    // `authorization` is the header's value, nothing when it was not sent. The scheme is
    // checked before the keychain is asked.
    Check check(std::optional<std::string_view> authorization);

    const std::optional<std::string>& cached() const { return cached_; }

private:
    bool adoptChangedToken();

    KeychainSource source_;
    std::shared_ptr<Keychain> keychain_;
    AppLogger log_;
    AuthToken::RandomSource random_;
    std::chrono::milliseconds resyncInterval_;
    Clock clock_;
    std::optional<std::string> cached_;
    std::optional<std::chrono::steady_clock::time_point> lastResync_;
    std::string lastFailure_;
};

} // namespace perchwell
