#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace perchwell {

// What reading a secret gave: the text, no such item, or the backend's status code.
struct KeychainResult {
    enum class Kind { found, notFound, failed };

    Kind kind = Kind::notFound;
    std::string value;  // found only
    int32_t status = 0; // failed only
    std::string detail; // failed only: the backend's own words, when it has any

    static KeychainResult found(std::string value) { return {Kind::found, std::move(value), 0, {}}; }
    static KeychainResult notFound() { return {Kind::notFound, {}, 0, {}}; }
    static KeychainResult failed(int32_t status, std::string detail = {}) {
        return {Kind::failed, {}, status, std::move(detail)};
    }

    // The status identifies a failure; the detail only explains it.
    bool operator==(const KeychainResult& other) const {
        return kind == other.kind && value == other.value && status == other.status;
    }
};

// A store of small secrets by service and account. The platform picks a backend
// (Secret Service when one answers, else an owner-only file); tests use their own.
class Keychain {
public:
    // The status of stored data that is not UTF-8 text.
    static constexpr int32_t decodeStatus = -26275;
    // The status of an item that cannot be reached without asking the user (a locked
    // keyring) when asking is not allowed.
    static constexpr int32_t interactionNotAllowedStatus = -25308;

    static constexpr std::string_view tokenService = "com.brisklane.perchwell";
    static constexpr std::string_view tokenAccount = "mcp-token";

    virtual ~Keychain() = default;

    virtual KeychainResult read(std::string_view service, std::string_view account) = 0;
    // Replaces any item of the same service and account; true when the new one is stored.
    virtual bool set(std::string_view value, std::string_view service, std::string_view account) = 0;
    virtual void deleteItem(std::string_view service, std::string_view account) = 0;

    // A short name of the backend for log lines and the token tool.
    virtual std::string backendName() const = 0;
    // Where the item is kept, in words a user can follow (a file's path, say).
    virtual std::string location(std::string_view service, std::string_view account) const {
        (void)service;
        (void)account;
        return backendName();
    }
};

} // namespace perchwell
