#include "api/auth_token.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <random>
#include <sys/random.h>

namespace perchwell {

bool AuthToken::constantTimeEquals(std::string_view a, std::string_view b) {
    unsigned difference = a.size() != b.size() ? 1u : 0u;
    const size_t length = std::max(a.size(), b.size());
    for (size_t i = 0; i < length; ++i) {
        const auto x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0u;
        const auto y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0u;
        difference |= x ^ y;
    }
    return difference == 0;
}

std::optional<std::string_view> AuthToken::bearerToken(std::string_view authorization) {
    constexpr std::string_view scheme = "Bearer ";
    if (authorization.substr(0, scheme.size()) != scheme) {
        return std::nullopt;
    }
    std::string_view token = authorization.substr(scheme.size());
    const auto first = token.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return std::string_view{};
    }
    token = token.substr(first, token.find_last_not_of(" \t") - first + 1);
    return token;
}

Result<std::string> AuthToken::systemRandomBytes(size_t count) {
    std::string bytes(count, '\0');
    size_t filled = 0;
    while (filled < count) {
        const ssize_t n = ::getrandom(bytes.data() + filled, count - filled, 0);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Error{std::to_string(errno)};
        }
        filled += static_cast<size_t>(n);
    }
    return bytes;
}

std::string AuthToken::hexEncoded(std::string_view bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0xF]);
    }
    return out;
}

std::string AuthToken::fallbackToken() {
    const double seconds =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    std::random_device device;
    std::mt19937_64 engine((static_cast<uint64_t>(device()) << 32) ^ device() ^
                           static_cast<uint64_t>(seconds * 1e6));
    const uint64_t hi = engine();
    const uint64_t lo = engine();
    unsigned char u[16];
    for (int i = 0; i < 8; ++i) {
        u[i] = static_cast<unsigned char>(hi >> (56 - 8 * i));
        u[8 + i] = static_cast<unsigned char>(lo >> (56 - 8 * i));
    }
    u[6] = static_cast<unsigned char>((u[6] & 0x0F) | 0x40); // version 4
    u[8] = static_cast<unsigned char>((u[8] & 0x3F) | 0x80); // RFC 4122 variant
    char text[80];
    std::snprintf(text, sizeof text,
                  "%.6f-%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", seconds, u[0],
                  u[1], u[2], u[3], u[4], u[5], u[6], u[7], u[8], u[9], u[10], u[11], u[12], u[13], u[14],
                  u[15]);
    return text;
}

std::string AuthToken::lookupFailure(const Keychain& keychain, const KeychainResult& failure) {
    std::string text = keychain.backendName() + " lookup failed (status " + std::to_string(failure.status);
    if (!failure.detail.empty()) {
        text += ": " + failure.detail;
    } else if (failure.status == Keychain::decodeStatus) {
        text += ": the stored data is not text";
    } else if (failure.status == Keychain::interactionNotAllowedStatus) {
        text += ": locked, and no prompt is allowed";
    }
    return text + ")";
}

Result<AuthToken::Loaded> AuthToken::ensureAuthToken(Keychain& keychain, const AppLogger& log,
                                                     const RandomSource& random) {
    const auto stored = keychain.read(Keychain::tokenService, Keychain::tokenAccount);
    if (stored.kind == KeychainResult::Kind::failed) {
        return Error{lookupFailure(keychain, stored)};
    }
    if (stored.kind == KeychainResult::Kind::found && !stored.value.empty()) {
        return Loaded{stored.value, Loaded::Origin::stored};
    }
    auto bytes = random(32);
    if (!bytes || bytes->size() != 32) {
        const std::string status = bytes ? "short read" : bytes.error().message;
        log.error("SecRandomCopyBytes failed (" + status + ") — using time-derived fallback");
        return Loaded{fallbackToken(), Loaded::Origin::unstored};
    }
    std::string token = hexEncoded(*bytes);
    if (!keychain.set(token, Keychain::tokenService, Keychain::tokenAccount)) {
        log.warning("MCP token not persisted to Keychain — will rotate on next launch");
        return Loaded{std::move(token), Loaded::Origin::unstored};
    }
    return Loaded{std::move(token), Loaded::Origin::made};
}

} // namespace perchwell
