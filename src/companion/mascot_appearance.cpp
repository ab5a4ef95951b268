#include "companion/mascot_appearance.h"

namespace perchwell {

namespace {

constexpr size_t suggestionLimit = 60;
constexpr size_t suggestionKept = 58;

bool isContinuationByte(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Byte offsets at which characters (code points) start; a stray byte counts as one.
size_t characterCount(std::string_view text) {
    size_t count = 0;
    for (unsigned char c : text) {
        if (!isContinuationByte(c)) {
            ++count;
        }
    }
    return count;
}

std::string_view firstCharacters(std::string_view text, size_t n) {
    size_t seen = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (!isContinuationByte(static_cast<unsigned char>(text[i]))) {
            if (seen == n) {
                return text.substr(0, i);
            }
            ++seen;
        }
    }
    return text;
}

} // namespace

uint32_t MascotTint::rgb() const {
    switch (colour) {
    case Colour::red:
        return 0xFF3B30;
    case Colour::purple:
        return 0xAF52DE;
    case Colour::indigo:
        return 0x5856D6;
    case Colour::gray:
        return 0x8E8E93;
    case Colour::yellow:
        return 0xFFCC00;
    case Colour::green:
        return 0x34C759;
    }
    return 0x8E8E93;
}

std::string MascotAppearance::shortenedSuggestion(std::string_view text) {
    if (characterCount(text) <= suggestionLimit) {
        return std::string(text);
    }
    return std::string(firstCharacters(text, suggestionKept)) + "…";
}

MascotAppearance MascotAppearance::of(const MascotState& state) {
    using Kind = MascotState::Kind;
    using Colour = MascotTint::Colour;
    switch (state.kind) {
    case Kind::needsPermission:
        return {"Needs Permission", "Accessibility", {Colour::red, 0.26}};
    case Kind::exercising:
        return {"Eye Break", state.text, {Colour::purple, 0.26}};
    case Kind::suggestion:
        return {"Better Prompt",
                std::string(pasteHintLinux) + shortenedSuggestion(state.text),
                {Colour::indigo, 0.30}};
    case Kind::paused:
        return {"Paused", "Perchwell is paused", {Colour::gray, 0.14}};
    case Kind::pacing:
        return {"Watching", "Waiting for Claude Code...", {Colour::yellow, 0.10}};
    case Kind::happy:
        return {"Done", "Auto-answered", {Colour::green, 0.26}};
    }
    return {"Watching", "Waiting for Claude Code...", {Colour::yellow, 0.10}};
}

} // namespace perchwell
