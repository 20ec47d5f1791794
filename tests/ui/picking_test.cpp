// Strikes without a window: the nearest-vertex search and how an impact reaches the modes.
#include "ui/picking.h"

#include <gtest/gtest.h>

#include <vector>

#include "app/scene_loading.h"
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
struct StrikeFixture : testing::Test {
    void SetUp() override {
        allocateModeArrays(3);
        const std::vector<double> U = {1, 0, 0, 1, 0, 0,   // mode 0
                                       0, 1, 0, 1, 0, 0,   // mode 1
                                       0, 0, 1, 1, 0, 0};  // mode 2
        modeShapes = new ModeShapeMatrix(2, 3, U.data());
        impactMagnitude = 2.0f;
        impactMarkerOn = false;
        lastImpact = LastImpact{0, {0, 0, 0}, 0};
    }
    void TearDown() override {
        delete modeShapes;
        modeShapes = nullptr;
    }
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

TEST_F(StrikeFixture, ImpactProjectsTheScaledForceOntoTheActiveModesOnly) {
    activeModeCount = 2;
    // A unit direction (0.6, 0.8, 0) at vertex 0 with magnitude 2: modal forces 1.2, 1.6, and
    // mode 2 is inactive.
    applyImpact(0, 0.6, 0.8, 0.0, 0.0);
    EXPECT_DOUBLE_EQ(pendingModalForce[0], 1.2);
    EXPECT_DOUBLE_EQ(pendingModalForce[1], 1.6);
    EXPECT_EQ(pendingModalForce[2], 0.0);
    EXPECT_TRUE(impactMarkerOn);

    // A second strike before the audio thread takes the buffer adds up.
    applyImpact(1, 1.0, 0.0, 0.0, 0.0);
    EXPECT_DOUBLE_EQ(pendingModalForce[0], 3.2);
    EXPECT_DOUBLE_EQ(pendingModalForce[1], 3.6);
    EXPECT_EQ(pendingModalForce[2], 0.0);
    EXPECT_EQ(activeModalForce[0], 0.0);  // only the pending buffer is touched
}

TEST_F(StrikeFixture, RepeatBeforeAnyStrikeShowsTheMarkerWithoutForce) {
    repeatLastImpact();
    EXPECT_TRUE(impactMarkerOn);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(pendingModalForce[i], 0.0);
}

TEST_F(StrikeFixture, RepeatUsesTheStoredStrikeAtTheCurrentMagnitude) {
    lastImpact = LastImpact{1, {1.0, 0.0, 0.0}, 0.0};
    impactMagnitude = 0.5f;
    repeatLastImpact();
    for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(pendingModalForce[i], 0.5);
}

TEST_F(StrikeFixture, VertexWithoutModalDataStaysSilent) {
    // A mesh with more vertices than the mode-shape matrix (mismatched files) must not read
    // past the matrix.
    applyImpact(2, 1.0, 0.0, 0.0, 0.0);
    applyImpact(-1, 1.0, 0.0, 0.0, 0.0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(pendingModalForce[i], 0.0);
    EXPECT_TRUE(impactMarkerOn);
}
