#include "workflow/project_scanner.h"

#include <algorithm>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>

namespace perchwell {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// Names of a directory's entries in listing order, without hidden ones; nothing when
// the directory cannot be listed.
std::optional<std::vector<std::string>> listVisible(const std::string& path) {
    std::unique_ptr<DIR, DirCloser> dir(::opendir(path.c_str()));
    if (!dir) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (entry->d_name[0] != '.') {
            names.emplace_back(entry->d_name);
        }
    }
    return names;
}

} // namespace

std::string ProjectScanner::cwdForDirectoryName(const std::string& directoryName) {
    std::string cwd = directoryName;
    std::replace(cwd.begin(), cwd.end(), '-', '/');
    return cwd;
}

bool ProjectScanner::isSessionFileName(const std::string& name) {
    static constexpr std::string_view ext = ".jsonl";
    // "x.jsonl" has extension jsonl; ".jsonl" alone is a hidden file without one.
    return !name.empty() && name[0] != '.' && name.size() > ext.size() &&
           name.compare(name.size() - ext.size(), ext.size(), ext) == 0;
}

std::optional<DiscoveredProject> ProjectScanner::scanProject(const std::string& root,
                                                             const std::string& name) {
    if (name.empty() || name[0] == '.') {
        return std::nullopt;
    }
    const std::string directory = root + "/" + name;
    struct stat st {};
    // lstat: a symbolic link is not a project directory.
    if (::lstat(directory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return std::nullopt;
    }
    DiscoveredProject project{name, cwdForDirectoryName(name), directory, {}};
    if (auto names = listVisible(directory)) {
        std::vector<std::string> sessions;
        for (auto& file : *names) {
            if (isSessionFileName(file)) {
                sessions.push_back(std::move(file));
            }
        }
        std::stable_sort(sessions.begin(), sessions.end());
        for (const auto& file : sessions) {
            project.sessionFiles.push_back(directory + "/" + file);
        }
    }
    return project;
}

std::vector<DiscoveredProject> ProjectScanner::scan(const std::string& root) {
    std::vector<DiscoveredProject> projects;
    const auto names = listVisible(root);
    if (!names) {
        return projects;
    }
    for (const auto& name : *names) {
        if (auto project = scanProject(root, name)) {
            projects.push_back(std::move(*project));
        }
    }
    return projects;
}

} // namespace perchwell
