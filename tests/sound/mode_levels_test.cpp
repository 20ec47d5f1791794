// The per-mode levels the Modes window draws: against the closed-form envelope of a struck
// oscillator times its gain, their decay at the mode's damping rate, the stereo mean, and their
// hand-over from an audio thread to a GUI thread that reads while blocks run (ThreadSanitizer
// checks the protocol in the sanitizer build).
#include "sound/mode_levels.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "sound/audio_callbacks.h"
#include "sound/mode_mask.h"
#include "tests/sound/synthetic_bank.h"

using namespace synthetic;

namespace {

constexpr double kDt = 2.2675736961451248e-05;

void monoBlock() {
    std::vector<float> out(220);
    monoAudioCallback(nullptr, out.data(), 220, nullptr, 0, nullptr);
}
void stereoBlock() {
    std::vector<float> out(440);
    stereoAudioCallback(nullptr, out.data(), 220, nullptr, 0, nullptr);
}

class ModeLevels : public SyntheticBankTest {
  protected:
    void SetUp() override { modeLevelsWanted = true; }
    void TearDown() override {
        modeLevelsWanted = false;
        SyntheticBankTest::TearDown();
    }
};

}  // namespace

// An undamped unit-mass mode given a force F for D samples rings afterwards as
// q = (F / omega^2) (cos(omega (n - D) dt) - cos(omega n dt)), whose amplitude is
// (F / omega^2) |e^{i omega D dt} - 1| = 2 (F / omega^2) |sin(omega D dt / 2)|.
TEST_F(ModeLevels, LevelIsTheClosedFormEnvelopeTimesTheGain) {
    makeBank({700.0, 1900.0}, 0.0, 0.0);
    publishEye(0.5, 0.2, 0.9);
    const double F[2] = {0.3, 1.1};
    activeModalForce[0] = F[0] / modalForceGain;
    activeModalForce[1] = F[1] / modalForceGain;
    EXPECT_FALSE(modeLevels.acquireLatest());  // nothing published before a block
    for (int b = 0; b < 3; ++b) {
        monoBlock();
        ASSERT_TRUE(modeLevels.acquireLatest());
        ASSERT_EQ(modeLevels.modeCount(), 2);
        EXPECT_EQ(modeLevels.blockNumber(), b);
        for (int e = 0; e < 2; ++e) {
            const double omega = modeOmega[e];
            const double amplitude =
                2.0 * F[e] / (omega * omega) * std::fabs(std::sin(omega * 10 * kDt / 2.0));
            const double g = monoTransfer[e];
            EXPECT_NEAR(modeLevels.gainsSquared()[e], g * g, 1e-12 * g * g);
            EXPECT_NEAR(std::sqrt(modeLevels.levelsSquared()[e]), amplitude * g,
                        1e-9 * amplitude * g)
                << "mode " << e << ", block " << b;
        }
    }
    EXPECT_FALSE(modeLevels.acquireLatest());  // nothing new without a block
}

// A freely ringing mode's envelope decays as exp(-xi omega t): from one block to the next the
// squared level falls by exp(-2 xi omega N dt), whatever the phase; and a mode solo or mute
// leaves out still reports its level.
TEST_F(ModeLevels, LevelsDecayAtTheDampingRateAndIgnoreTheMask) {
    const double alpha = 6.0, beta = 2e-6;
    makeBank({440.0, 3100.0}, alpha, beta);
    publishEye(0.5, 0.2, 0.9);
    activeModalForce[0] = activeModalForce[1] = 0.05;
    soloMode(1);
    monoBlock();
    monoBlock();  // the gain is constant from the second block on
    ASSERT_TRUE(modeLevels.acquireLatest());
    const std::vector<double> first(modeLevels.levelsSquared(), modeLevels.levelsSquared() + 2);
    monoBlock();
    ASSERT_TRUE(modeLevels.acquireLatest());
    for (int e = 0; e < 2; ++e) {
        const double omega = modeOmega[e];
        const double xi = (alpha + beta * omega * omega) / (2.0 * omega);
        const double expected = std::exp(-2.0 * xi * omega * 220 * kDt);
        EXPECT_GT(first[e], 0.0);
        EXPECT_NEAR(modeLevels.levelsSquared()[e] / first[e], expected, 1e-9) << "mode " << e;
    }
}

TEST_F(ModeLevels, StereoLevelUsesTheMeanSquareOfTheEarsGains) {
    makeBank({900.0}, 8.0, 7e-6);
    publishEye(0.5, 0.2, 0.9);
    activeModalForce[0] = 0.1;
    stereoBlock();
    ASSERT_TRUE(modeLevels.acquireLatest());
    const double mean =
        0.5 * (leftTransfer[0] * leftTransfer[0] + rightTransfer[0] * rightTransfer[0]);
    EXPECT_NE(leftTransfer[0], rightTransfer[0]);
    EXPECT_DOUBLE_EQ(modeLevels.gainsSquared()[0], mean);
    const ModalResonator& r = *resonators[0];
    EXPECT_DOUBLE_EQ(modeLevels.levelsSquared()[0],
                     (r.stateReal * r.stateReal + r.displacement * r.displacement) * mean);
    EXPECT_EQ(modeLevelDecibels(0.0, -100.0), -100.0);
    EXPECT_DOUBLE_EQ(modeLevelDecibels(1e-4, -100.0), -40.0);
}

// The reader always gets one whole publication, the newest at the time it asks, never one
// older than it had: the writer fills every entry of a slot with its block number.
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
    long last = -1, reads = 0, torn = 0;
    while (last < kBlocks - 1) {
        if (!buffer.acquireLatest()) continue;
        ++reads;
        const long b = buffer.blockNumber();
        for (int e = 0; e < kModes; ++e) {
            torn += buffer.gainsSquared()[e] != b || buffer.levelsSquared()[e] != b;
        }
        EXPECT_GT(b, last);
        last = b;
    }
    writer.join();
    EXPECT_EQ(torn, 0);
    EXPECT_GT(reads, 0);
    EXPECT_EQ(last, kBlocks - 1);
}

// The real callbacks on an audio thread while the GUI thread solos, mutes and reads the levels,
// as the Modes window does.
TEST_F(ModeLevels, CallbacksPublishWhileTheGuiSolosMutesAndReads) {
    makeBank({200, 300, 450, 700, 1100, 1700, 2600, 4000}, 4.0, 2e-6);
    publishEye(0.5, 0.2, 0.9);
    std::atomic<bool> stop{false};
    std::atomic<long> blocks{0};
    std::thread audio([&] {
        while (!stop.load()) {
            if (blocks.load() % 40 == 0) {
                MutexLock lock(forceMutex);
                for (int e = 0; e < totalModeCount; ++e) pendingModalForce[e] += 0.02;
            }
            (blocks.load() / 100) % 2 ? stereoBlock() : monoBlock();
            ++blocks;
        }
    });
    long reads = 0, operations = 0;
    double loudest = 0.0;
    while (blocks.load() < 400 || reads < 50) {
        const int k = static_cast<int>(operations++ % 4);
        if (k == 0) soloMode(static_cast<int>(operations / 4 % 9) - 1);
        if (k == 1) setModeMuted(static_cast<int>(operations % 8), operations % 3 == 0);
        if (k == 2 && modeLevels.acquireLatest()) {
            ++reads;
            for (int e = 0; e < modeLevels.modeCount(); ++e) {
                loudest = std::fmax(loudest, modeLevels.levelsSquared()[e]);
            }
        }
        if (k == 3) std::this_thread::yield();
    }
    stop = true;
    audio.join();
    clearModeMask();
    EXPECT_TRUE(modeMaskEmpty());
    EXPECT_GT(loudest, 0.0);
}
