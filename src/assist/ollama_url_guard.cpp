#include "assist/ollama_url_guard.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

namespace perchwell {

namespace {

constexpr std::array<std::string_view, 6> unspecified = {"0.0.0.0", "::", "[::]", "0", "0.0", "0.0.0"};

constexpr std::array<std::string_view, 10> metadataEndpoints = {
    "169.254.169.254",
    "fd00:ec2::254",
    "100.100.100.200",
    "192.0.0.192",
    "168.63.129.16",
    "metadata.google.internal",
    "metadata.google.internal.",
    "metadata.goog",
    "metadata",
    "instance-data",
};

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

template <size_t N> bool contains(const std::array<std::string_view, N>& table, std::string_view value) {
    return std::find(table.begin(), table.end(), value) != table.end();
}

} // namespace

bool OllamaURLGuard::isAllowed(std::string_view scheme, std::string_view rawHost) {
    const std::string lowerScheme = lowered(scheme);
    if (lowerScheme != "http" && lowerScheme != "https") {
        return false;
    }
    std::string host = lowered(rawHost);
    // A fully qualified name may end in a dot and still name the same host.
    while (host.size() > 1 && host.back() == '.') {
        host.pop_back();
    }
    if (host.empty()) {
        return false;
    }
    std::string bare = host;
    if (bare.size() > 2 && bare.front() == '[' && bare.back() == ']') {
        bare = bare.substr(1, bare.size() - 2);
    }
    if (contains(unspecified, host) || contains(unspecified, bare)) {
        return false;
    }
    if (contains(metadataEndpoints, host) || contains(metadataEndpoints, bare)) {
        return false;
    }
    if (host.starts_with("169.254.")) {
        return false;
    }
    if (host.starts_with("127.") && host != "127.0.0.1") {
        return false;
    }
    return true;
}

} // namespace perchwell
