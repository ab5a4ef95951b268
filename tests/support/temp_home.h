#pragma once

#include <string>

namespace perchwell::testing {

// A fresh directory that points HOME, the XDG variables and CLAUDE_CONFIG_DIR at
// itself while it lives, and is removed afterwards.
class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::string saved_[5];
    bool had_[5] = {};
};

// Creates a temporary directory (removed by removeTree).
std::string makeTempDir(const std::string& prefix = "pw-test");
void removeTree(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
std::string readFile(const std::string& path);

} // namespace perchwell::testing
