#include "platform/linux/video_device_camera_access.h"

#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace perchwell {

VideoDeviceCameraAccess::VideoDeviceCameraAccess(std::string deviceDirectory)
    : deviceDirectory_(std::move(deviceDirectory)) {}

CameraAuthorization VideoDeviceCameraAccess::status() {
    namespace fs = std::filesystem;
    std::error_code error;
    bool sawDevice = false;
    for (fs::directory_iterator it(deviceDirectory_, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.rfind("video", 0) != 0) {
            continue;
        }
        std::error_code typeError;
        const auto type = it->status(typeError).type();
        // Device nodes are character devices; plain files stand in for them in tests.
        if (typeError || (type != fs::file_type::character && type != fs::file_type::regular)) {
            continue;
        }
        sawDevice = true;
        if (::access(it->path().c_str(), R_OK | W_OK) == 0) {
            return CameraAuthorization::authorized;
        }
    }
    return sawDevice ? CameraAuthorization::denied : CameraAuthorization::restricted;
}

} // namespace perchwell
