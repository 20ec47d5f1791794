// Scene objects without a window: loading lines, rest positions, world positions under a pose,
// the OpenGL pose matrix and the planar shadow matrix against their closed forms.
#include "geometry/scene_object.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "tests/support/temp_dir.h"

namespace {

// Column-major 4 x 4 matrix times (x, y, z, w).
void transform(const double m[16], const double in[4], double out[4]) {
    for (int row = 0; row < 4; ++row) {
        out[row] = 0;
        for (int column = 0; column < 4; ++column) out[row] += m[column * 4 + row] * in[column];
    }
}

const char* const kMesh = "v 0.25 -1.5 2\nv 1 0 0\nv 0 1 0\nv 0 0 1\nf 1 2 3\nf 1 3 4\n";

}  // namespace

TEST(SceneObject, LoadingPrintsItsLinesAndKeepsRestPositions) {
    TempDir dir;
    const std::string name = dir.write("thing.obj", kMesh);
    testing::internal::CaptureStdout();
    SceneObject object(name.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Loading the obj file " + name + " ...\nNum vertices is: 4\n");
    EXPECT_EQ(object.mesh.meshVertexCount, 4);
    EXPECT_EQ(object.mesh.renderMode, 18u);
    EXPECT_FALSE(object.mesh.hasDisplayList);
    // Vertex 0 at the identity pose is the file's first vertex line.
    double x, y, z;
    object.vertexWorldPosition(0, &x, &y, &z);
    EXPECT_EQ(x, 0.25);
    EXPECT_EQ(y, -1.5);
    EXPECT_EQ(z, 2.0);
    EXPECT_EQ(object.restPositions[3 * 3 + 2], 1.0);
}

TEST(SceneObject, WorldPositionAndPoseMatrixAgree) {
    TempDir dir;
    testing::internal::CaptureStdout();
    SceneObject object(dir.write("thing.obj", kMesh).c_str());
    testing::internal::GetCapturedStdout();
    std::mt19937 random(3);
    std::uniform_real_distribution<double> uniform(-2, 2);
    for (int trial = 0; trial < 20; ++trial) {
        // A random rotation about a random axis (Rodrigues), and a random translation.
        double axis[3] = {uniform(random), uniform(random), uniform(random)};
        const double n = sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
        for (double& a : axis) a /= n;
        const double angle = uniform(random), c = cos(angle), s = sin(angle), C = 1 - c;
        const double R[9] = {c + axis[0] * axis[0] * C,
                             axis[0] * axis[1] * C - axis[2] * s,
                             axis[0] * axis[2] * C + axis[1] * s,
                             axis[1] * axis[0] * C + axis[2] * s,
                             c + axis[1] * axis[1] * C,
                             axis[1] * axis[2] * C - axis[0] * s,
                             axis[2] * axis[0] * C - axis[1] * s,
                             axis[2] * axis[1] * C + axis[0] * s,
                             c + axis[2] * axis[2] * C};
        const double t[3] = {uniform(random), uniform(random), uniform(random)};
        object.setPose(t, R);
        double matrix[16];
        object.poseMatrix(matrix);
        EXPECT_EQ(matrix[1], R[3]);  // column-major: second entry is R10
        EXPECT_EQ(matrix[12], t[0]);
        EXPECT_EQ(matrix[15], 1.0);
        for (int v = 0; v < 4; ++v) {
            double world[3];
            object.vertexWorldPosition(v, &world[0], &world[1], &world[2]);
            const double p[4] = {object.restPositions[3 * v], object.restPositions[3 * v + 1],
                                 object.restPositions[3 * v + 2], 1};
            double viaMatrix[4];
            transform(matrix, p, viaMatrix);
            for (int k = 0; k < 3; ++k) EXPECT_NEAR(world[k], viaMatrix[k], 1e-12);
            // A rigid motion keeps the distance from the translated origin.
            const double d = sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
            const double e =
                sqrt((world[0] - t[0]) * (world[0] - t[0]) + (world[1] - t[1]) * (world[1] - t[1]) +
                     (world[2] - t[2]) * (world[2] - t[2]));
            EXPECT_NEAR(d, e, 1e-12);
        }
    }
}

TEST(ShadowMatrix, ProjectsAlongRaysFromThePointLightOntoThePlane) {
    const double ground[4] = {0, 1, 0, 0};
    const double light[4] = {0, 5, 0, 1};
    double S[16];
    shadowMatrix(ground, light, S);
    const double point[4] = {1, 2, 0, 1};
    double shadow[4];
    transform(S, point, shadow);
    EXPECT_NEAR(shadow[0] / shadow[3], 5.0 / 3.0, 1e-15);
    EXPECT_NEAR(shadow[1] / shadow[3], 0, 1e-15);
    EXPECT_NEAR(shadow[2] / shadow[3], 0, 1e-15);

    // Any plane and light: the image lies on the plane and on the line through light and point.
    std::mt19937 random(5);
    std::uniform_real_distribution<double> uniform(-1, 1);
    for (int trial = 0; trial < 50; ++trial) {
        const double plane[4] = {uniform(random), uniform(random), uniform(random),
                                 uniform(random)};
        const double L[4] = {3 * uniform(random), 3 + uniform(random), 3 * uniform(random), 1};
        const double X[4] = {uniform(random), uniform(random), uniform(random), 1};
        shadowMatrix(plane, L, S);
        double Y[4];
        transform(S, X, Y);
        const double y[3] = {Y[0] / Y[3], Y[1] / Y[3], Y[2] / Y[3]};
        EXPECT_NEAR(plane[0] * y[0] + plane[1] * y[1] + plane[2] * y[2] + plane[3], 0, 1e-9);
        // (y - L) parallel to (X - L): their cross product vanishes.
        const double a[3] = {y[0] - L[0], y[1] - L[1], y[2] - L[2]};
        const double b[3] = {X[0] - L[0], X[1] - L[1], X[2] - L[2]};
        const double cross[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2],
                                 a[0] * b[1] - a[1] * b[0]};
        const double scale = sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]) + 1;
        for (double component : cross) EXPECT_NEAR(component / scale, 0, 1e-9);
    }
}

TEST(SceneObjectDeathTest, MissingMeshEndsTheProcessAfterItsLoadingLine) {
    TempDir dir;
    const std::string missing = dir.file("gone.obj");
    EXPECT_EXIT(SceneObject object(missing.c_str()), testing::ExitedWithCode(1),
                "glmReadOBJ\\(\\) failed: can't open data file");
}
