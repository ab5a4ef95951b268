#pragma once

#include <string_view>
#include <vector>

namespace perchwell {

// The applications Auto Continue may type into. On macOS an application is known by
// its bundle identifier; on X11 the window's WM_CLASS stands in for it.
struct TrustedTerminals {
    // The macOS bundle identifiers, matched exactly.
    static const std::vector<std::string_view>& knownTerminalIdentifiers();
    // WM_CLASS names of Linux terminals and editors, lower case, matched without case.
    static const std::vector<std::string_view>& linuxTerminalClasses();

    // Whether `identifier` (a bundle identifier, or a WM_CLASS class or instance name)
    // names a trusted terminal or editor. Also any "com.todesktop." application and
    // every JetBrains IDE ("jetbrains-" on X11).
    static bool isTrusted(std::string_view identifier);
};

} // namespace perchwell
