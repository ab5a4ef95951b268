#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace perchwell {

// The screen corner the mascot calls home; stored as its raw string.
enum class HomeCorner { topLeft, topRight, bottomLeft, bottomRight };

inline constexpr std::array<HomeCorner, 4> allHomeCorners{HomeCorner::topLeft, HomeCorner::topRight,
                                                          HomeCorner::bottomLeft, HomeCorner::bottomRight};

// "topLeft", "topRight", "bottomLeft", "bottomRight".
std::string_view rawValue(HomeCorner corner);
// Nothing for a string that is no raw value.
std::optional<HomeCorner> homeCornerFromRawValue(std::string_view raw);
// "Top Left", ... as the settings window shows them.
std::string_view displayLabel(HomeCorner corner);

} // namespace perchwell
