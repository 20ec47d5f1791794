// The orbit camera against the closed forms of spherical placement: eye and ears, the right
// vector, the elevation snap, the zoom floor, save and restore, and the listener it publishes.
#include "geometry/orbit_camera.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <random>
#include <thread>

#include "geometry/listener_points.h"

namespace {

const double kOrigin[3] = {0, 0, 0};
const double kUp[3] = {0, 1, 0};

void expectPoint(const double* p, double x, double y, double z, const char* what) {
    EXPECT_NEAR(p[0], x, 1e-12) << what;
    EXPECT_NEAR(p[1], y, 1e-12) << what;
    EXPECT_NEAR(p[2], z, 1e-12) << what;
}

}  // namespace

TEST(OrbitCamera, EyeAndEarsAtAzimuthZero) {
    OrbitCamera camera(1, 0, 0, kOrigin, kUp, 0.05);
    expectPoint(camera.eye, 1, 0, 0, "eye on +x");
    expectPoint(camera.right, 0, 0, -1, "right");
    double eye[3];
    camera.getEyePosition(&eye[0], &eye[1], &eye[2]);
    expectPoint(eye, 1, 0, 0, "getEyePosition");
    double left[3], right[3];
    camera.getEarPositions(0.2, &left[0], &left[1], &left[2], &right[0], &right[1], &right[2]);
    expectPoint(left, 1, 0, 0.1, "left ear");
    expectPoint(right, 1, 0, -0.1, "right ear");
}

TEST(OrbitCamera, EyeLiesOnTheSphereAroundTheFocus) {
    const double focus[3] = {0.5, 1.0, -2.0};
    OrbitCamera quarter(3, M_PI / 2, 0, focus, kUp, 0.05);
    expectPoint(quarter.eye, 0.5, 1.0, -5.0, "azimuth pi/2: eye at -z");
    std::mt19937 random(7);
    std::uniform_real_distribution<double> angle(-1.5, 1.5);
    for (int i = 0; i < 100; ++i) {
        const double azimuth = 2 * angle(random), elevation = angle(random);
        OrbitCamera camera(2.5, azimuth, elevation, focus, kUp, 0.05);
        const double d[3] = {camera.eye[0] - focus[0], camera.eye[1] - focus[1],
                             camera.eye[2] - focus[2]};
        EXPECT_NEAR(sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]), 2.5, 1e-12);
        EXPECT_NEAR(d[1], 2.5 * sin(elevation), 1e-12);
        // Right is horizontal, unit, perpendicular to the view direction, and points to the
        // viewer's right: (view direction x up) has a positive component along it.
        EXPECT_EQ(camera.right[1], 0.0);
        EXPECT_NEAR(camera.right[0] * camera.right[0] + camera.right[2] * camera.right[2], 1,
                    1e-12);
        EXPECT_NEAR(camera.right[0] * d[0] + camera.right[2] * d[2], 0, 1e-12);
        const double viewCrossUp[3] = {d[2], 0, -d[0]};  // (-d) x (0, 1, 0)
        EXPECT_GT(viewCrossUp[0] * camera.right[0] + viewCrossUp[2] * camera.right[2], 0);
    }
}

TEST(OrbitCamera, ElevationSnapsBackOnlyPastNinetyDegrees) {
    OrbitCamera camera(1, 0, 1.5, kOrigin, kUp, 0.05);
    camera.rotateElevation(0.06 / 0.05);  // 1.5 -> 1.56: between 89 and 90 degrees, kept
    EXPECT_NEAR(camera.elevation, 1.56, 1e-12);
    camera.rotateElevation(0.1 / 0.05);  // 1.56 -> 1.66: past 90 degrees, snaps to 89
    EXPECT_EQ(camera.elevation, 1.5533430342749517);
    OrbitCamera low(1, 0, -1.5, kOrigin, kUp, 0.05);
    low.rotateElevation(-0.1 / 0.05);
    EXPECT_EQ(low.elevation, -1.5533430342749517);
    // Just below 90 degrees the eye is nearly overhead, still with a horizontal unit right.
    EXPECT_NEAR(low.eye[1], -sin(1.5533430342749517), 1e-12);
    EXPECT_NEAR(hypot(low.right[0], low.right[2]), 1, 1e-12);
}

TEST(OrbitCamera, AzimuthAndZoomStepsScaleWithMotionScale) {
    OrbitCamera camera(2, 0, 0, kOrigin, kUp, 0.05);
    camera.rotateAzimuth(10);  // 0.5 rad
    EXPECT_NEAR(camera.azimuth, 0.5, 1e-15);
    expectPoint(camera.eye, 2 * cos(0.5), 0, -2 * sin(0.5), "after azimuth step");
    camera.zoom(4);  // radius 2 - 0.2
    EXPECT_NEAR(camera.radius, 1.8, 1e-15);
    camera.zoom(-4);
    EXPECT_NEAR(camera.radius, 2.0, 1e-15);
}

TEST(OrbitCamera, ZoomPastTheFocusStopsAtMotionScale) {
    OrbitCamera camera(1, 0.3, 0.2, kOrigin, kUp, 0.05);
    camera.zoom(1 / 0.05 + 7);  // would reach -0.35
    EXPECT_EQ(camera.radius, 0.05);
    camera.zoom(0.05 / 0.05 * 1.0);  // exactly 0
    EXPECT_EQ(camera.radius, 0.05);
    OrbitCamera negativeScale(1, 0, 0, kOrigin, kUp, -0.05);
    negativeScale.zoom(-100);
    EXPECT_EQ(negativeScale.radius, 0.05);
}

TEST(OrbitCamera, RestoreBringsBackTheSavedEye) {
    OrbitCamera camera(1.8, -1.04, 0.25, kOrigin, kUp, 0.05);
    const double before[3] = {camera.eye[0], camera.eye[1], camera.eye[2]};
    camera.saveState();
    camera.rotateAzimuth(3);
    camera.rotateElevation(-2);
    camera.zoom(5);
    EXPECT_GT(fabs(camera.eye[0] - before[0]) + fabs(camera.eye[1] - before[1]), 0.1);
    camera.restoreState();
    expectPoint(camera.eye, before[0], before[1], before[2], "restored eye");
    EXPECT_EQ(camera.radius, 1.8);
}

TEST(OrbitCamera, PublishesEyeAndEarsWheneverItMoves) {
    OrbitCamera camera(1, 0, 0, kOrigin, kUp, 0.05);
    ListenerPoints p = publishedListener.load();
    expectPoint(p.eye, 1, 0, 0, "published at construction");
    expectPoint(p.leftEar, 1, 0, 0.1, "left ear, separation 0.2");
    expectPoint(p.rightEar, 1, 0, -0.1, "right ear");
    camera.rotateAzimuth(M_PI / 2 / 0.05);
    p = publishedListener.load();
    expectPoint(p.eye, 0, 0, -1, "after rotateAzimuth");
    expectPoint(p.leftEar, 0.1, 0, -1, "left ear after rotateAzimuth");
    camera.saveState();
    camera.zoom(0.5 / 0.05);
    expectPoint(publishedListener.load().eye, 0, 0, -0.5, "after zoom");
    camera.rotateElevation(M_PI / 6 / 0.05);
    expectPoint(publishedListener.load().eye, camera.eye[0], camera.eye[1], camera.eye[2],
                "after rotateElevation");
    camera.restoreState();
    expectPoint(publishedListener.load().eye, 0, 0, -1, "after restoreState");
}

TEST(OrbitCamera, AudioThreadSeesOnlyWholeListeners) {
    // A reader stands in for the audio callback while the GUI thread drags the camera around:
    // every listener it takes has its ears 0.2 apart, centred on the eye, across the view.
    OrbitCamera camera(1.2, -1.2, 0.35, kOrigin, kUp, 0.05);
    std::atomic<bool> done{false};
    std::atomic<long> torn{0};
    std::thread audio([&] {
        do {
            const ListenerPoints p = publishedListener.load();
            const double across[3] = {p.rightEar[0] - p.leftEar[0], p.rightEar[1] - p.leftEar[1],
                                      p.rightEar[2] - p.leftEar[2]};
            bool whole = fabs(sqrt(across[0] * across[0] + across[2] * across[2]) - 0.2) < 1e-12 &&
                         across[1] == 0 && fabs(across[0] * p.eye[0] + across[2] * p.eye[2]) < 1e-9;
            for (int k = 0; k < 3; ++k) {
                whole = whole && fabs((p.leftEar[k] + p.rightEar[k]) / 2 - p.eye[k]) < 1e-12;
            }
            if (!whole) torn++;
        } while (!done.load());
    });
    std::mt19937 random(1);
    std::uniform_real_distribution<double> step(-3, 3);
    for (int i = 0; i < 30000; ++i) {
        camera.saveState();
        camera.rotateAzimuth(step(random));
        camera.rotateElevation(step(random));
        if (i % 3 == 0) camera.zoom(step(random) * 0.1);
        if (i % 7 == 0) camera.restoreState();
    }
    done = true;
    audio.join();
    EXPECT_EQ(torn.load(), 0);
}
