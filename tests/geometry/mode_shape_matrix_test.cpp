// The mode-shape matrix turns a point force into modal forces: q_j = u_j(v) . F.
#include "geometry/mode_shape_matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// Three vertices, two modes. Mode 0 moves vertex v along (v + 1) * (1, 2, 2) / 3, a direction of
// length v + 1; mode 1 moves every vertex rigidly along z. Stored column-major: row 3v + k.
std::vector<double> twoModesThreeVertices() {
    std::vector<double> u(9 * 2);
    for (int v = 0; v < 3; ++v) {
        u[3 * v + 0] = (v + 1) * 1.0 / 3.0;
        u[3 * v + 1] = (v + 1) * 2.0 / 3.0;
        u[3 * v + 2] = (v + 1) * 2.0 / 3.0;
        u[9 + 3 * v + 2] = 1.0;
    }
    return u;
}

}  // namespace

TEST(ModeShapeMatrix, CopiesTheElementsItIsGiven) {
    std::vector<double> u = twoModesThreeVertices();
    ModeShapeMatrix shapes(3, 2, u.data());
    u.assign(u.size(), -1.0);  // the caller's block is released right after construction
    EXPECT_EQ(shapes.vertexCount, 3);
    EXPECT_EQ(shapes.modeCount, 2);
    EXPECT_DOUBLE_EQ(shapes.values[(2 + 0 * 3) * 3 + 1], 3 * 2.0 / 3.0);
    EXPECT_DOUBLE_EQ(shapes.values[(1 + 1 * 3) * 3 + 2], 1.0);
}

TEST(ModeShapeMatrix, ForceAlongTheModeGivesItsFullLength) {
    const std::vector<double> u = twoModesThreeVertices();
    ModeShapeMatrix shapes(3, 2, u.data());
    double q[2] = {0, 0};
    // A unit force along mode 0's direction at vertex 2 (displacement length 3).
    EXPECT_EQ(shapes.addPointForce(2, 1.0 / 3.0, 2.0 / 3.0, 2.0 / 3.0, q), 2);
    EXPECT_NEAR(q[0], 3.0, 1e-15);
    EXPECT_NEAR(q[1], 2.0 / 3.0, 1e-15);

    // A force perpendicular to both modes at that vertex excites neither.
    double r[2] = {0, 0};
    shapes.addPointForce(2, 2.0, -1.0, 0.0, r);
    EXPECT_NEAR(r[0], 0.0, 1e-15);
    EXPECT_EQ(r[1], 0.0);
}

TEST(ModeShapeMatrix, ForcesAccumulateAndZeroForceChangesNothing) {
    const std::vector<double> u = twoModesThreeVertices();
    ModeShapeMatrix shapes(3, 2, u.data());
    double q[2] = {0.25, -4.0};
    shapes.addPointForce(1, 0.0, 0.0, 0.0, q);
    EXPECT_EQ(q[0], 0.25);
    EXPECT_EQ(q[1], -4.0);

    // Twice the same push at vertex 0 adds its projection twice: 2 * (u . F) on top of what was
    // there. u_0(0) = (1, 2, 2) / 3, F = (3, 0, 0): u . F = 1; u_1(0) . F = 0 - along z only.
    shapes.addPointForce(0, 3.0, 0.0, 0.0, q);
    shapes.addPointForce(0, 3.0, 0.0, 0.0, q);
    EXPECT_NEAR(q[0], 0.25 + 2.0, 1e-15);
    EXPECT_EQ(q[1], -4.0);
}

TEST(ModeShapeMatrix, EmptyMatrixTouchesNothing) {
    ModeShapeMatrix shapes(0, 0, nullptr);
    double sentinel = 7.0;
    EXPECT_EQ(shapes.addPointForce(0, 1, 1, 1, &sentinel), 0);
    EXPECT_EQ(sentinel, 7.0);
}
