// The panel's two actions on the resonator bank: silencing everything, and changing the
// Rayleigh damping with its roll-back when a mode would not stay underdamped.
#include "ui/control_panel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "app/scene_loading.h"
#include "sound/modal_resonator.h"
#include "sound/synthesis_state.h"

namespace {

// The chair's damping on three modes of 100, 1000 and 5000 Hz.
struct BankFixture : testing::Test {
    void SetUp() override {
        allocateModeArrays(3);
        const double hz[3] = {100.0, 1000.0, 5000.0};
        for (int i = 0; i < 3; ++i) {
            modeOmega[i] = hz[i] * twoPi;
            modeStiffness[i] = modeOmega[i] * modeOmega[i];
        }
        massDamping = previousMassDamping = 8.0f;
        stiffnessDamping = previousStiffnessDamping = 7e-6f;
        createResonators(massDamping, stiffnessDamping);
    }
    static double rayleigh(int i) {
        return static_cast<double>(stiffnessDamping) * modeStiffness[i] +
               static_cast<double>(massDamping);
    }
    // Applies a damping change and returns what it printed.
    static std::string apply(DampingCoefficient which) {
        testing::internal::CaptureStdout();
        applyDamping(which);
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }
};

}  // namespace

TEST_F(BankFixture, SilenceStopsEveryModeAndDropsPendingStrikes) {
    for (int i = 0; i < 3; ++i) {
        resonators[i]->force = 1.0;
        for (int n = 0; n < 20; ++n) resonators[i]->advance();
        activeModalForce[i] = 2.0;
        pendingModalForce[i] = 3.0;
    }
    silenceAllModes();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(resonators[i]->displacement, 0.0);
        EXPECT_EQ(resonators[i]->velocity, 0.0);
        EXPECT_EQ(resonators[i]->stateReal, 0.0);
        EXPECT_EQ(activeModalForce[i], 0.0);
        EXPECT_EQ(pendingModalForce[i], 0.0);
    }
}

TEST_F(BankFixture, AcceptedDampingReachesEveryMode) {
    massDamping = 20.0f;
    EXPECT_EQ(apply(kMassProportional), "");
    EXPECT_EQ(previousMassDamping, 20.0f);
    for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(resonators[i]->damping, rayleigh(i));
}

TEST_F(BankFixture, NegativeEntryKeepsThePreviousValue) {
    stiffnessDamping = -1.0f;
    EXPECT_EQ(apply(kStiffnessProportional), "");
    EXPECT_EQ(stiffnessDamping, 7e-6f);
    for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(resonators[i]->damping, rayleigh(i));
}

TEST_F(BankFixture, OverdampingEntryIsRolledBackInEveryMode) {
    // xi = c / (2 omega): alpha = 2000 leaves the 100 Hz mode (omega 628) overdamped, the two
    // higher modes underdamped.
    const double dampingBefore[3] = {resonators[0]->damping, resonators[1]->damping,
                                     resonators[2]->damping};
    massDamping = 2000.0f;
    const std::string printed = apply(kMassProportional);
    EXPECT_EQ(printed.rfind("Error: ksi = ", 0), 0u) << printed;
    EXPECT_NE(printed.find(" >= 1 . The IIR filter only supports underdamped systems.\n"),
              std::string::npos);
    EXPECT_EQ(printed.find("Error", 1), std::string::npos) << "one message, one refusing mode";
    EXPECT_EQ(massDamping, 8.0f);
    EXPECT_EQ(previousMassDamping, 8.0f);
    for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(resonators[i]->damping, dampingBefore[i]);
}

TEST_F(BankFixture, LargeStiffnessDampingIsRefusedByTheHighestModesFirst) {
    // beta omega / 2 >= 1 first for 5000 Hz: beta = 1e-4 gives xi = 1.57 there, 0.31 at
    // 1000 Hz.
    stiffnessDamping = 1e-4f;
    const std::string printed = apply(kStiffnessProportional);
    EXPECT_EQ(printed.find("Error: ksi = "), 0u) << printed;
    EXPECT_EQ(stiffnessDamping, 7e-6f);
    EXPECT_DOUBLE_EQ(resonators[1]->damping, rayleigh(1));
    EXPECT_DOUBLE_EQ(resonators[2]->damping, rayleigh(2));
}
