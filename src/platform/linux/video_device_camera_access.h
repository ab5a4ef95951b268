#pragma once

#include "platform/camera_access.h"

#include <string>

namespace perchwell {

// Looks for video capture device nodes ("video*") in a device directory: one the user
// may open for reading and writing means authorized; nodes that exist but are all
// refused mean denied; no node at all means restricted (there is nothing to allow).
class VideoDeviceCameraAccess : public CameraAccess {
public:
    explicit VideoDeviceCameraAccess(std::string deviceDirectory = "/dev");
    CameraAuthorization status() override;

private:
    std::string deviceDirectory_;
};

} // namespace perchwell
