// Orbit and zoom within the scene's limits, and the three keys.
#include "ui/mouse_keyboard.h"

#include <gtest/gtest.h>

#include <cmath>

#include "app/scene_loading.h"
#include "geometry/mode_shape_matrix.h"
#include "geometry/orbit_camera.h"
#include "sound/synthesis_state.h"
#include "ui/control_panel.h"
#include "ui/picking.h"

namespace {

// The bell's camera: focus (0, 1, 0), radius 1.8, a floor at y = 0, at most 7 from the focus.
struct BellCamera : testing::Test {
    void SetUp() override {
        initialCameraRadius = 1.8;
        cameraFocus[0] = 0, cameraFocus[1] = 1, cameraFocus[2] = 0;
        maxCameraDistance = 7.0;
        groundConstraint = 1;
        const double up[3] = {0, 1, 0};
        camera = new OrbitCamera(1.8, -59.427 * degreesToRadians, 14.2704 * degreesToRadians,
                                 cameraFocus, up, cameraMotionScale);
    }
    void TearDown() override {
        delete camera;
        camera = nullptr;
        groundConstraint = 0;
    }
    static double eyeY() {
        double x, y, z;
        camera->getEyePosition(&x, &y, &z);
        return y;
    }
};

}  // namespace

TEST_F(BellCamera, OrbitStopsAtTheFloorAndTurnsBackFreely) {
    // Dragging up lowers the eye 0.01 rad per pixel; from 1 m above the floor at 1.8 m the eye
    // reaches the floor at an elevation of -asin(1 / 1.8).
    double lastElevation = camera->elevation;
    int refused = 0;
    for (int step = 0; step < 200; ++step) {
        orbitCamera(*camera, 0.0, -5.0);
        EXPECT_GE(eyeY(), 0.0);
        if (camera->elevation == lastElevation) ++refused;
        lastElevation = camera->elevation;
    }
    EXPECT_GT(refused, 0);
    EXPECT_NEAR(camera->elevation, -std::asin(1.0 / 1.8), 0.05 + 1e-9);
    orbitCamera(*camera, 0.0, 10.0);
    EXPECT_NEAR(camera->elevation, lastElevation + 0.1, 1e-12);
}

TEST_F(BellCamera, ZoomStopsAtTheLargestDistanceAndKeepsThePlanes) {
    // Dragging up moves away by 0.005 * 1.8 per pixel.
    for (int step = 0; step < 100; ++step) zoomCamera(*camera, -100.0);
    EXPECT_LE(camera->radius, 7.0);
    EXPECT_GT(camera->radius, 7.0 - 0.9 - 1e-9);
    const double radius = camera->radius;
    zoomCamera(*camera, -100.0);
    EXPECT_EQ(camera->radius, radius);
    EXPECT_DOUBLE_EQ(nearPlane, 0.05 * radius);
    EXPECT_DOUBLE_EQ(farPlane, 20.0 * radius);
}

TEST_F(BellCamera, ZoomPastTheFocusStopsAtTheMotionScale) {
    zoomCamera(*camera, 10000.0);
    EXPECT_DOUBLE_EQ(camera->radius, 0.05);
    EXPECT_DOUBLE_EQ(nearPlane, 0.0025);
}

TEST(Keys, SpinToggleAndRepeat) {
    spinEnabled = 0;
    onKey('s', 0, 0);
    EXPECT_EQ(spinEnabled, 1);
    onKey('s', 0, 0);
    EXPECT_EQ(spinEnabled, 0);
    onKey('S', 0, 0);
    EXPECT_EQ(spinEnabled, 0);

    allocateModeArrays(1);
    const double U[3] = {1, 0, 0};
    modeShapes = new ModeShapeMatrix(1, 1, U);
    impactMarkerOn = false;
    onKey('R', 0, 0);
    EXPECT_FALSE(impactMarkerOn);
    onKey('r', 0, 0);
    EXPECT_TRUE(impactMarkerOn);
    delete modeShapes;
    modeShapes = nullptr;
}

TEST(KeysDeathTest, EscapeEndsTheProcessWithStatusZero) {
    EXPECT_EXIT(onKey(27, 0, 0), testing::ExitedWithCode(0), "");
}
