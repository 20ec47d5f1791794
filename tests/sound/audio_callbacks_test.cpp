// The audio callbacks called directly on small synthetic banks (no device): silence, the gain
// ramp, the force pulse and its timing against the oscillator's closed forms, the renderers,
// clipping and peaks, the flush, the force exchange, finite output where the transfer is
// undefined, and the fast block path against the literal per-mode loop.
#include "sound/audio_callbacks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include "bench/literal_block.h"
#include "sound/audio_block.h"
#include "sound/audio_block_context.h"
#include "tests/sound/lane_builds.h"
#include "tests/sound/synthetic_bank.h"

using namespace synthetic;

namespace {

constexpr double kDt = 2.2675736961451248e-05;

// One block through the callback, with `context` as its user data.
std::vector<float> monoBlock(AudioBlockContext& context, unsigned long frames = 220) {
    std::vector<float> out(frames, 99.0f);
    EXPECT_EQ(monoAudioCallback(nullptr, out.data(), frames, nullptr, 0, &context), paContinue);
    return out;
}

std::vector<float> stereoBlock(AudioBlockContext& context, unsigned long frames = 220) {
    std::vector<float> out(2 * frames, 99.0f);
    EXPECT_EQ(stereoAudioCallback(nullptr, out.data(), frames, nullptr, 0, &context), paContinue);
    return out;
}

// Single-precision output agrees with the double value `expected` to float rounding.
::testing::AssertionResult sampleIs(float actual, double expected, double scale) {
    if (std::fabs(actual - expected) <= 1.2e-7 * std::fabs(expected) + 1e-12 * scale) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "sample " << actual << " expected " << expected;
}

// Displacement after n samples of an undamped unit-mass mode from rest, driven by a force F held
// for the first D samples: (F / omega^2) (1 - cos(omega n dt)) while n <= D, then
// (F / omega^2) (cos(omega (n - D) dt) - cos(omega n dt)).
double pulseResponse(double F, double omega, int D, int n) {
    const double a = F / (omega * omega);
    if (n <= D) return a * (1.0 - std::cos(omega * n * kDt));
    return a * (std::cos(omega * (n - D) * kDt) - std::cos(omega * n * kDt));
}

class AudioCallbacks : public SyntheticBankTest {};

}  // namespace

TEST_F(AudioCallbacks, SilentWithoutImpact) {
    makeBank(audio, {440.0, 1000.0, 2500.0}, 8.0f, 7e-6f);
    publishEye(0.3, 0.2, 1.0);
    for (int b = 0; b < 4; ++b) {
        for (float s : monoBlock(audio)) ASSERT_EQ(s, 0.0f);
        for (float s : stereoBlock(audio)) ASSERT_EQ(s, 0.0f);
    }
    for (int i = 0; i < kPeakRingSize; ++i) {
        EXPECT_EQ(monoPeaks[i].load(), 0.0);
        EXPECT_EQ(leftPeaks[i].load(), 0.0);
        EXPECT_EQ(rightPeaks[i].load(), 0.0);
    }
    EXPECT_GT(monoTransfer[0], 0.0);  // the silence is not for want of a gain
}

// First block after start: previous gain 0, current gain g; sample i carries q_i g i / N.
TEST_F(AudioCallbacks, GainRampsLinearlyFromThePreviousBlocksGain) {
    makeBank(audio, {1000.0}, 0.0, 0.0);
    publishEye(171.5, 0, 0);  // unit monopole: gain = omega / (k d) = 343 / d = 2
    activeModalForce[0] = 1.0;
    const std::vector<float> out = monoBlock(audio);
    const double g = monoTransfer[0];
    EXPECT_NEAR(g, 2.0, 1e-12);
    ModalResonator twin(1.0, 0.0, modeStiffness[0], kDt);
    twin.force = 26.0;
    EXPECT_EQ(out[0], 0.0f);
    for (int i = 0; i < 220; ++i) {
        if (i == 10) twin.force = 0.0;
        twin.advance();
        ASSERT_TRUE(sampleIs(out[i], twin.displacement * g * i / 220.0, 1e-6)) << i;
    }
    EXPECT_TRUE(sampleIs(out[219], twin.displacement * 2.0 * 219.0 / 220.0, 1e-6));
    EXPECT_EQ(monoTransferPrevious[0], g);
}

// A strike before a block boundary acts from the first sample of the next block for
// impactDuration samples (all of the block when impactDuration >= N, then none of the next).
TEST_F(AudioCallbacks, ImpactDurationShapesTheForcePulse) {
    for (int duration : {1, 10, 219, 220, 256}) {
        makeBank(audio, {1000.0}, 0.0, 0.0);
        publishEye(1.0, 0, 0);  // gain 343
        impactDuration = duration;
        const double omega = modeOmega[0];
        const double F = 0.5 * omega * omega / (26.0 * 343.0);  // amplitude about 0.5 at most 1
        pendingModalForce[0] = F;
        for (float s : monoBlock(audio)) ASSERT_EQ(s, 0.0f);  // the strike waits for the boundary
        const double g = monoTransfer[0];
        std::vector<float> out = monoBlock(audio);
        const std::vector<float> next = monoBlock(audio);
        out.insert(out.end(), next.begin(), next.end());
        const int D = std::min(duration, 220);
        for (int i = 0; i < 440; ++i) {
            ASSERT_TRUE(sampleIs(out[i], g * pulseResponse(26.0 * F, omega, D, i + 1), 1.0))
                << "duration " << duration << " sample " << i;
        }
        EXPECT_NEAR(resonators[0]->displacement, pulseResponse(26.0 * F, omega, D, 440),
                    1e-9 * 26.0 * F / (omega * omega));
    }
}

TEST_F(AudioCallbacks, StrikesBeforeTheSameBoundaryAddUpToOnePulse) {
    const std::vector<double> frequencies = {300.0, 1234.0, 4100.0};
    makeBank(audio, frequencies, 8.0f, 7e-6f);
    publishEye(0.5, 0.5, 0.5);
    pendingModalForce[0] += 0.25;
    pendingModalForce[2] += -0.5;
    pendingModalForce[0] += 0.5;
    pendingModalForce[1] += 1.0;
    std::vector<float> twice = monoBlock(audio);
    for (int b = 0; b < 3; ++b) {
        const std::vector<float> more = monoBlock(audio);
        twice.insert(twice.end(), more.begin(), more.end());
    }
    makeBank(audio, frequencies, 8.0f, 7e-6f);
    pendingModalForce[0] = 0.75;
    pendingModalForce[1] = 1.0;
    pendingModalForce[2] = -0.5;
    std::vector<float> once = monoBlock(audio);
    for (int b = 0; b < 3; ++b) {
        const std::vector<float> more = monoBlock(audio);
        once.insert(once.end(), more.begin(), more.end());
    }
    EXPECT_EQ(twice, once);
    EXPECT_NE(*std::max_element(once.begin(), once.end()), 0.0f);
}

TEST_F(AudioCallbacks, ForceBuffersAreExchangedAtTheBlocksEnd) {
    makeBank(audio, {500.0, 700.0}, 8.0f, 7e-6f);
    publishEye(1, 0, 0);
    pendingModalForce[1] = 5.0;
    monoBlock(audio);
    EXPECT_EQ(activeModalForce[1], 5.0);
    EXPECT_EQ(pendingModalForce[1], 0.0);
    impactDuration = 256;
    monoBlock(audio);
    EXPECT_EQ(resonators[1]->force, 130.0);  // held past the block's end
    EXPECT_EQ(activeModalForce[1], 0.0);
    EXPECT_EQ(pendingModalForce[1], 0.0);
    impactDuration = 10;
    pendingModalForce[0] = 1.0;
    monoBlock(audio);
    monoBlock(audio);
    EXPECT_EQ(resonators[0]->force, 0.0);  // switched off at sample 10
}

TEST_F(AudioCallbacks, ModalRendererGainFollowsDistanceOnly) {
    makeBank(audio, {200.0, 900.0, 3000.0}, 8.0f, 7e-6f);
    ObjectPose pose = identityPose();
    pose.translation[1] = 1.0;
    publishedObjectPose.store(pose);
    rendererType = 1;
    activeModeCount = 2;
    publishEye(0, 1, 0);  // at the object's origin: nothing
    pendingModalForce[0] = 3.0;
    monoBlock(audio);
    for (float s : monoBlock(audio)) ASSERT_EQ(s, 0.0f);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(monoTransfer[i], 0.0);
    publishEye(0, 3, 0);
    monoBlock(audio);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(monoTransfer[i], 7500.0);  // all modes, active or not
}

// "ZEP": gain = omega_i times the transfer; with equal transfers the gains go as omega_i. Only the
// active modes' gains are computed.
TEST_F(AudioCallbacks, ZepGainIsProportionalToAngularFrequency) {
    makeBank(audio, {200.0, 900.0, 3000.0}, 8.0f, 7e-6f);
    setTransferModel({{SourceRecord{{0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}}},
                      {SourceRecord{{0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}}},
                      {SourceRecord{{0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}}}},
                     {10.0, 10.0, 10.0});
    publishEye(0.2, 0, 0);  // k r = 2: transfer 1/2
    activeModeCount = 2;
    monoTransfer[2] = -4.0;
    monoBlock(audio);
    EXPECT_NEAR(monoTransfer[0], modeOmega[0] / 2.0, 1e-12 * modeOmega[0]);
    EXPECT_NEAR(monoTransfer[1], modeOmega[1] / 2.0, 1e-12 * modeOmega[1]);
    EXPECT_EQ(monoTransfer[2], -4.0);
}

// The listener is brought into the object's frame with the published pose: the bell swung by a
// quarter turn, the eye half a unit beside the source's world position.
TEST_F(AudioCallbacks, ListenerIsBroughtIntoTheObjectsFrame) {
    makeBank(audio, {800.0}, 0.75f, 4.68874e-8f);
    const double c = 0.0, s = 1.0;  // angle pi/2
    const ObjectPose pose{{0, 1.308643 - 0.308643 * c, -0.308643 * s},
                          {1, 0, 0, 0, c, -s, 0, s, c}};
    publishedObjectPose.store(pose);
    setTransferModel({{SourceRecord{{0, 0.3, 0, 1, 0, 0, 0, 0, 0, 0, 0}}}}, {modeOmega[0] / 343.0});
    // World position of the object point (0, 0.3, 0): R p + T.
    const double world[3] = {0.0, pose.translation[1] + c * 0.3, pose.translation[2] + s * 0.3};
    publishEye(world[0] + 0.5, world[1], world[2]);
    monoBlock(audio);
    EXPECT_NEAR(monoTransfer[0], 343.0 / 0.5, 1e-9);
}

TEST_F(AudioCallbacks, ClipsAtFullScaleAndRecordsTheUnclippedPeak) {
    EXPECT_EQ(clippedSample(1.5), 1.0f);
    EXPECT_EQ(clippedSample(-2.0), -1.0f);
    EXPECT_EQ(clippedSample(0.25), 0.25f);
    makeBank(audio, {700.0}, 0.0, 0.0);
    publishEye(1.0, 0, 0);
    impactDuration = 1;
    const double omega = modeOmega[0];
    // One-sample pulse: q oscillates with amplitude 2 (F / omega^2) sin(omega dt / 2); make the
    // output's amplitude 1.8.
    const double F = 1.8 * omega * omega / (2.0 * std::sin(omega * kDt / 2.0) * 343.0 * 26.0);
    pendingModalForce[0] = F;
    monoBlock(audio);
    const std::vector<float> out = monoBlock(audio);
    double peak = 0.0;
    int clippedHigh = 0, clippedLow = 0;
    for (int i = 0; i < 220; ++i) {
        const double y = monoTransfer[0] * pulseResponse(26.0 * F, omega, 1, i + 1);
        peak = std::max(peak, std::fabs(y));
        ASSERT_TRUE(sampleIs(out[i], std::max(-1.0, std::min(1.0, y)), 1.0)) << i;
        clippedHigh += out[i] == 1.0f;
        clippedLow += out[i] == -1.0f;
    }
    EXPECT_GT(clippedHigh, 0);
    EXPECT_GT(clippedLow, 0);
    EXPECT_NEAR(monoPeaks[1].load(), peak, 1e-9 * peak);
    EXPECT_GT(monoPeaks[1].load(), 1.7);
}

TEST_F(AudioCallbacks, PeakIndexWrapsAfterTheTenthSlot) {
    makeBank(audio, {440.0}, 8.0f, 7e-6f);
    publishEye(1, 0, 0);
    for (int i = 0; i < kPeakRingSize; ++i) monoPeaks[i] = -1.0;
    for (int b = 0; b < kPeakRingSize; ++b) {
        EXPECT_EQ(peakIndex.load(), b);
        monoBlock(audio);
    }
    EXPECT_EQ(peakIndex.load(), 0);
    for (int i = 0; i < kPeakRingSize; ++i) EXPECT_EQ(monoPeaks[i].load(), 0.0);
    peakIndex = 9;
    leftPeaks[9] = rightPeaks[9] = -1.0;
    stereoBlock(audio);
    EXPECT_EQ(leftPeaks[9].load(), 0.0);
    EXPECT_EQ(rightPeaks[9].load(), 0.0);
    EXPECT_EQ(peakIndex.load(), 0);
}

// Decayed modes are set exactly to rest at the block's end; modes above activeModeCount are
// neither advanced nor flushed.
TEST_F(AudioCallbacks, DecayedModesComeToRestAndInactiveModesAreLeftAlone) {
    makeBank(audio, {440.0, 440.0, 440.0}, 8.0f, 7e-6f);
    publishEye(1, 0, 0);
    activeModeCount = 2;
    resonators[0]->stateReal = 1e-56;  // velocity about omega * 1e-56
    resonators[1]->stateReal = 1e-3;
    resonators[2]->stateReal = 1e-52;
    resonators[2]->displacement = 2e-51;
    monoBlock(audio);
    EXPECT_EQ(resonators[0]->stateReal, 0.0);
    EXPECT_EQ(resonators[0]->displacement, 0.0);
    EXPECT_EQ(resonators[0]->velocity, 0.0);
    EXPECT_NE(resonators[1]->displacement, 0.0);
    EXPECT_EQ(resonators[2]->stateReal, 1e-52);
    EXPECT_EQ(resonators[2]->displacement, 2e-51);
}

// Where the transfer is undefined (listener on a source, on its vertical axis) and with broken
// coefficients, every sample stays a finite number.
TEST_F(AudioCallbacks, NoNanReachesTheOutput) {
    makeBank(audio, {300.0, 800.0, 2000.0}, 8.0f, 7e-6f);
    setTransferModel({{SourceRecord{{0, 0, 0, 1, 0, 2, 0, 1, 1, 0.5, 0}}},
                      {SourceRecord{{0, 0, 0.2, 0, 0, 1, 0, 1, 0, 1, 0}}},
                      {SourceRecord{{0, 0, 0, std::nan(""), 0, 0, 0, 0, 0, 0, 0}}}},
                     {5.0, 12.0, 30.0});
    pendingModalForce[0] = pendingModalForce[1] = pendingModalForce[2] = 1e4;
    const double eyes[][3] = {{0, 0, 0}, {0, 0, 0.2}, {0, 0, 1.0}, {0, 0, -3.0}};
    for (const auto& eye : eyes) {
        publishListener(eye, eye, eyes[1]);
        for (float s : monoBlock(audio)) ASSERT_TRUE(std::isfinite(s));
        for (float s : stereoBlock(audio)) ASSERT_TRUE(std::isfinite(s));
    }
    EXPECT_NE(resonators[0]->displacement, 0.0);
}

TEST_F(AudioCallbacks, PublishesItsRunningTime) {
    makeBank(audio, {440.0}, 8.0f, 7e-6f);
    {
        MutexLock lock(workloadMutex);
        callbackSeconds = -1.0;
    }
    monoBlock(audio);
    MutexLock lock(workloadMutex);
    EXPECT_GT(callbackSeconds, 0.0);
}

TEST_F(AudioCallbacks, KeepsItsLongestRunningTimeWaitingIncluded) {
    makeBank(audio, {440.0}, 8.0f, 7e-6f);
    {
        MutexLock lock(workloadMutex);
        audio.largestCallbackSeconds = 0.0;
    }
    // A callback that waits for synthesisMutex (held here for 100 ms, as the panel holds it to
    // change the damping) runs about that long (at least half of it, whenever its thread starts);
    // a later quick one leaves the longest as it was.
    std::thread callback;
    {
        MutexLock hold(synthesisMutex);
        callback = std::thread([this] { monoBlock(audio); });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    callback.join();
    double waited = 0.0;
    {
        MutexLock lock(workloadMutex);
        waited = audio.largestCallbackSeconds;
        EXPECT_GE(waited, 0.050);
        EXPECT_EQ(callbackSeconds, waited);
    }
    monoBlock(audio);
    MutexLock lock(workloadMutex);
    EXPECT_LT(callbackSeconds, waited);
    EXPECT_EQ(audio.largestCallbackSeconds, waited);
}

namespace {

// The vectorised block path against the literal loop over resonator pointers, through a run that
// exercises everything at once: random modes and multipole sources, a swung pose, a moving
// listener, strikes, every kind of impact duration, a change of the active mode count, both
// renderers, mono and stereo, and block lengths that span several segments. States agree bit for
// bit; samples within 1e-9 of the block's peak (plus float rounding).
void checkFastBlockPathAgainstLiteralLoop(AudioBlockContext& audio) {
    std::mt19937 random(2024);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<double> frequencies;
    for (int i = 0; i < 37; ++i) frequencies.push_back(60.0 * std::pow(250.0, u(random)));
    makeBank(audio, frequencies, 8.0f, 7e-6f);
    std::vector<std::vector<SourceRecord>> entries(37);
    std::vector<double> waveNumbers;
    for (int i = 0; i < 37; ++i) {
        for (int j = 0; j < 3; ++j) {
            SourceRecord s;
            for (int v = 0; v < 3; ++v) s.values[v] = 0.1 * (u(random) - 0.5);
            for (int v = 3; v < 11; ++v) s.values[v] = u(random) - 0.5;
            entries[i].push_back(s);
        }
        waveNumbers.push_back(modeOmega[i] / 343.0);
    }
    setTransferModel(entries, waveNumbers);
    const double angle = 0.4;
    publishedObjectPose.store(ObjectPose{
        {0, 1.308643 - 0.308643 * std::cos(angle), -0.308643 * std::sin(angle)},
        {1, 0, 0, 0, std::cos(angle), -std::sin(angle), 0, std::sin(angle), std::cos(angle)}});

    struct Step {
        unsigned long frames;
        bool stereo;
        int duration, renderer, active;
        bool strike;
    };
    const std::vector<Step> steps = {
        {220, false, 10, 0, 37, true},   {220, false, 10, 0, 37, false},
        {441, false, 1, 0, 37, true},    {220, false, 256, 0, 37, true},
        {220, false, 220, 0, 37, false}, {147, false, 146, 0, 20, true},
        {600, false, 300, 0, 20, true},  {220, false, 10, 1, 20, true},
        {220, true, 219, 0, 37, true},   {441, true, 400, 0, 37, true},
        {220, true, 10, 1, 37, false},   {220, false, 10, 0, 33, true},
        {1, false, 10, 0, 33, true},     {220, false, 10, 0, 33, false}};
    std::vector<std::vector<double>> strikes;
    for (size_t b = 0; b < steps.size(); ++b) {
        std::vector<double> f(37);
        for (double& x : f) x = 2.0 * (u(random) - 0.5);
        strikes.push_back(f);
    }

    SavedBank start;
    start.save();
    struct Run {
        std::vector<std::vector<float>> blocks;
        std::vector<double> peaks;
        std::vector<ModalResonator> finalState;
    };
    auto run = [&](bool literal) {
        start.restore();
        clearPeakRings();
        Run r;
        for (size_t b = 0; b < steps.size(); ++b) {
            const Step& s = steps[b];
            publishEye(0.8 * std::cos(0.3 * b), 1.2 + 0.05 * b, 0.8 * std::sin(0.3 * b));
            impactDuration = s.duration;
            rendererType = s.renderer;
            activeModeCount = s.active;
            if (s.strike) {
                for (int i = 0; i < 37; ++i) pendingModalForce[i] += strikes[b][i];
            }
            std::vector<float> out(s.frames * (s.stereo ? 2 : 1));
            MutexLock lock(synthesisMutex);
            const int slot = peakIndex;
            if (literal) {
                s.stereo ? literalStereoBlock(audio, out.data(), s.frames)
                         : literalMonoBlock(audio, out.data(), s.frames);
            } else {
                s.stereo ? synthesizeStereoBlock(audio, out.data(), s.frames)
                         : synthesizeMonoBlock(audio, out.data(), s.frames);
            }
            r.blocks.push_back(out);
            r.peaks.push_back(s.stereo ? std::max(leftPeaks[slot].load(), rightPeaks[slot].load())
                                       : monoPeaks[slot].load());
        }
        for (int i = 0; i < 37; ++i) r.finalState.push_back(*resonators[i]);
        return r;
    };
    const Run fast = run(false);
    const Run literal = run(true);
    double loudest = 0.0;
    for (size_t b = 0; b < steps.size(); ++b) {
        const double peak = literal.peaks[b];
        loudest = std::max(loudest, peak);
        EXPECT_NEAR(fast.peaks[b], peak, 1e-9 * peak) << "block " << b;
        ASSERT_EQ(fast.blocks[b].size(), literal.blocks[b].size());
        for (size_t i = 0; i < fast.blocks[b].size(); ++i) {
            const float a = fast.blocks[b][i], e = literal.blocks[b][i];
            ASSERT_LE(std::fabs(a - e), 1e-9 * peak + 1.2e-7 * std::fabs(e))
                << "block " << b << " sample " << i;
        }
    }
    EXPECT_GT(loudest, 1e-3);  // the comparison is between real sounds
    for (int i = 0; i < 37; ++i) {
        EXPECT_EQ(fast.finalState[i].displacement, literal.finalState[i].displacement) << i;
        EXPECT_EQ(fast.finalState[i].stateReal, literal.finalState[i].stateReal) << i;
        EXPECT_EQ(fast.finalState[i].velocity, literal.finalState[i].velocity) << i;
        EXPECT_EQ(fast.finalState[i].force, literal.finalState[i].force) << i;
    }
}

}  // namespace

// Both builds of the lane loops (AVX2 where the processor has it, and the baseline one).
TEST_F(AudioCallbacks, FastBlockPathMatchesTheLiteralLoop) {
    forEachLaneBuild([this](bool useAvx2Lanes) {
        audio.useAvx2Lanes = useAvx2Lanes;
        checkFastBlockPathAgainstLiteralLoop(audio);
    });
}
