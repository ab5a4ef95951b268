#include "companion/mascot_appearance.h"

#include "common/utf8.h"

namespace perchwell {

namespace {

constexpr size_t suggestionLimit = 60;
constexpr size_t suggestionKept = 58;

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
    if (utf8::characterCount(text) <= suggestionLimit) {
        return std::string(text);
    }
    return std::string(utf8::firstCharacters(text, suggestionKept)) + "…";
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
