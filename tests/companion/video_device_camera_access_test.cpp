#include "platform/linux/video_device_camera_access.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace perchwell {
namespace {

class VideoDeviceCameraAccessTest : public ::testing::Test {
protected:
    void SetUp() override { dir_ = testing::makeTempDir("pw-dev"); }
    void TearDown() override { testing::removeTree(dir_); }
    std::string dir_;
};

TEST_F(VideoDeviceCameraAccessTest, StatusFollowsTheDeviceNodes) {
    VideoDeviceCameraAccess access(dir_);
    EXPECT_EQ(access.status(), CameraAuthorization::restricted) << "no device at all";

    testing::writeFile(dir_ + "/null", "");
    testing::writeFile(dir_ + "/vhci", "");
    EXPECT_EQ(access.status(), CameraAuthorization::restricted) << "other nodes do not count";

    testing::writeFile(dir_ + "/video0", "");
    ::chmod((dir_ + "/video0").c_str(), 0600);
    EXPECT_EQ(access.status(), CameraAuthorization::authorized);
}

TEST_F(VideoDeviceCameraAccessTest, RefusedNodesMeanDenied) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root may open any node";
    }
    testing::writeFile(dir_ + "/video0", "");
    ::chmod((dir_ + "/video0").c_str(), 0);
    EXPECT_EQ(VideoDeviceCameraAccess(dir_).status(), CameraAuthorization::denied);
}

TEST(VideoDeviceCameraAccessMissingDirTest, MissingDirectoryIsRestricted) {
    EXPECT_EQ(VideoDeviceCameraAccess("/nonexistent/pw-dev").status(), CameraAuthorization::restricted);
}

} // namespace
} // namespace perchwell
