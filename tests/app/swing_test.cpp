// The bell's swing against its closed forms: the pose at rest and a quarter turn, the pivot that
// never moves, worldToObject inverting the pose, the impulse of one push, the velocity clamp,
// the clamped frame interval, and the pose the audio thread sees.
#include "app/swing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <random>
#include <string>
#include <thread>

#include "app/scene_objects.h"
#include "geometry/object_pose.h"
#include "tests/support/temp_dir.h"

namespace {

// Every test starts from rest, at the rest pose.
class Swing : public testing::Test {
  protected:
    void SetUp() override {
        swingAngle = swingVelocity = swingImpulse = 0;
        computeSwingPose(0, objectTranslation, objectRotation);
    }
    void TearDown() override { SetUp(); }
};

void expectVector(const double* v, double x, double y, double z, const char* what) {
    EXPECT_NEAR(v[0], x, 1e-12) << what;
    EXPECT_NEAR(v[1], y, 1e-12) << what;
    EXPECT_NEAR(v[2], z, 1e-12) << what;
}

void applyPose(const double T[3], const double R[9], const double p[3], double out[3]) {
    for (int i = 0; i < 3; ++i)
        out[i] = R[3 * i] * p[0] + R[3 * i + 1] * p[1] + R[3 * i + 2] * p[2] + T[i];
}

}  // namespace

TEST_F(Swing, RestPoseIsTheUnitLift) {
    double T[3], R[9];
    computeSwingPose(0, T, R);
    expectVector(T, 0, 1, 0, "translation at rest");
    const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(R[i], identity[i]) << i;
}

TEST_F(Swing, QuarterTurnTurnsTheObjectsYAxisOntoWorldZ) {
    double T[3], R[9];
    computeSwingPose(M_PI / 2, T, R);
    expectVector(T, 0, 1.308643, -0.308643, "translation at pi/2");
    const double yAxis[3] = {R[1], R[4], R[7]};  // R * (0, 1, 0)
    expectVector(yAxis, 0, 0, 1, "object y axis");
}

TEST_F(Swing, PivotStaysOnTheAxisAtEveryAngle) {
    for (double angle = -7; angle <= 7; angle += 0.37) {
        double T[3], R[9], pivot[3];
        computeSwingPose(angle, T, R);
        const double p[3] = {0, 0.308643, 0};
        applyPose(T, R, p, pivot);
        expectVector(pivot, 0, 1.308643, 0, "pivot");
        // R is a rotation: orthonormal columns, determinant 1.
        const double det = R[0] * (R[4] * R[8] - R[5] * R[7]) - R[1] * (R[3] * R[8] - R[5] * R[6]) +
                           R[2] * (R[3] * R[7] - R[4] * R[6]);
        EXPECT_NEAR(det, 1, 1e-12);
    }
}

TEST_F(Swing, WorldToObjectInvertsThePose) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> uniform(-3, 3);
    for (int i = 0; i < 50; ++i) {
        computeSwingPose(uniform(random), objectTranslation, objectRotation);
        const double p[3] = {uniform(random), uniform(random), uniform(random)};
        double q[3], back[3];
        applyPose(objectTranslation, objectRotation, p, q);
        worldToObject(q[0], q[1], q[2], &back[0], &back[1], &back[2]);
        expectVector(back, p[0], p[1], p[2], "worldToObject(R p + T)");
        // The published pose is the same pose.
        const ObjectPose published = publishedObjectPose.load();
        double viaPublished[3];
        worldToObject(published, q, viaPublished);
        expectVector(viaPublished, p[0], p[1], p[2], "published pose");
    }
}

TEST_F(Swing, OnePushAtRestGivesFiveRadiansPerSecond) {
    pushSwing();
    EXPECT_EQ(swingImpulse, 150);
    const double dt = 1.0 / 60;
    swingStep(dt, 1 / dt);
    // The angle moved with the old velocity (0); the velocity took the impulse / 30 at once.
    EXPECT_EQ(swingAngle, 0);
    EXPECT_NEAR(swingVelocity, 5.0, 1e-12);
    EXPECT_EQ(swingImpulse, 0);
    swingStep(dt, 1 / dt);
    EXPECT_NEAR(swingAngle, 5.0 * dt, 1e-15);
    // The pose follows the angle and reaches the audio thread.
    const ObjectPose published = publishedObjectPose.load();
    EXPECT_NEAR(published.rotation[7], sin(swingAngle), 1e-15);
    EXPECT_NEAR(published.translation[2], -0.308643 * sin(swingAngle), 1e-15);
}

TEST_F(Swing, SwingDecaysAtItsDampingRate) {
    // A small swing of the damped pendulum theta'' = -0.2 theta' - k theta decays like
    // exp(-0.1 t); the semi-implicit step keeps that rate at a small time step.
    swingVelocity = 0.01;
    const double dt = 1e-3;
    double peakEarly = 0, peakLate = 0;
    for (int i = 0; i < 20000; ++i) {
        swingStep(dt, 1 / dt);
        if (i < 2000) peakEarly = std::max(peakEarly, fabs(swingAngle));
        if (i >= 18000) peakLate = std::max(peakLate, fabs(swingAngle));
    }
    // About 18 s apart (the swing's period is 1.33 s, so each window holds a peak).
    EXPECT_NEAR(peakLate / peakEarly, exp(-0.1 * 18), 0.02);
}

TEST_F(Swing, PushesPushTheWayTheBellMoves) {
    swingVelocity = -2;
    pushSwing();
    EXPECT_EQ(swingImpulse, -150);
    swingImpulse = 0;
    swingVelocity = 19;
    pushSwing();
    EXPECT_EQ(swingImpulse, 0);  // faster than the limit: ignored
}

TEST_F(Swing, VelocityIsClampedAtThreeTurnsPerSecond) {
    const double dt = 1.0 / 100;
    for (int i = 0; i < 6; ++i) pushSwing();
    swingStep(dt, 1 / dt);
    EXPECT_EQ(swingVelocity, 18.849539999999998);
    // A press exactly at the limit is accepted and then clamped away.
    pushSwing();
    EXPECT_EQ(swingImpulse, 150);
    swingStep(dt, 1 / dt);
    EXPECT_EQ(swingVelocity, 18.849539999999998);
    swingVelocity = -30;
    swingStep(dt, 1 / dt);
    EXPECT_EQ(swingVelocity, -18.849539999999998);
}

TEST_F(Swing, LongFrameAdvancesOneSecondAtMost) {
    swingVelocity = 0.5;
    swingStep(5.0, 1 / 5.0);
    EXPECT_NEAR(swingAngle, 0.5, 1e-15);  // 0.5 rad/s for one second, not five
    const double expected = 0.5 + 1.0 * (-0.2 * 0.5 - 22.206609902451014 * sin(0.5));
    EXPECT_NEAR(swingVelocity, expected, 1e-12);
}

TEST_F(Swing, ZeroIntervalChangesNothingAndKeepsTheImpulse) {
    pushSwing();
    swingStep(0, INFINITY);
    EXPECT_EQ(swingVelocity, 0);
    EXPECT_EQ(swingImpulse, 150);
    swingStep(0.01, 100);
    EXPECT_NEAR(swingVelocity, 5, 1e-12);
}

TEST_F(Swing, RestPoseIsPublishedAndTheIdentityElsewhere) {
    const ObjectPose rest = publishedObjectPose.load();
    expectVector(rest.translation, 0, 1, 0, "published rest pose");
    // With the identity pose (chair and dragon), worldToObject changes nothing.
    const double T[3] = {0, 0, 0}, R[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    for (int i = 0; i < 3; ++i) objectTranslation[i] = T[i];
    for (int i = 0; i < 9; ++i) objectRotation[i] = R[i];
    double u[3];
    worldToObject(0.3, -1.2, 4.5, &u[0], &u[1], &u[2]);
    expectVector(u, 0.3, -1.2, 4.5, "identity");
}

TEST_F(Swing, PoseReachesTheBellAndYokesButNotTheSupports) {
    TempDir dir;
    const std::string mesh = dir.write("part.obj", "v 0 0.308643 0\nv 1 0 0\nv 0 0 1\nf 1 2 3\n");
    testing::internal::CaptureStdout();
    SceneObject bell(mesh.c_str()), wood(mesh.c_str()), metal(mesh.c_str()), supports(mesh.c_str());
    testing::internal::GetCapturedStdout();
    mainObject = &bell;
    yokeWoodObject = &wood;
    yokeMetalObject = &metal;
    supportsObject = &supports;
    supports.setPose(objectTranslation, objectRotation);

    swingVelocity = 3;
    swingStep(0.25, 4);
    applyPoseToObjects();
    for (SceneObject* part : {&bell, &wood, &metal}) {
        for (int i = 0; i < 3; ++i) EXPECT_EQ(part->position[i], objectTranslation[i]);
        for (int i = 0; i < 9; ++i) EXPECT_EQ(part->rotation[i], objectRotation[i]);
        // The pivot vertex stays on the axis while the others swing (to the single precision
        // of the mesh's vertices).
        double x, y, z;
        part->vertexWorldPosition(0, &x, &y, &z);
        EXPECT_NEAR(y, 1.308643, 1e-7);
        EXPECT_NEAR(z, 0, 1e-7);
        part->vertexWorldPosition(2, &x, &y, &z);
        EXPECT_NEAR(z, cos(swingAngle) - 0.308643 * sin(swingAngle), 1e-12);
    }
    EXPECT_EQ(supports.position[1], 1.0);  // still the rest pose
    EXPECT_EQ(supports.rotation[4], 1.0);
    mainObject = yokeWoodObject = yokeMetalObject = supportsObject = nullptr;
}

TEST_F(Swing, AudioThreadSeesOnlyWholePoses) {
    // A reader stands in for the audio callback: every pose it takes must be one computed pose,
    // T and R of the same angle, however the loads interleave with the GUI thread's steps.
    std::atomic<bool> done{false};
    std::atomic<long> torn{0};
    std::thread audio([&] {
        do {
            const ObjectPose p = publishedObjectPose.load();
            const double c = p.rotation[4], s = p.rotation[7];
            const bool whole = fabs(p.translation[1] - (1.308643 - 0.308643 * c)) < 1e-12 &&
                               fabs(p.translation[2] + 0.308643 * s) < 1e-12 &&
                               p.rotation[5] == -s && p.rotation[8] == c &&
                               fabs(c * c + s * s - 1) < 1e-12;
            if (!whole) torn++;
        } while (!done.load());
    });
    swingVelocity = 12;
    for (int i = 0; i < 100000; ++i) {
        if (i % 1000 == 0) pushSwing();
        swingStep(1e-3, 1e3);
    }
    done = true;
    audio.join();
    EXPECT_EQ(torn.load(), 0);
}
