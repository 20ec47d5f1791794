// The binaural gains (sound/binaural_gains.h) and the demo's binaural block through the stereo
// stream's callback: the object's direction in the head's frame follows the swing, a set of
// pure delays gives the mono block delayed per ear, and without a set the block is the stereo
// one.
#include "sound/binaural_gains.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "sound/audio_callbacks.h"
#include "sound/synthesis_state.h"
#include "tests/sound/synthetic_bank.h"

using namespace synthetic;

namespace {

// Six directions whose filters only delay: the left ear by 12 samples, the right one by 30.
std::unique_ptr<HrtfSet> pureDelaySet() {
    const std::vector<double> axes = {1, 0, 0, -1, 0, 0, 0, 1, 0, 0, -1, 0, 0, 0, 1, 0, 0, -1};
    const int n = 48;
    std::vector<float> responses(6 * 2 * n, 0.0f);
    for (int m = 0; m < 6; ++m) {
        responses[(2 * m) * n + 12] = 1.0f;
        responses[(2 * m + 1) * n + 30] = 1.0f;
    }
    return std::unique_ptr<HrtfSet>(
        new HrtfSet("delays", 44100.0, 6, axes.data(), n, responses.data(), nullptr));
}

// A head at `eye` facing -z with +y up: its left is -x.
ListenerPoints headFacingMinusZ(double x, double y, double z) {
    ListenerPoints listener{{x, y, z}, {x - 0.1, y, z}, {x + 0.1, y, z}};
    listener.forward[2] = -1.0;
    listener.up[1] = 1.0;
    return listener;
}

// `blocks` blocks of 220 frames of one callback, concatenated.
std::vector<float> render(AudioBlockContext& context, int blocks, bool stereoStream) {
    std::vector<float> all;
    for (int b = 0; b < blocks; ++b) {
        std::vector<float> out((stereoStream ? 2 : 1) * 220);
        if (stereoStream) {
            stereoAudioCallback(nullptr, out.data(), 220, nullptr, 0, &context);
        } else {
            monoAudioCallback(nullptr, out.data(), 220, nullptr, 0, &context);
        }
        all.insert(all.end(), out.begin(), out.end());
    }
    return all;
}

class BinauralBlock : public SyntheticBankTest {};

}  // namespace

TEST(BinauralGains, ObjectsDirectionFollowsTheSwingIntoTheHeadsFrame) {
    TransferModel transfer;
    transfer.centre[1] = 0.3;
    // The bell's pose swung a quarter turn about x: the centre (0, 0.3, 0) goes to T + (0, 0, 0.3).
    const ObjectPose pose{{0, 1.0, -0.3}, {1, 0, 0, 0, 0, -1, 0, 1, 0}};
    // The head half a metre along +x from the centre's world position (0, 1, 0), facing -z: the
    // object lies to its left.
    const ListenerPoints head = headFacingMinusZ(0.5, 1.0, 0.0);
    double direction[3];
    objectDirectionInHead(transfer, pose, head, direction);
    EXPECT_NEAR(direction[0], 0.0, 1e-15);
    EXPECT_NEAR(direction[1], 1.0, 1e-15);
    EXPECT_NEAR(direction[2], 0.0, 1e-15);
    // At rest the centre sits at T + (0, 0.3, 0) = (0, 1.3, -0.3): up and ahead of the head.
    const ObjectPose rest{{0, 1.0, -0.3}, {1, 0, 0, 0, 1, 0, 0, 0, 1}};
    objectDirectionInHead(transfer, rest, head, direction);
    const double d[3] = {0.3, 0.5, 0.3};  // forward, left, up
    const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(direction[k], d[k] / length, 1e-15);
}

TEST_F(BinauralBlock, PureDelaySetGivesTheMonoBlockDelayedPerEar) {
    makeBank(audio, {250.0, 1100.0, 3100.0}, 0.5, 1e-10);
    const std::unique_ptr<HrtfSet> set = pureDelaySet();
    audio.hrtf.store(set.get(), std::memory_order_release);
    publishedListener.store(headFacingMinusZ(0.3, 0.2, 0.9));
    for (int i = 0; i < totalModeCount; ++i) pendingModalForce[i] = 40.0 * (i + 1);
    SavedBank start;
    start.save();
    const std::vector<float> mono = render(audio, 12, false);
    start.restore();
    channelMode = 2;
    const std::vector<float> binaural = render(audio, 12, true);
    double peak = 0.0;
    for (float v : mono) peak = std::max(peak, static_cast<double>(std::fabs(v)));
    ASSERT_GT(peak, 1e-4);
    const int delays[2] = {12, 30};
    double worst[2] = {0.0, 0.0};
    // From the third block: the force arrives with the second, whose gains ramp in from 0.
    for (size_t n = 440; n < mono.size(); ++n) {
        for (int ear = 0; ear < 2; ++ear) {
            worst[ear] = std::max(worst[ear], std::fabs(static_cast<double>(binaural[2 * n + ear]) -
                                                        mono[n - delays[ear]]));
        }
    }
    EXPECT_LT(worst[0], 1e-3 * peak);
    EXPECT_LT(worst[1], 1e-3 * peak);
    audio.hrtf.store(nullptr, std::memory_order_release);
}

TEST_F(BinauralBlock, WithoutAnHrtfSetTheBinauralModeIsTheStereoBlock) {
    makeBank(audio, {300.0, 700.0, 1900.0}, 2.0, 1e-8);
    publishedListener.store(headFacingMinusZ(0.3, 0.2, 0.9));
    for (int i = 0; i < totalModeCount; ++i) pendingModalForce[i] = 30.0;
    SavedBank start;
    start.save();
    const std::vector<float> stereo = render(audio, 4, true);
    start.restore();
    channelMode = 2;
    EXPECT_EQ(render(audio, 4, true), stereo);
}
