// The per-mode levels the Modes window draws: against the closed-form envelope of a struck
// oscillator times its gain (mono, and the ears' mean square in stereo), their decay at the
// mode's damping rate whatever the mask, and the triple buffer's hand-over between two threads
// (checked by ThreadSanitizer in the sanitizer build).
#include "sound/mode_levels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

#include "sound/audio_block_context.h"
#include "sound/audio_callbacks.h"
#include "tests/sound/synthetic_bank.h"

using namespace synthetic;

namespace {

constexpr double kDt = 2.2675736961451248e-05;

void block(AudioBlockContext& context, bool stereo) {
    std::vector<float> out(440);
    (stereo ? stereoAudioCallback : monoAudioCallback)(nullptr, out.data(), 220, nullptr, 0,
                                                       &context);
}

// Blocks of a context that wants the levels.
class ModeLevels : public SyntheticBankTest {
  protected:
    void SetUp() override { audio.modeLevelsWanted = true; }
    ModeLevelBuffer& modeLevels = audio.modeLevels;
};

}  // namespace

// An undamped unit-mass mode given a force F for D samples rings afterwards as
// q = (F / omega^2) (cos(omega (n - D) dt) - cos(omega n dt)), whose amplitude is
// (F / omega^2) |e^{i omega D dt} - 1| = 2 (F / omega^2) |sin(omega D dt / 2)|.
TEST_F(ModeLevels, LevelIsTheClosedFormEnvelopeTimesTheGain) {
    for (bool stereo : {false, true}) {
        SCOPED_TRACE(stereo ? "stereo" : "mono");
        makeBank(audio, {700.0, 1900.0}, 0.0, 0.0);
        publishEye(0.5, 0.2, 0.9);
        const double F[2] = {0.3, 1.1};
        for (int e = 0; e < 2; ++e) activeModalForce[e] = F[e] / modalForceGain;
        EXPECT_FALSE(modeLevels.acquireLatest());  // nothing published before a block
        for (int b = 0; b < 3; ++b) {
            block(audio, stereo);
            ASSERT_TRUE(modeLevels.acquireLatest());
            ASSERT_EQ(modeLevels.modeCount(), 2);
            EXPECT_EQ(modeLevels.blockNumber(), b);
            for (int e = 0; e < 2; ++e) {
                const double omega = modeOmega[e];
                const double amplitude =
                    2.0 * F[e] / (omega * omega) * std::fabs(std::sin(omega * 10 * kDt / 2.0));
                const double g2 = stereo ? 0.5 * (leftTransfer[e] * leftTransfer[e] +
                                                  rightTransfer[e] * rightTransfer[e])
                                         : monoTransfer[e] * monoTransfer[e];
                EXPECT_NEAR(modeLevels.gainsSquared()[e], g2, 1e-12 * g2);
                EXPECT_NEAR(std::sqrt(modeLevels.levelsSquared()[e] / g2), amplitude,
                            1e-9 * amplitude)
                    << "mode " << e << ", block " << b;
            }
        }
        EXPECT_FALSE(modeLevels.acquireLatest());  // nothing new without a block
    }
    EXPECT_NE(leftTransfer[0], rightTransfer[0]);  // the two ears did differ
}

// A freely ringing mode's envelope decays as exp(-xi omega t): from one block to the next its
// squared level falls by exp(-2 xi omega N dt), whatever the phase, also while a solo of another
// mode keeps it out of the mix.
TEST_F(ModeLevels, LevelsDecayAtTheDampingRateWhateverTheMask) {
    const double alpha = 6.0, beta = 2e-6;
    makeBank(audio, {440.0, 3100.0}, alpha, beta);
    publishEye(0.5, 0.2, 0.9);
    activeModalForce[0] = activeModalForce[1] = 0.05;
    audio.modeMask.soloMode(1);
    block(audio, false);
    ASSERT_TRUE(modeLevels.acquireLatest());
    const std::vector<double> first(modeLevels.levelsSquared(), modeLevels.levelsSquared() + 2);
    block(audio, false);
    ASSERT_TRUE(modeLevels.acquireLatest());
    for (int e = 0; e < 2; ++e) {
        const double omega = modeOmega[e];
        const double xi = (alpha + beta * omega * omega) / (2.0 * omega);
        EXPECT_GT(first[e], 0.0);
        EXPECT_NEAR(modeLevels.levelsSquared()[e] / first[e],
                    std::exp(-2.0 * xi * omega * 220 * kDt), 1e-9)
            << "mode " << e;
    }
}

// The reader always gets one whole publication, never one older than it had: the writer fills
// every entry of a slot with its block number.
TEST(ModeLevelBuffer, ReaderSeesWholeSlotsInOrderWhileTheWriterRuns) {
    static ModeLevelBuffer buffer;
    constexpr int kModes = 64;
    constexpr long kBlocks = 20000;
    buffer.allocate(kModes);
    std::thread writer([] {
        for (long b = 0; b < kBlocks; ++b) {
            double* g = buffer.writeGainsSquared();
            double* l = buffer.writeLevelsSquared();
            for (int e = 0; e < kModes; ++e) g[e] = l[e] = static_cast<double>(b);
            buffer.publish(kModes);
        }
    });
    long last = -1, torn = 0;
    while (last < kBlocks - 1) {
        if (!buffer.acquireLatest()) continue;
        const long b = buffer.blockNumber();
        for (int e = 0; e < kModes; ++e) {
            torn += buffer.gainsSquared()[e] != b || buffer.levelsSquared()[e] != b;
        }
        EXPECT_GT(b, last);
        last = b;
    }
    writer.join();
    EXPECT_EQ(torn, 0);
}
