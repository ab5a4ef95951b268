#pragma once

#include "common/result.h"
#include "platform/face_landmarks.h"

#include <opencv2/core.hpp>
#include <opencv2/objdetect.hpp>
#include <optional>
#include <string>

namespace perchwell {

// Finds the largest face in a frame with the distribution's Haar cascades and reports
// its eyes: each eye box stands for the eye outline and the darkest blob in it for the
// pupil. Camera frames and still images go through the same detect().
class FaceLandmarkDetector {
public:
    // `cascadeDirectory` holds haarcascade_frontalface_default.xml and haarcascade_eye.xml.
    static Result<FaceLandmarkDetector> load(const std::string& cascadeDirectory);
    // The directory found when this build was configured.
    static std::string defaultCascadeDirectory();

    // `frame`: 8-bit grey or BGR. Nothing without a face with two eyes.
    std::optional<FaceLandmarks> detect(const cv::Mat& frame);

private:
    FaceLandmarkDetector() = default;

    cv::CascadeClassifier face_;
    cv::CascadeClassifier eye_;
};

// The centre of the darkest blob of an 8-bit grey eye image, in its pixel coordinates.
cv::Point2d darkestBlob(const cv::Mat& eye);

} // namespace perchwell
