#pragma once

#include "companion/mascot_state.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace perchwell {

// The pill's tint: a named system colour and the opacity it is laid on with.
struct MascotTint {
    enum class Colour { red, purple, indigo, gray, yellow, green };

    Colour colour = Colour::yellow;
    double opacity = 0.10;
    // 0xRRGGBB of the colour, close to the platform's system colours.
    uint32_t rgb() const;

    bool operator==(const MascotTint&) const = default;
};

// What the pill shows for a state: title, one line of detail and its tint.
struct MascotAppearance {
    std::string title;
    std::string detail;
    MascotTint tint;

    static MascotAppearance of(const MascotState& state);

    // How a suggestion tells the user to paste it: terminals on Linux paste with
    // Ctrl+Shift+V; the macOS text stays for that backend.
    static constexpr std::string_view pasteHintLinux = "Paste with Ctrl+Shift+V · ";
    static constexpr std::string_view pasteHintMacOS = "Paste with ⌘V · ";

    // A suggestion longer than 60 characters is cut to its first 58 plus "…".
    static std::string shortenedSuggestion(std::string_view text);
};

} // namespace perchwell
