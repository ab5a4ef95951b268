#include "companion/mascot_appearance.h"

#include <gtest/gtest.h>

namespace perchwell {
namespace {

using Colour = MascotTint::Colour;

struct Row {
    MascotState state;
    std::string title;
    std::string detail;
    Colour colour;
    double opacity;
};

TEST(MascotAppearanceTest, EachStateHasItsTitleDetailAndTint) {
    const Row rows[] = {
        {MascotState::needsPermission(PermissionKind::accessibility), "Needs Permission", "Accessibility",
         Colour::red, 0.26},
        {MascotState::exercising("Look at the top-left corner"), "Eye Break", "Look at the top-left corner",
         Colour::purple, 0.26},
        {MascotState::suggestion("Add tests first"), "Better Prompt",
         "Paste with Ctrl+Shift+V · Add tests first", Colour::indigo, 0.30},
        {MascotState::paused(), "Paused", "Perchwell is paused", Colour::gray, 0.14},
        {MascotState::pacing(), "Watching", "Waiting for Claude Code...", Colour::yellow, 0.10},
        {MascotState::happy(), "Done", "Auto-answered", Colour::green, 0.26},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(toString(row.state.kind));
        const MascotAppearance appearance = MascotAppearance::of(row.state);
        EXPECT_EQ(appearance.title, row.title);
        EXPECT_EQ(appearance.detail, row.detail);
        EXPECT_EQ(appearance.tint.colour, row.colour);
        EXPECT_DOUBLE_EQ(appearance.tint.opacity, row.opacity);
    }
}

TEST(MascotAppearanceTest, SuggestionIsCutOnlyPastSixtyCharacters) {
    const std::string sixty(60, 'a');
    const std::string sixtyOne(61, 'b');
    std::string accented;
    for (int i = 0; i < 61; ++i) {
        accented += "é"; // two bytes each: the cut counts characters, not bytes
    }
    std::string accentedKept;
    for (int i = 0; i < 58; ++i) {
        accentedKept += "é";
    }
    struct Case {
        std::string text;
        std::string expected;
    } cases[] = {
        {"", ""},
        {sixty, sixty},
        {sixtyOne, std::string(58, 'b') + "…"},
        {accented, accentedKept + "…"},
        {accented.substr(0, 120), accented.substr(0, 120)}, // exactly 60 characters
        {std::string(200, 'c'), std::string(58, 'c') + "…"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MascotAppearance::shortenedSuggestion(c.text), c.expected) << c.text;
    }
    EXPECT_EQ(MascotAppearance::of(MascotState::suggestion(sixtyOne)).detail,
              "Paste with Ctrl+Shift+V · " + std::string(58, 'b') + "…");
}

} // namespace
} // namespace perchwell
