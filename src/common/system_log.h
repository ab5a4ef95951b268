#pragma once

#include <functional>
#include <string_view>

namespace perchwell::systemlog {

// Writes one line to the system log (syslog; journald collects it).
void write(std::string_view line);

// Replaces where lines go (tests capture them); an empty function restores syslog.
using Sink = std::function<void(std::string_view)>;
void setSink(Sink sink);

} // namespace perchwell::systemlog
