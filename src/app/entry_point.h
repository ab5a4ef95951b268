#pragma once

#include <string>
#include <vector>

namespace perchwell {

// The process entry: chooses between the hook role and the application role.
class EntryPoint {
public:
    static int main(int argc, char** argv);

    // "hook", exact and case-sensitive, anywhere after the executable path.
    static bool isHookMode(const std::vector<std::string>& arguments);

    // Where the application role looks for the desktop library, in order.
    static std::vector<std::string> desktopLibraryCandidates(const std::string& executableDir);

private:
    static int runApplication(int argc, char** argv);
};

} // namespace perchwell
