// The strike without a window: the nearest-vertex search, the projection of a point force on the
// mode shapes, and how an impact reaches the pending forces of the modes being synthesised.
#include "sound/impact.h"

#include <gtest/gtest.h>

#include <vector>

#include "geometry/mode_shape_matrix.h"
#include "geometry/obj_model.h"
#include "sound/synthesis_state.h"

namespace {

// A model holding just the given vertices (1-based in `vertices`, as the reader stores them).
struct PointCloud {
    explicit PointCloud(const std::vector<float>& xyz) : storage(3 + xyz.size()) {
        std::copy(xyz.begin(), xyz.end(), storage.begin() + 3);
        model.vertexCount = static_cast<uint32_t>(xyz.size() / 3);
        model.vertices = storage.data();
    }
    std::vector<float> storage;
    ObjModel model{};
};

// Two vertices, three modes: vertex 0 moves along x in mode 0, along y in mode 1, along z in
// mode 2; vertex 1 moves along x in every mode.
std::vector<double> twoVerticesThreeModes() {
    return {1, 0, 0, 1, 0, 0,   // mode 0
            0, 1, 0, 1, 0, 0,   // mode 1
            0, 0, 1, 1, 0, 0};  // mode 2
}

struct ImpactFixture : testing::Test {
    void SetUp() override { allocateModeArrays(3); }
    void TearDown() override { allocateModeArrays(0); }
    const std::vector<double> U = twoVerticesThreeModes();
    ModeShapeMatrix shapes{2, 3, U.data()};
};

}  // namespace

TEST(FindNearestVertex, TiesGoToTheLowestIndex) {
    PointCloud cloud({1, 0, 0, -1, 0, 0, 0, 1, 0, 1, 0, 0});
    EXPECT_EQ(findNearestVertex(cloud.model, 0.0, 0.0, 0.0), 0);  // 0, 1, 2, 3 all at 1
    EXPECT_EQ(findNearestVertex(cloud.model, 0.9, 0.0, 0.0), 0);  // 0 and 3 coincide
    EXPECT_EQ(findNearestVertex(cloud.model, -0.2, 0.1, 0.0), 1);
    EXPECT_EQ(findNearestVertex(cloud.model, 0.0, 5.0, 0.0), 2);
}

TEST(FindNearestVertex, EmptyMeshGivesVertexZero) {
    PointCloud empty({});
    EXPECT_EQ(findNearestVertex(empty.model, 1.0, 2.0, 3.0), 0);
}

// q_j = u_j(v) . (M d): a strike along a mode's own direction of motion at a vertex drives that
// mode with the full magnitude and leaves a mode that moves the vertex at right angles alone.
TEST(ModalImpactForces, ProjectsTheForceOnEachModesMotionAtTheVertex) {
    const std::vector<double> U = twoVerticesThreeModes();
    const ModeShapeMatrix shapes(2, 3, U.data());
    const double alongY[3] = {0.0, 1.0, 0.0};
    double q[3] = {0.0, 0.0, 0.0};
    EXPECT_TRUE(modalImpactForces(shapes, 0, alongY, 2.5, q));
    EXPECT_EQ(q[0], 0.0);
    EXPECT_EQ(q[1], 2.5);
    EXPECT_EQ(q[2], 0.0);
    // A unit direction at 60 degrees from x in the x-z plane: cos 60 and sin 60 of the magnitude.
    const double slanted[3] = {0.5, 0.0, 0.8660254037844386};
    double r[3] = {0.0, 0.0, 0.0};
    modalImpactForces(shapes, 0, slanted, 4.0, r);
    EXPECT_DOUBLE_EQ(r[0], 2.0);
    EXPECT_EQ(r[1], 0.0);
    EXPECT_DOUBLE_EQ(r[2], 4.0 * 0.8660254037844386);
}

// The forces add to what the buffer holds, and a strike is linear in its magnitude: two strikes
// of M are one of 2M.
TEST(ModalImpactForces, AddsToTheBufferLinearlyInTheMagnitude) {
    const std::vector<double> U = twoVerticesThreeModes();
    const ModeShapeMatrix shapes(2, 3, U.data());
    const double d[3] = {0.6, 0.0, -0.8};
    double twice[3] = {1.0, 2.0, 3.0}, once[3] = {1.0, 2.0, 3.0};
    modalImpactForces(shapes, 1, d, 1.5, twice);
    modalImpactForces(shapes, 1, d, 1.5, twice);
    modalImpactForces(shapes, 1, d, 3.0, once);
    for (int j = 0; j < 3; ++j) {
        EXPECT_DOUBLE_EQ(twice[j], once[j]) << j;
        EXPECT_DOUBLE_EQ(once[j], (j + 1) + 3.0 * 0.6) << j;  // vertex 1 moves along x in all
    }
}

TEST(ModalImpactForces, VertexWithoutModalDataAddsNothing) {
    const std::vector<double> U = twoVerticesThreeModes();
    const ModeShapeMatrix shapes(2, 3, U.data());
    const double d[3] = {1.0, 0.0, 0.0};
    double q[3] = {0.5, 0.5, 0.5};
    EXPECT_FALSE(modalImpactForces(shapes, 2, d, 1.0, q));
    EXPECT_FALSE(modalImpactForces(shapes, -1, d, 1.0, q));
    for (double f : q) EXPECT_EQ(f, 0.5);
}

TEST_F(ImpactFixture, ImpactReachesThePendingForcesOfTheActiveModesOnly) {
    activeModeCount = 2;
    // A unit direction (0.6, 0.8, 0) at vertex 0 with magnitude 2: modal forces 1.2, 1.6, and
    // mode 2 is inactive.
    const double d[3] = {0.6, 0.8, 0.0};
    applyImpact(shapes, 0, d, 2.0);
    EXPECT_DOUBLE_EQ(pendingModalForce[0], 1.2);
    EXPECT_DOUBLE_EQ(pendingModalForce[1], 1.6);
    EXPECT_EQ(pendingModalForce[2], 0.0);

    // A second strike before the audio thread takes the buffer adds up.
    const double x[3] = {1.0, 0.0, 0.0};
    applyImpact(shapes, 1, x, 2.0);
    EXPECT_DOUBLE_EQ(pendingModalForce[0], 3.2);
    EXPECT_DOUBLE_EQ(pendingModalForce[1], 3.6);
    EXPECT_EQ(pendingModalForce[2], 0.0);
    EXPECT_EQ(activeModalForce[0], 0.0);  // only the pending buffer is touched
}

TEST_F(ImpactFixture, VertexWithoutModalDataStaysSilent) {
    // A mesh with more vertices than the mode-shape matrix (mismatched files) must not read
    // past the matrix.
    const double x[3] = {1.0, 0.0, 0.0};
    applyImpact(shapes, 2, x, 1.0);
    applyImpact(shapes, -1, x, 1.0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(pendingModalForce[i], 0.0);
}
