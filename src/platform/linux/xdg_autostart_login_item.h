#pragma once

#include "platform/login_item_service.h"

#include <string>

namespace perchwell {

// Login item as an XDG autostart entry, ~/.config/autostart/perchwell.desktop. The
// entry counts as enabled when it exists and neither hides nor disables itself.
class XdgAutostartLoginItem final : public LoginItemService {
public:
    // `executable`: the command the entry starts; empty means the running executable.
    explicit XdgAutostartLoginItem(std::string entryPath = defaultEntryPath(), std::string executable = {});

    static std::string defaultEntryPath();
    // The entry's text for `executable`.
    static std::string entryText(const std::string& executable);

    LoginItemStatus status() const override;
    Result<void> registerItem() override;
    Result<void> unregisterItem() override;

    const std::string& entryPath() const { return entryPath_; }

private:
    std::string entryPath_;
    std::string executable_;
};

} // namespace perchwell
