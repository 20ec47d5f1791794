// The idle step's frame interval: clamped to one second for the spin, never an infinite rate.
#include "ui/frame_display.h"

#include <gtest/gtest.h>

#include <cmath>

#include "app/scene_loading.h"
#include "geometry/orbit_camera.h"
#include "ui/control_panel.h"

namespace {

struct SpinningCamera : testing::Test {
    void SetUp() override {
        const double focus[3] = {0, 0, 0}, up[3] = {0, 1, 0};
        camera = new OrbitCamera(1.2, 0.0, 0.0, focus, up, cameraMotionScale);
        spinEnabled = 1;
        spinFrequency = 0.5f;
        graphicsRate = 60.0;
    }
    void TearDown() override {
        delete camera;
        camera = nullptr;
        spinEnabled = 0;
    }
};

}  // namespace

TEST_F(SpinningCamera, SpinTurnsAtItsFrequency) {
    advanceFrame(0.1);
    // 0.5 turns per second for 0.1 s: 0.1 pi radians.
    EXPECT_NEAR(camera->azimuth, 0.5 * 0.1 * 2 * M_PI, 1e-9);
    EXPECT_DOUBLE_EQ(graphicsRate, 10.0);
}

TEST_F(SpinningCamera, LongFramesAdvanceOneSecondButReportTheTrueRate) {
    advanceFrame(4.0);
    EXPECT_NEAR(camera->azimuth, 0.5 * 1.0 * 2 * M_PI, 1e-9);
    EXPECT_DOUBLE_EQ(graphicsRate, 0.25);
}

TEST_F(SpinningCamera, ZeroIntervalChangesNothing) {
    advanceFrame(0.0);
    EXPECT_EQ(camera->azimuth, 0.0);
    EXPECT_EQ(graphicsRate, 60.0);  // the last rate stays: no infinite rate
}
