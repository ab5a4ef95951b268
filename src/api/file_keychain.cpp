#include "api/file_keychain.h"

#include "common/file_util.h"
#include "common/utf8.h"
#include "platform/paths.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace perchwell {
namespace {

bool isPlainName(std::string_view name) {
    return !name.empty() && name.front() != '.' && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

} // namespace

FileKeychain::FileKeychain(std::string directory)
    : directory_(directory.empty() ? Paths::dataFile("secrets") : std::move(directory)) {}

std::string FileKeychain::itemPath(std::string_view service, std::string_view account) const {
    if (!isPlainName(service) || !isPlainName(account)) {
        return {};
    }
    return directory_ + "/" + std::string(service) + "." + std::string(account);
}

KeychainResult FileKeychain::read(std::string_view service, std::string_view account) {
    const std::string path = itemPath(service, account);
    if (path.empty()) {
        return KeychainResult::failed(EINVAL);
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return errno == ENOENT ? KeychainResult::notFound()
                               : KeychainResult::failed(errno, std::strerror(errno));
    }
    auto text = files::readFile(path);
    if (!text) {
        return KeychainResult::failed(EIO, "cannot read " + path);
    }
    if (!utf8::isValid(*text)) {
        return KeychainResult::failed(decodeStatus);
    }
    return KeychainResult::found(std::move(*text));
}

bool FileKeychain::set(std::string_view value, std::string_view service, std::string_view account) {
    const std::string path = itemPath(service, account);
    if (path.empty()) {
        return false;
    }
    // The folder is private before anything is written into it.
    if (directory_.rfind(Paths::dataDirectory() + "/", 0) == 0 && !Paths::ensureDataDirectory()) {
        return false;
    }
    if (!files::ensureDirectory(directory_, Paths::dataDirectoryMode)) {
        return false;
    }
    if (::chmod(directory_.c_str(), Paths::dataDirectoryMode) != 0) {
        return false;
    }
    // The temporary file is created 0600 and only then filled, then renamed into place.
    return files::writeFileAtomically(path, value, 0600).ok();
}

void FileKeychain::deleteItem(std::string_view service, std::string_view account) {
    const std::string path = itemPath(service, account);
    if (!path.empty()) {
        ::unlink(path.c_str());
    }
}

} // namespace perchwell
