#pragma once

#include <string>

namespace perchwell::testing {

// The build tree's bin/ directory as this test target sees it (the shared support
// library is compiled without the definition, so its binaryPath() falls back to ".").
inline std::string builtBinary(const std::string& name) {
    return std::string(PERCHWELL_BIN_DIR) + "/" + name;
}

} // namespace perchwell::testing
