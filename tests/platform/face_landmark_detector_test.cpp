// Still images of a drawn face go through the detector that camera frames go through.
// The faces are drawn here (grey ellipse, dark hair, shaded eye sockets, white eyes
// with dark pupils, nose and mouth), which the distribution's default frontal-face and
// eye cascades find; the pupils are shifted to make the face look left or right.
#include "companion/gaze_direction.h"
#include "platform/linux/face_landmark_detector.h"
#include "platform/linux/opencv_gaze_camera.h"
#include "support/temp_home.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

namespace perchwell {
namespace {

// `pupilShift` in [-1, 1]: where the pupils sit in the eyes, towards the image's left
// (-1) or right (+1). The camera faces the user, so image-left is the user's right.
cv::Mat drawFace(double pupilShift, cv::Point centre = {320, 250}) {
    cv::Mat image(480, 640, CV_8UC1, cv::Scalar(60));
    cv::ellipse(image, centre, cv::Size(110, 145), 0, 0, 360, cv::Scalar(190), cv::FILLED);
    cv::ellipse(image, centre + cv::Point(0, -100), cv::Size(118, 60), 0, 180, 360, cv::Scalar(40),
                cv::FILLED);
    for (int side : {-1, 1}) {
        const cv::Point eye = centre + cv::Point(side * 45, -30);
        cv::ellipse(image, eye + cv::Point(0, -4), cv::Size(36, 24), 0, 0, 360, cv::Scalar(100), cv::FILLED);
        cv::line(image, eye + cv::Point(-30, -26), eye + cv::Point(30, -26), cv::Scalar(50), 8);
        cv::ellipse(image, eye, cv::Size(24, 11), 0, 0, 360, cv::Scalar(235), cv::FILLED);
        cv::circle(image, eye + cv::Point(static_cast<int>(pupilShift * 12), 0), 8, cv::Scalar(15),
                   cv::FILLED);
    }
    cv::ellipse(image, centre + cv::Point(0, 35), cv::Size(16, 8), 0, 0, 360, cv::Scalar(130), cv::FILLED);
    cv::ellipse(image, centre + cv::Point(0, 78), cv::Size(40, 10), 0, 0, 360, cv::Scalar(70), cv::FILLED);
    cv::GaussianBlur(image, image, cv::Size(0, 0), 2);
    return image;
}

FaceLandmarkDetector loadDetector() {
    auto detector = FaceLandmarkDetector::load(FaceLandmarkDetector::defaultCascadeDirectory());
    EXPECT_TRUE(detector) << detector.error().message;
    return std::move(*detector);
}

TEST(FaceLandmarkDetectorTest, GazeOfFacesLookingLeftCentreAndRight) {
    FaceLandmarkDetector detector = loadDetector();
    struct Case {
        const char* name;
        double pupilShift;
        double minX;
        double maxX;
    };
    const Case cases[] = {
        {"looking right", -1.0, 0.1, 1.0},
        {"looking centre", 0.0, -0.35, 0.1}, // within what the centre stop accepts
        {"looking left", 1.0, -1.0, -0.4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const cv::Mat grey = drawFace(c.pupilShift);
        cv::Mat colour;
        cv::cvtColor(grey, colour, cv::COLOR_GRAY2BGR);
        // Camera frames arrive in colour; the still image is tried both ways.
        for (const cv::Mat& frame : {grey, colour}) {
            const auto landmarks = detector.detect(frame);
            ASSERT_TRUE(landmarks);
            // The person's left eye is on the image's right.
            EXPECT_GT(landmarks->leftPupil.front().x, landmarks->rightPupil.front().x);
            const auto direction = computeGazeDirection(*landmarks);
            ASSERT_TRUE(direction);
            EXPECT_GE(direction->x, c.minX);
            EXPECT_LE(direction->x, c.maxX);
            EXPECT_LT(std::abs(direction->y), 0.4);
        }
    }
}

TEST(FaceLandmarkDetectorTest, TakesTheLargestFace) {
    FaceLandmarkDetector detector = loadDetector();
    // A small face looking left beside a large one looking right: the large one wins.
    cv::Mat image = drawFace(-1.0, {400, 250});
    cv::Mat small;
    cv::resize(drawFace(1.0), small, cv::Size(), 0.5, 0.5);
    small(cv::Rect(90, 45, 140, 170)).copyTo(image(cv::Rect(0, 150, 140, 170)));
    const auto landmarks = detector.detect(image);
    ASSERT_TRUE(landmarks);
    EXPECT_GT(landmarks->leftEye.front().x, 0.55);
    EXPECT_GT(landmarks->rightEye.front().x, 0.45);
}

TEST(FaceLandmarkDetectorTest, NoLandmarksWithoutAFace) {
    FaceLandmarkDetector detector = loadDetector();
    cv::Mat blank(480, 640, CV_8UC1, cv::Scalar(128));
    cv::Mat noise(480, 640, CV_8UC1);
    cv::randu(noise, 0, 255);
    for (const cv::Mat& frame : {blank, noise, cv::Mat()}) {
        EXPECT_FALSE(detector.detect(frame));
    }
}

TEST(FaceLandmarkDetectorTest, DarkestBlobIsThePupilNotAStrayDarkPixel) {
    cv::Mat eye(30, 60, CV_8UC1, cv::Scalar(220));
    cv::circle(eye, cv::Point(40, 14), 6, cv::Scalar(20), cv::FILLED);
    eye.at<uchar>(3, 5) = 0; // a lash
    const cv::Point2d centre = darkestBlob(eye);
    EXPECT_NEAR(centre.x, 40.5, 1.0);
    EXPECT_NEAR(centre.y, 14.5, 1.0);
}

TEST(FaceLandmarkDetectorTest, CameraErrorsCarryTheUserFacingTexts) {
    testing::TempHome home;
    const std::string emptyDevices = home.path() + "/dev";
    std::filesystem::create_directories(emptyDevices);
    // A plain file named like a device node is not a camera.
    std::ofstream(emptyDevices + "/video0") << "not a camera";

    OpenCvGazeCamera noCamera(emptyDevices);
    auto opened = noCamera.open();
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error().message, "No front camera found.");
    EXPECT_FALSE(noCamera.nextLandmarks());

    OpenCvGazeCamera noCascades(emptyDevices, home.path() + "/missing");
    opened = noCascades.open();
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error().message.rfind("Camera initialization failed: ", 0), 0u)
        << opened.error().message;
}

} // namespace
} // namespace perchwell
