#pragma once

#include "api/keychain.h"

namespace perchwell {

// Secrets as files readable by the owner only, one per item, in a 0700 folder of the
// data directory: for machines without a Secret Service (servers, containers, CI).
class FileKeychain : public Keychain {
public:
    // `directory` defaults to "secrets" in the data directory.
    explicit FileKeychain(std::string directory = {});

    KeychainResult read(std::string_view service, std::string_view account) override;
    bool set(std::string_view value, std::string_view service, std::string_view account) override;
    void deleteItem(std::string_view service, std::string_view account) override;
    std::string backendName() const override { return "file"; }
    std::string location(std::string_view service, std::string_view account) const override {
        return itemPath(service, account);
    }

    // The file that holds the item, or empty when the names cannot form a file name.
    std::string itemPath(std::string_view service, std::string_view account) const;

private:
    std::string directory_;
};

} // namespace perchwell
