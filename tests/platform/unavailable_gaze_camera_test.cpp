#include "platform/gaze_camera.h"

#include <gtest/gtest.h>

namespace perchwell {
namespace {

// Built without OpenCV, the camera never opens and says why, so the eye break counts
// clicks only.
TEST(UnavailableGazeCameraTest, NeverOpensAndSaysWhy) {
    auto camera = makeSystemGazeCamera();
    const auto opened = camera->open();
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error().message.rfind("Camera initialization failed: ", 0), 0u);
    EXPECT_FALSE(camera->nextLandmarks());
    camera->close();
}

} // namespace
} // namespace perchwell
