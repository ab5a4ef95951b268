#pragma once

#include <optional>
#include <string>
#include <vector>

namespace perchwell {

// One transcript directory under the root: Claude Code's encoding of a working
// directory ("-Users-ann-code-app") and its session files, sorted by name.
struct DiscoveredProject {
    std::string directoryName;             // the project id everywhere
    std::string cwd;                       // directoryName with every "-" read as "/" (lossy)
    std::string directory;                 // absolute path of the directory
    std::vector<std::string> sessionFiles; // absolute paths of its *.jsonl files

    bool operator==(const DiscoveredProject&) const = default;
};

// Finds the project directories of a transcript root. Stateless; never fails (a
// missing root gives no projects, an unreadable project directory no files).
class ProjectScanner {
public:
    // Projects in the order the file system lists them; hidden entries, plain files
    // and symbolic links are skipped; sub-directories of a project are not visited.
    static std::vector<DiscoveredProject> scan(const std::string& root);

    // The project behind one directory of the root, or nothing when `name` is hidden or
    // not a directory.
    static std::optional<DiscoveredProject> scanProject(const std::string& root, const std::string& name);

    // "-Users-ann-my-app" → "/Users/ann/my/app".
    static std::string cwdForDirectoryName(const std::string& directoryName);

    // Whether a file name is a session transcript: not hidden, extension exactly "jsonl".
    static bool isSessionFileName(const std::string& name);
};

} // namespace perchwell
