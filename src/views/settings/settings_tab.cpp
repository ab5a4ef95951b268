#include "views/settings/settings_tab.h"

namespace perchwell {

namespace {
struct TabInfo {
    const char* raw;
    const char* title;
    const char* symbol;
};

const TabInfo& info(SettingsTab tab) {
    static constexpr TabInfo table[] = {
        {"general", "General", "gearshape"},
        {"assistant", "Agent", "sparkles"},
        {"permissions", "Permissions", "lock.shield"},
        {"mcp", "MCP / Integrations", "antenna.radiowaves.left.and.right"},
        {"about", "About", "info.circle"},
    };
    return table[static_cast<int>(tab)];
}
} // namespace

QString rawValue(SettingsTab tab) {
    return QString::fromLatin1(info(tab).raw);
}

std::optional<SettingsTab> settingsTabFromRaw(const QString& raw) {
    for (SettingsTab tab : allSettingsTabs) {
        if (rawValue(tab) == raw) {
            return tab;
        }
    }
    return std::nullopt;
}

QString settingsTabTitle(SettingsTab tab) {
    return QString::fromLatin1(info(tab).title);
}

QString settingsTabSymbol(SettingsTab tab) {
    return QString::fromLatin1(info(tab).symbol);
}

} // namespace perchwell
