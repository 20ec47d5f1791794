// Strikes of the window without a display: a strike reaches the modes at the panel's magnitude
// and shows the impact marker; the repeat key strikes the stored vertex again.
#include "ui/picking.h"

#include <gtest/gtest.h>

#include <vector>

#include "app/scene_loading.h"
#include "geometry/mode_shape_matrix.h"
#include "sound/synthesis_state.h"

namespace {

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
        allocateModeArrays(0);
    }
};

}  // namespace

TEST_F(StrikeFixture, StrikeUsesThePanelsMagnitudeAndShowsTheMarker) {
    const double d[3] = {0.6, 0.8, 0.0};
    strikeVertex(0, d, 0.0);
    EXPECT_DOUBLE_EQ(pendingModalForce[0], 1.2);
    EXPECT_DOUBLE_EQ(pendingModalForce[1], 1.6);
    EXPECT_EQ(pendingModalForce[2], 0.0);
    EXPECT_TRUE(impactMarkerOn);
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

TEST_F(StrikeFixture, StrikeOnAVertexWithoutModalDataStillShowsTheMarker) {
    const double x[3] = {1.0, 0.0, 0.0};
    strikeVertex(2, x, 0.0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(pendingModalForce[i], 0.0);
    EXPECT_TRUE(impactMarkerOn);
}
