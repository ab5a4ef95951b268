#include "api/auth_token_cache.h"

#include <utility>

namespace perchwell {

AuthTokenCache::AuthTokenCache(KeychainSource source, AppLogger log, AuthToken::RandomSource random,
                               std::chrono::milliseconds resyncInterval, Clock clock)
    : source_(std::move(source)), log_(std::move(log)), random_(std::move(random)),
      resyncInterval_(resyncInterval), clock_(std::move(clock)) {}

Result<std::string> AuthTokenCache::token() {
    if (cached_) {
        return *cached_;
    }
    if (!keychain_) {
        keychain_ = source_();
    }
    auto loaded = AuthToken::ensureAuthToken(*keychain_, log_, random_);
    if (!loaded) {
        // Logged once per distinct failure: a client retrying in a loop must not flood the log.
        if (loaded.error().message != lastFailure_) {
            lastFailure_ = loaded.error().message;
            log_.error("MCP token unavailable: " + lastFailure_ +
                       " — nothing was made or changed; trying again on the next request");
        }
        return loaded.error();
    }
    if (!lastFailure_.empty()) {
        log_.info("MCP token available again from " + keychain_->backendName());
        lastFailure_.clear();
    }
    cached_ = std::move(loaded->token);
    return *cached_;
}

AuthTokenCache::Check AuthTokenCache::check(std::optional<std::string_view> authorization) {
    const auto presented = AuthToken::bearerToken(authorization.value_or(""));
    if (!presented) {
        return {Verdict::unauthorized, {}};
    }
    const auto expected = token();
    if (!expected) {
        return {Verdict::unavailable, expected.error().message};
    }
    if (AuthToken::constantTimeEquals(*presented, *expected)) {
        return {Verdict::authorized, {}};
    }
    if (adoptChangedToken() && AuthToken::constantTimeEquals(*presented, *cached_)) {
        return {Verdict::authorized, {}};
    }
    return {Verdict::unauthorized, {}};
}

bool AuthTokenCache::adoptChangedToken() {
    const auto now = clock_();
    if (lastResync_ && now - *lastResync_ < resyncInterval_) {
        return false;
    }
    lastResync_ = now;
    const auto stored = keychain_->read(Keychain::tokenService, Keychain::tokenAccount);
    if (stored.kind != KeychainResult::Kind::found || stored.value.empty() || stored.value == *cached_) {
        return false;
    }
    log_.info("MCP token changed in " + keychain_->backendName() +
              "; the stored one is accepted from now on");
    cached_ = stored.value;
    return true;
}

} // namespace perchwell
