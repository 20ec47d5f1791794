// The panel's two actions on the resonator bank: silencing everything, and changing the
// Rayleigh damping with its roll-back when a mode would not stay underdamped.
#include "ui/control_panel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

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

// The damping ratios the refusal messages print ("Error: ksi = %G >= 1 ...", one per refusing
// mode, in mode order).
std::vector<double> printedRatios(const std::string& printed) {
    std::vector<double> ratios;
    const std::string prefix = "Error: ksi = ";
    for (size_t at = printed.find(prefix); at != std::string::npos;
         at = printed.find(prefix, at + 1)) {
        ratios.push_back(std::stod(printed.substr(at + prefix.size())));
    }
    return ratios;
}

// Stiffness-proportional damping grows as beta omega^2, so its ratio xi = (alpha + beta omega^2) /
// (2 omega) passes 1 at the highest mode first: as beta grows, the refusing modes are always the
// highest ones, 5000 Hz alone, then 1000 Hz with it, and the 100 Hz mode last.
TEST_F(BankFixture, LargeStiffnessDampingIsRefusedByTheHighestModesFirst) {
    const double dampingBefore[3] = {resonators[0]->damping, resonators[1]->damping,
                                     resonators[2]->damping};
    int lastRefused = 0;
    bool sawOnlyTheTop = false, sawTheTopTwo = false;
    for (double beta = 1e-5; beta < 1e-2; beta *= 1.25) {
        stiffnessDamping = static_cast<float>(beta);
        const double b = static_cast<double>(stiffnessDamping);
        const std::vector<double> printed = printedRatios(apply(kStiffnessProportional));
        const int refused = static_cast<int>(printed.size());
        SCOPED_TRACE("beta " + std::to_string(b) + ", " + std::to_string(refused) + " refused");
        // The messages are those of modes 3 - refused .. 2: the top of the spectrum.
        for (int k = 0; k < refused; ++k) {
            const double omega = modeOmega[3 - refused + k];
            const double xi = (8.0 + b * omega * omega) / (2.0 * omega);
            EXPECT_NEAR(printed[k], xi, 1e-5 * xi) << "message " << k;
            EXPECT_GE(xi, 1.0);
        }
        // Every mode below them stays underdamped at this beta.
        for (int i = 0; i < 3 - refused; ++i) {
            EXPECT_LT((8.0 + b * modeOmega[i] * modeOmega[i]) / (2.0 * modeOmega[i]), 1.0) << i;
        }
        EXPECT_GE(refused, lastRefused);  // a refusing mode stays refused as beta grows
        lastRefused = refused;
        sawOnlyTheTop |= refused == 1;
        sawTheTopTwo |= refused == 2;
        // Any refusal rolls the coefficient back in every mode.
        if (refused > 0) {
            EXPECT_EQ(stiffnessDamping, 7e-6f);
            for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(resonators[i]->damping, dampingBefore[i]);
        } else {
            for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(resonators[i]->damping, rayleigh(i));
            stiffnessDamping = 7e-6f;  // back to the chair's value for the next step
            apply(kStiffnessProportional);
        }
    }
    EXPECT_TRUE(sawOnlyTheTop);
    EXPECT_TRUE(sawTheTopTwo);
    EXPECT_EQ(lastRefused, 3);
}
