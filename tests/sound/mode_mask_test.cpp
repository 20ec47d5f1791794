// Solo and mute against the plain mix: a muted mode is exactly absent and a soloed mode is
// exactly its own contribution (bit for bit the samples of a bank in which only the heard modes
// were struck), and the masked modes ring on unheard, so once the mask is cleared the output is
// again bit for bit that of a bank that was never masked.
#include "sound/mode_mask.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "sound/audio_block_context.h"
#include "sound/audio_callbacks.h"
#include "tests/sound/synthetic_bank.h"

using namespace synthetic;

namespace {

// Blocks of 220 frames of `context` from a fresh five-mode bank in which the modes in `struck`
// were struck; `beforeBlock(b)` runs before block b.
std::vector<float> render(
    AudioBlockContext& context, const std::vector<int>& struck, int blocks, bool stereo,
    const std::function<void(int)>& beforeBlock = [](int) {}) {
    makeBank(context, {310.0, 520.0, 870.0, 1330.0, 2050.0}, 8.0, 7e-6);
    publishEye(0.4, 0.3, 1.2);
    for (int e : struck) activeModalForce[e] = 0.5 + 0.25 * e;
    const int width = stereo ? 440 : 220;
    std::vector<float> out(static_cast<size_t>(blocks) * width);
    for (int b = 0; b < blocks; ++b) {
        beforeBlock(b);
        (stereo ? stereoAudioCallback : monoAudioCallback)(nullptr, &out[b * width], 220, nullptr,
                                                           0, &context);
    }
    return out;
}

// Blocks first .. last-1 of two renderings are equal sample for sample, and not all silent.
void expectSameBlocks(const std::vector<float>& a, const std::vector<float>& b, int first, int last,
                      bool stereo = false) {
    const int width = stereo ? 440 : 220;
    bool sound = false;
    for (int i = first * width; i < last * width; ++i) {
        ASSERT_EQ(a[i], b[i]) << "block " << i / width << ", sample " << i % width;
        sound |= a[i] != 0.0f;
    }
    EXPECT_TRUE(sound);
}

// The mask of the fixture's context in the mix.
class ModeMaskInTheMix : public SyntheticBankTest {
  protected:
    ModeMask& mask = audio.modeMask;
};

}  // namespace

TEST_F(ModeMaskInTheMix, MutesLeaveTheirModesOutAndASoloKeepsOnlyItsMode) {
    for (bool stereo : {false, true}) {
        SCOPED_TRACE(stereo ? "stereo" : "mono");
        const std::vector<int> all = {0, 1, 2, 3, 4};
        const std::vector<float> muted = render(audio, all, 6, stereo, [this](int b) {
            if (b == 0) {
                mask.setModeMuted(2, true);
                mask.setModeMuted(4, true);
            }
        });
        expectSameBlocks(muted, render(audio, {0, 1, 3}, 6, stereo), 0, 6, stereo);
        // A solo overrides a mute of the same mode.
        const std::vector<float> soloed = render(audio, all, 6, stereo, [this](int b) {
            if (b == 0) {
                mask.setModeMuted(3, true);
                mask.soloMode(3);
            }
        });
        expectSameBlocks(soloed, render(audio, {3}, 6, stereo), 0, 6, stereo);
        EXPECT_TRUE(mask.empty());  // a new bank starts with an empty mask
    }
}

TEST_F(ModeMaskInTheMix, MaskedModesRingOnAndReturnAsIfNeverMasked) {
    const std::vector<int> all = {0, 1, 2, 3, 4};
    const std::vector<float> plain = render(audio, all, 10, false);
    // Solo mode 1 from block 2, mute mode 0 from block 3, clear the mask before block 5.
    const std::vector<float> masked = render(audio, all, 10, false, [this](int b) {
        if (b == 2) mask.soloMode(1);
        if (b == 3) mask.setModeMuted(0, true);
        if (b == 5) mask.clear();
    });
    expectSameBlocks(masked, plain, 0, 2);
    // Block 3 (the others' gains ramped down during block 2) is mode 1 alone.
    expectSameBlocks(masked, render(audio, {1}, 4, false), 3, 4);
    // Block 5 ramps the silenced gains back up from 0; from block 6 on every gain, and every
    // resonator, is what it would have been without the mask.
    EXPECT_NE(masked[5 * 220 + 219], plain[5 * 220 + 219]);
    expectSameBlocks(masked, plain, 6, 10);
}
