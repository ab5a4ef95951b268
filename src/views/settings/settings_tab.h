#pragma once

#include <QString>
#include <array>
#include <optional>

namespace perchwell {

// The settings window's tabs, in the order shown.
enum class SettingsTab { general, assistant, permissions, mcp, about };

constexpr std::array<SettingsTab, 5> allSettingsTabs{SettingsTab::general, SettingsTab::assistant,
                                                     SettingsTab::permissions, SettingsTab::mcp,
                                                     SettingsTab::about};

QString rawValue(SettingsTab tab);
std::optional<SettingsTab> settingsTabFromRaw(const QString& raw);
QString settingsTabTitle(SettingsTab tab);
// The symbol name its icon stands for (see settingsIcon).
QString settingsTabSymbol(SettingsTab tab);

} // namespace perchwell
