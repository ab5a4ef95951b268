#include "platform/linux/opencv_gaze_camera.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

namespace perchwell {

namespace {

std::vector<std::string> videoDevices(const std::string& directory) {
    namespace fs = std::filesystem;
    std::vector<std::string> devices;
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
        if (it->path().filename().string().rfind("video", 0) == 0) {
            devices.push_back(it->path().string());
        }
    }
    // video0 is the built-in camera on most laptops; try it first.
    std::sort(devices.begin(), devices.end());
    return devices;
}

} // namespace

OpenCvGazeCamera::OpenCvGazeCamera(std::string deviceDirectory, std::string cascadeDirectory)
    : deviceDirectory_(std::move(deviceDirectory)), cascadeDirectory_(std::move(cascadeDirectory)) {}

OpenCvGazeCamera::~OpenCvGazeCamera() {
    close();
}

Result<void> OpenCvGazeCamera::open() {
    if (!detector_) {
        auto loaded = FaceLandmarkDetector::load(cascadeDirectory_);
        if (!loaded) {
            return Error{"Camera initialization failed: " + loaded.error().message};
        }
        detector_.emplace(std::move(*loaded));
    }
    close();
    for (const std::string& device : videoDevices(deviceDirectory_)) {
        try {
            // Metadata nodes of the same camera open but deliver nothing: one frame
            // read proves the node is a capture device.
            if (capture_.open(device, cv::CAP_V4L2)) {
                // A driver that cannot do 640 x 480 keeps its own size; the detector copes.
                capture_.set(cv::CAP_PROP_FRAME_WIDTH, 640);
                capture_.set(cv::CAP_PROP_FRAME_HEIGHT, 480);
                if (capture_.read(frame_)) {
                    return {};
                }
            }
        } catch (const cv::Exception&) {
            // Not a camera we can use; try the next node.
        }
        capture_.release();
    }
    return Error{"No front camera found."};
}

Result<std::optional<FaceLandmarks>> OpenCvGazeCamera::nextLandmarks() {
    if (!capture_.isOpened()) {
        return Error{"The camera is not open."};
    }
    try {
        if (!capture_.read(frame_)) {
            return Error{"The camera stopped delivering frames."};
        }
        return detector_->detect(frame_);
    } catch (const cv::Exception& error) {
        return Error{std::string("The camera stopped delivering frames: ") + error.what()};
    }
}

void OpenCvGazeCamera::close() {
    capture_.release();
}

std::unique_ptr<GazeCamera> makeSystemGazeCamera() {
    return std::make_unique<OpenCvGazeCamera>();
}

} // namespace perchwell
