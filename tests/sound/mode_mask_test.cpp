// Solo and mute against the plain mix: a muted mode is exactly absent, a soloed mode is exactly
// its own contribution (the same samples, bit for bit, as a bank in which only it was struck),
// and the masked modes ring on unheard, so once the mask is cleared the output is again bit for
// bit that of a bank that was never masked.
#include "sound/mode_mask.h"

#include <gtest/gtest.h>

#include <vector>

#include "sound/audio_callbacks.h"
#include "tests/sound/synthetic_bank.h"

using namespace synthetic;

namespace {

const std::vector<double> kFrequencies = {310.0, 520.0, 870.0, 1330.0, 2050.0};

// A fresh bank with the listener off axis; every mode in `struck` gets a modal force of its own.
void strikeBank(const std::vector<int>& struck) {
    makeBank(kFrequencies, 8.0, 7e-6);
    publishEye(0.4, 0.3, 1.2);
    for (int e : struck) activeModalForce[e] = 0.5 + 0.25 * e;
}

// `blocks` blocks of 220 frames, mono or stereo; before block b, `beforeBlock(b)` runs.
template <typename BeforeBlock>
std::vector<float> render(int blocks, bool stereo, BeforeBlock beforeBlock) {
    const int width = stereo ? 440 : 220;
    std::vector<float> out(static_cast<size_t>(blocks) * width);
    for (int b = 0; b < blocks; ++b) {
        beforeBlock(b);
        float* block = &out[static_cast<size_t>(b) * width];
        if (stereo) {
            stereoAudioCallback(nullptr, block, 220, nullptr, 0, nullptr);
        } else {
            monoAudioCallback(nullptr, block, 220, nullptr, 0, nullptr);
        }
    }
    return out;
}
std::vector<float> render(int blocks, bool stereo) {
    return render(blocks, stereo, [](int) {});
}

// Blocks first .. last-1 of two renderings are equal sample for sample.
void expectSameBlocks(const std::vector<float>& a, const std::vector<float>& b, int first, int last,
                      bool stereo) {
    const int width = stereo ? 440 : 220;
    for (int i = first * width; i < last * width; ++i) {
        ASSERT_EQ(a[i], b[i]) << "block " << i / width << ", sample " << i % width;
    }
}

bool anySound(const std::vector<float>& samples) {
    for (float s : samples) {
        if (s != 0.0f) return true;
    }
    return false;
}

class ModeMask : public SyntheticBankTest {};

}  // namespace

TEST_F(ModeMask, MutedModesAreExactlyAbsentFromTheMix) {
    for (bool stereo : {false, true}) {
        SCOPED_TRACE(stereo ? "stereo" : "mono");
        strikeBank({0, 1, 2, 3, 4});
        setModeMuted(2, true);
        setModeMuted(4, true);
        EXPECT_FALSE(modeMaskEmpty());
        const std::vector<float> muted = render(6, stereo);

        strikeBank({0, 1, 3});
        EXPECT_TRUE(modeMaskEmpty());
        const std::vector<float> unstruck = render(6, stereo);
        expectSameBlocks(muted, unstruck, 0, 6, stereo);
        EXPECT_TRUE(anySound(muted));
    }
}

TEST_F(ModeMask, SoloedModeIsItsOwnContributionAndOverridesMutes) {
    for (bool stereo : {false, true}) {
        SCOPED_TRACE(stereo ? "stereo" : "mono");
        strikeBank({0, 1, 2, 3, 4});
        setModeMuted(3, true);
        soloMode(3);
        EXPECT_TRUE(modeSounds(3));
        EXPECT_FALSE(modeSounds(0));
        const std::vector<float> soloed = render(6, stereo);

        strikeBank({3});
        const std::vector<float> alone = render(6, stereo);
        expectSameBlocks(soloed, alone, 0, 6, stereo);
        EXPECT_TRUE(anySound(soloed));
    }
}

TEST_F(ModeMask, MaskedModesRingOnAndReturnAsIfNeverMasked) {
    constexpr int kBlocks = 10;
    strikeBank({0, 1, 2, 3, 4});
    const std::vector<float> plain = render(kBlocks, false);

    // Solo mode 1 for blocks 2 to 4, mute mode 0 for blocks 3 and 4, then clear the mask.
    strikeBank({0, 1, 2, 3, 4});
    const std::vector<float> masked = render(kBlocks, false, [](int b) {
        if (b == 2) soloMode(1);
        if (b == 3) setModeMuted(0, true);
        if (b == 5) clearModeMask();
    });
    expectSameBlocks(masked, plain, 0, 2, false);
    // Block 5 ramps the silenced modes' gains back up from 0; from block 6 on every gain, and
    // every resonator, is what it would have been without the mask.
    EXPECT_NE(masked[5 * 220 + 219], plain[5 * 220 + 219]);
    expectSameBlocks(masked, plain, 6, kBlocks, false);

    // Block 3 (its gains ramped down during block 2) is mode 1 alone.
    strikeBank({1});
    const std::vector<float> alone = render(4, false);
    expectSameBlocks(masked, alone, 3, 4, false);
}

TEST_F(ModeMask, RefusesModesOutsideTheBankAndResetsWithTheBank) {
    makeBank(kFrequencies, 8.0, 7e-6);
    soloMode(5);
    EXPECT_EQ(soloedMode(), -1);
    setModeMuted(-1, true);
    setModeMuted(5, true);
    EXPECT_TRUE(modeMaskEmpty());
    setModeMuted(2, true);
    setModeMuted(2, true);  // twice is once: one unmute empties the mask again
    setModeMuted(2, false);
    EXPECT_TRUE(modeMaskEmpty());
    soloMode(4);
    setModeMuted(1, true);
    allocateModeArrays(3);
    EXPECT_TRUE(modeMaskEmpty());
    EXPECT_FALSE(modeMuted(1));
}
