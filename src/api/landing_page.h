#pragma once

#include <cstdint>
#include <string>

namespace perchwell {

// The self-contained page GET / answers: what runs where and which routes exist. The
// token is never part of it.
std::string landingHTML(int64_t port);

} // namespace perchwell
