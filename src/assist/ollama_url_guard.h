#pragma once

#include <string_view>

namespace perchwell {

// The Ollama server address is text the user edits, so every client is checked
// first: only http(s), and never an unspecified, link-local or cloud-metadata address
// or a loopback address other than 127.0.0.1.
struct OllamaURLGuard {
    // `scheme` and `host` as a URL parser gives them (an IPv6 host with or without its
    // brackets); both are compared lower-cased.
    static bool isAllowed(std::string_view scheme, std::string_view host);
};

} // namespace perchwell
