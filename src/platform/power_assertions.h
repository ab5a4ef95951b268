#pragma once

#include "common/result.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace perchwell {

// What a power assertion keeps from happening. Both kinds only stop the machine from
// sleeping on its own; neither may refuse a suspend the user asks for.
enum class AssertionKind { idleSystem, networkClient };

inline constexpr std::array<AssertionKind, 2> allAssertionKinds = {AssertionKind::idleSystem,
                                                                   AssertionKind::networkClient};

// "idle" / "network", as the log lines name them.
constexpr std::string_view rawValue(AssertionKind kind) {
    return kind == AssertionKind::idleSystem ? "idle" : "network";
}

using AssertionId = std::uint32_t;

// Named power assertions the system honours while they are held. A failure carries the
// system's code and words in its message. Main thread only.
class PowerAssertions {
public:
    virtual ~PowerAssertions() = default;
    virtual Result<AssertionId> create(AssertionKind kind, const std::string& name) = 0;
    virtual Result<void> release(AssertionId id) = 0;
};

} // namespace perchwell
