// The exact resonator against the closed-form responses of the damped oscillator
// q'' + 2 xi omega q' + omega^2 q = f (unit mass), the worked example of the chair's defaults, the
// refusal of modes that are not underdamped and the strict flush threshold.
#include "sound/modal_resonator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "app/scene_loading.h"

namespace {

constexpr double kTimeStep = 2.2675736961451248e-05;  // 1/44100 s

// |actual - expected| within `digits` significant digits of expected.
::testing::AssertionResult agreesTo(double actual, double expected, double relative) {
    if (std::fabs(actual - expected) <= relative * std::fabs(expected)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "actual " << actual << " expected " << expected << " (relative difference "
           << std::fabs(actual - expected) / std::fabs(expected) << ")";
}

std::string setDampingOutput(ModalResonator& r, double c, int* result) {
    testing::internal::CaptureStdout();
    *result = r.setDamping(c);
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(ModalResonator, StaysExactlyAtRestWithoutForce) {
    ModalResonator r(1.0, 3.0, 1e8, kTimeStep);
    for (int n = 0; n < 1000; ++n) r.advance();
    EXPECT_EQ(r.displacement, 0.0);
    EXPECT_EQ(r.velocity, 0.0);
    EXPECT_EQ(r.stateReal, 0.0);
}

// Chair defaults (alpha = 8, beta = 7e-6 as floats), a 1000 Hz mode: every derived value to at
// least eight significant digits.
TEST(ModalResonator, WorkedExampleOfTheChairDefaults) {
    const float alpha = 8.0f, beta = 7e-6f;
    const double omega = 1000.0 * twoPi;
    const double k = omega * omega;
    const double c = static_cast<double>(beta) * k + static_cast<double>(alpha);
    ModalResonator r(1.0, c, k, kTimeStep);
    const double digits8 = 5e-8;
    EXPECT_TRUE(agreesTo(r.omega, 6283.18530717958, 1e-15));
    EXPECT_TRUE(agreesTo(r.damping, 284.34893, digits8));
    EXPECT_TRUE(agreesTo(r.dampingRatio, 0.022627769, digits8));
    EXPECT_TRUE(agreesTo(r.dampedOmega, 6281.5766, digits8));
    EXPECT_TRUE(agreesTo(r.poleReal, -0.022627769 * 6283.18530717958, digits8));
    EXPECT_TRUE(agreesTo(r.stepFactor[0], 0.98668653, digits8));
    EXPECT_TRUE(agreesTo(r.stepFactor[1], 0.14150128, digits8));
    EXPECT_TRUE(agreesTo(r.inputFactor[0], 3.5919022e-09, digits8));
    EXPECT_TRUE(agreesTo(r.inputFactor[1], 2.5610935e-10, digits8));
    r.force = 1.0;
    r.advance();
    EXPECT_TRUE(agreesTo(r.displacement, 2.5610935e-10, digits8));
    EXPECT_TRUE(agreesTo(r.velocity, 2.2526397e-05, digits8));
}

// Undamped, force f held from rest: q(t) = f (1 - cos(omega t)) / omega^2, every step exactly on
// the curve (no decay, no drift), with a mean of f/k.
TEST(ModalResonator, UndampedStepResponseIsExact) {
    const double omega = 440.0 * twoPi, k = omega * omega, f = 3.0;
    ModalResonator r(1.0, 0.0, k, kTimeStep);
    r.force = f;
    r.advance();
    EXPECT_TRUE(agreesTo(r.displacement, f * (1.0 - std::cos(omega * kTimeStep)) / k, 1e-9));
    double sum = 0.0;
    const int steps = 44100;  // one second: 440 whole periods
    for (int n = 2; n <= steps; ++n) {
        r.advance();
        const double t = n * kTimeStep;
        ASSERT_NEAR(r.displacement, f * (1.0 - std::cos(omega * t)) / k, 1e-9 * f / k) << n;
        ASSERT_NEAR(r.velocity, f * std::sin(omega * t) / omega, 1e-9 * f / omega) << n;
        sum += r.displacement;
    }
    EXPECT_NEAR(sum / (steps - 1), f / k, 1e-3 * f / k);
}

// Damped step response from rest:
// q(t) = f/k [1 - e^{-xi omega t} (cos(omega_d t) + xi omega / omega_d sin(omega_d t))],
// settling at the static deflection f/k.
TEST(ModalResonator, DampedStepResponseSettlesAtStaticDeflection) {
    for (double scale : {1e-8, 1.0, 1e8}) {  // the same physics at very different force scales
        const double omega = 1200.0 * twoPi, k = omega * omega, xi = 0.05, f = 2.5 * scale;
        ModalResonator r(1.0, 2.0 * xi * omega, k, kTimeStep);
        const double omegaD = omega * std::sqrt(1.0 - xi * xi);
        r.force = f;
        for (int n = 1; n <= 20000; ++n) {
            r.advance();
            const double t = n * kTimeStep;
            const double expected =
                f / k *
                (1.0 - std::exp(-xi * omega * t) *
                           (std::cos(omegaD * t) + xi * omega / omegaD * std::sin(omegaD * t)));
            ASSERT_NEAR(r.displacement, expected, 1e-9 * f / k) << n;
        }
        EXPECT_TRUE(agreesTo(r.displacement, f / k, 1e-9));
        EXPECT_NEAR(r.velocity, 0.0, 1e-9 * f / k * omega);
    }
}

TEST(ModalResonator, RefusesCriticalAndOverdampingAndKeepsEverything) {
    // omega = 2, m = 1: c = 4 gives xi = 1 exactly.
    ModalResonator r(1.0, 0.4, 4.0, 0.01);
    r.force = 1.0;
    for (int n = 0; n < 7; ++n) r.advance();
    ModalResonator before = r;
    int result = -1;
    std::string out = setDampingOutput(r, 4.0, &result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(out, "Error: ksi = 1 >= 1 . The IIR filter only supports underdamped systems.\n");
    EXPECT_EQ(memcmp(&before, &r, sizeof r), 0);
    out = setDampingOutput(r, 10.0, &result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(out, "Error: ksi = 2.5 >= 1 . The IIR filter only supports underdamped systems.\n");
    EXPECT_EQ(memcmp(&before, &r, sizeof r), 0);
    // Just below critical damping is still a resonator.
    out = setDampingOutput(r, 3.999, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(out, "");
}

// A mode of frequency 0 cannot be an underdamped resonator: with damping xi is infinite, without
// it 0/0. Both are refused, and the resonator stays silent under any force.
TEST(ModalResonator, ZeroFrequencyModesAreRefusedAndStaySilent) {
    for (double c : {1.0, 0.0}) {
        testing::internal::CaptureStdout();
        ModalResonator r(1.0, c, 0.0, kTimeStep);
        fflush(stdout);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out.rfind("Error: ksi = ", 0), 0u) << out;
        r.force = 100.0;
        for (int n = 0; n < 100; ++n) r.advance();
        EXPECT_EQ(r.displacement, 0.0);
        EXPECT_EQ(r.velocity, 0.0);
    }
}

// Changing the damping of a ringing mode keeps its displacement and velocity, and the free
// vibration then decays by exactly e^{-xi omega dt} per step in |z|.
TEST(ModalResonator, NewDampingChangesTheDecayFromTheNextStep) {
    const double omega = 800.0 * twoPi, k = omega * omega;
    ModalResonator r(1.0, 2.0 * 0.01 * omega, k, kTimeStep);
    r.force = 1.0;
    for (int n = 0; n < 10; ++n) r.advance();
    r.force = 0.0;
    for (int n = 0; n < 100; ++n) r.advance();
    const double q = r.displacement, v = r.velocity, s = r.stateReal;
    int result = -1;
    EXPECT_EQ(setDampingOutput(r, 2.0 * 0.2 * omega, &result), "");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(r.displacement, q);
    EXPECT_EQ(r.velocity, v);
    EXPECT_EQ(r.stateReal, s);
    const double perStep = std::exp(-0.2 * omega * kTimeStep);
    for (int n = 0; n < 50; ++n) {
        const double before = std::hypot(r.stateReal, r.displacement);
        r.advance();
        ASSERT_TRUE(agreesTo(std::hypot(r.stateReal, r.displacement), before * perStep, 1e-12));
    }
}

TEST(ModalResonator, FlushThresholdIsStrict) {
    ModalResonator r(1.0, 1.0, 1e6, kTimeStep);
    r.force = 0.5;
    r.displacement = 1e-50;
    r.velocity = 0.0;
    r.stateReal = 1e-60;
    r.flushIfNegligible();
    EXPECT_EQ(r.displacement, 1e-50);
    EXPECT_EQ(r.stateReal, 1e-60);
    r.displacement = -9e-51;
    r.velocity = -1e-50;
    r.flushIfNegligible();
    EXPECT_EQ(r.displacement, -9e-51);
    r.velocity = 9e-51;
    r.flushIfNegligible();
    EXPECT_EQ(r.displacement, 0.0);
    EXPECT_EQ(r.velocity, 0.0);
    EXPECT_EQ(r.stateReal, 0.0);
    EXPECT_EQ(r.force, 0.5);
}
