#include "workflow/session_card.h"

#include <array>

namespace perchwell {
namespace {

constexpr std::array<std::string_view, 5> kSources = {"cli", "vscode", "desktop", "codex", "unknown"};
constexpr std::array<std::string_view, 3> kStatuses = {"active", "idle", "done"};

template <typename E, size_t N>
std::optional<E> fromRaw(const std::array<std::string_view, N>& names, std::string_view raw) {
    for (size_t i = 0; i < N; ++i) {
        if (names[i] == raw) {
            return static_cast<E>(i);
        }
    }
    return std::nullopt;
}

} // namespace

std::string_view toString(SessionSource source) {
    return kSources[static_cast<size_t>(source)];
}

std::optional<SessionSource> sessionSourceFromString(std::string_view raw) {
    return fromRaw<SessionSource>(kSources, raw);
}

std::string_view toString(SessionStatus status) {
    return kStatuses[static_cast<size_t>(status)];
}

std::optional<SessionStatus> sessionStatusFromString(std::string_view raw) {
    return fromRaw<SessionStatus>(kStatuses, raw);
}

} // namespace perchwell
