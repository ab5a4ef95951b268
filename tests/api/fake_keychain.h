#pragma once

#include "api/keychain.h"

#include <map>
#include <optional>
#include <string>

namespace perchwell::testing {

// A keychain in memory whose lookups can be made to fail (a locked keyring, a daemon
// that times out) and whose writes can be refused; it counts both.
class FakeKeychain : public Keychain {
public:
    static std::string key(std::string_view service, std::string_view account) {
        return std::string(service) + "/" + std::string(account);
    }
    static std::string tokenKey() { return key(tokenService, tokenAccount); }

    KeychainResult read(std::string_view service, std::string_view account) override {
        ++reads;
        if (failReads) {
            return KeychainResult::failed(*failReads);
        }
        const auto it = items.find(key(service, account));
        return it == items.end() ? KeychainResult::notFound() : KeychainResult::found(it->second);
    }
    bool set(std::string_view value, std::string_view service, std::string_view account) override {
        ++sets;
        if (acceptSets) {
            items[key(service, account)] = std::string(value);
        }
        return acceptSets;
    }
    void deleteItem(std::string_view service, std::string_view account) override {
        items.erase(key(service, account));
    }
    std::string backendName() const override { return "fake"; }

    std::map<std::string, std::string> items;
    std::optional<int32_t> failReads; // every read fails with this status while set
    bool acceptSets = true;
    int reads = 0;
    int sets = 0;
};

} // namespace perchwell::testing
