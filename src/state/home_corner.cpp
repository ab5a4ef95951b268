#include "state/home_corner.h"

namespace perchwell {

std::string_view rawValue(HomeCorner corner) {
    switch (corner) {
    case HomeCorner::topLeft:
        return "topLeft";
    case HomeCorner::topRight:
        return "topRight";
    case HomeCorner::bottomLeft:
        return "bottomLeft";
    case HomeCorner::bottomRight:
        return "bottomRight";
    }
    return "topRight";
}

std::optional<HomeCorner> homeCornerFromRawValue(std::string_view raw) {
    for (const HomeCorner corner : allHomeCorners) {
        if (rawValue(corner) == raw) {
            return corner;
        }
    }
    return std::nullopt;
}

std::string_view displayLabel(HomeCorner corner) {
    switch (corner) {
    case HomeCorner::topLeft:
        return "Top Left";
    case HomeCorner::topRight:
        return "Top Right";
    case HomeCorner::bottomLeft:
        return "Bottom Left";
    case HomeCorner::bottomRight:
        return "Bottom Right";
    }
    return "Top Right";
}

} // namespace perchwell
