#pragma once

#include <string>

namespace perchwell {

// The camera authorization, with the numeric values the system log reports.
enum class CameraAuthorization { notDetermined = 0, restricted = 1, denied = 2, authorized = 3 };

// Whether the user may open a video capture device. Backends: video device nodes on
// Linux; a test double.
class CameraAccess {
public:
    virtual ~CameraAccess() = default;
    virtual CameraAuthorization status() = 0;
};

} // namespace perchwell
