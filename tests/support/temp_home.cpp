#include "support/temp_home.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace perchwell::testing {
namespace {

const char* const kVariables[5] = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME",
                                   "CLAUDE_CONFIG_DIR"};

} // namespace

std::string makeTempDir(const std::string& prefix) {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/" + prefix + ".XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    return name.data();
}

void removeTree(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

void writeFile(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TempHome::TempHome() : path_(makeTempDir("pw-home")) {
    for (int i = 0; i < 5; ++i) {
        if (const char* v = std::getenv(kVariables[i])) {
            had_[i] = true;
            saved_[i] = v;
        }
    }
    ::setenv("HOME", path_.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (path_ + "/.local/share").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (path_ + "/.config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (path_ + "/.cache").c_str(), 1);
    ::unsetenv("CLAUDE_CONFIG_DIR");
}

TempHome::~TempHome() {
    for (int i = 0; i < 5; ++i) {
        if (had_[i]) {
            ::setenv(kVariables[i], saved_[i].c_str(), 1);
        } else {
            ::unsetenv(kVariables[i]);
        }
    }
    removeTree(path_);
}

} // namespace perchwell::testing
