// The body of the audio callbacks: one block of mono or stereo samples from the resonator bank.
#include "sound/audio_block.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "geometry/listener_points.h"
#include "geometry/object_pose.h"
#include "sound/audio_block_context.h"
#include "sound/bank_block.h"
#include "sound/bank_gains.h"
#include "sound/binaural_gains.h"
#include "sound/modal_bank_lanes.h"
#include "sound/mode_levels.h"
#include "sound/mode_mask.h"
#include "sound/synthesis_state.h"

int activeModes() {
    const int count = activeModeCount.load(std::memory_order_relaxed);
    if (count < 0) return 0;
    return count < totalModeCount ? count : totalModeCount;
}

void computeZepGains(const AudioBlockContext& context, const ObjectPose& pose,
                     const double world[3], double* gains, int modeCount) {
    zepGainsAt(transferModel, modeOmega, context.useAvx2Lanes, pose, world, gains, modeCount);
}

void computeModalGains(const ObjectPose& pose, const double eye[3], double* gains) {
    modalGainsAt(modalRendererGain, pose, eye, gains, totalModeCount);
}

BlockGains computeBlockGains(AudioBlockContext& context, int channelCount,
                             ZepGainFunction zepGains) {
    // One snapshot of the settings, the listener and the pose serves the whole block. The block
    // never waits for the GUI thread's store to finish: a few tries (a store that runs takes
    // well under a microsecond), then the last whole value.
    constexpr int kSnapshotAttempts = 64;
    BlockGains block;
    block.modeCount = activeModes();
    publishedListener.tryLoad(&context.blockListener, kSnapshotAttempts);
    publishedObjectPose.tryLoad(&context.blockPose, kSnapshotAttempts);
    const ListenerPoints listener = context.blockListener;
    const ObjectPose pose = context.blockPose;
    if (channelCount == 1) {
        if (rendererType.load(std::memory_order_relaxed) == 1) {
            computeModalGains(pose, listener.eye, monoTransfer);
        } else {
            zepGains(context, pose, listener.eye, monoTransfer, block.modeCount);
        }
        block.gains[0] = monoTransfer;
        block.previousGains[0] = monoTransferPrevious;
        block.gains[1] = block.previousGains[1] = nullptr;
    } else {
        zepGains(context, pose, listener.leftEar, leftTransfer, block.modeCount);
        zepGains(context, pose, listener.rightEar, rightTransfer, block.modeCount);
        block.gains[0] = leftTransfer;
        block.gains[1] = rightTransfer;
        block.previousGains[0] = leftTransferPrevious;
        block.previousGains[1] = rightTransferPrevious;
    }
    return block;
}

void loadModalForces() {
    for (int i = 0; i < totalModeCount; ++i) {
        resonators[i]->force = activeModalForce[i] * modalForceGain;
    }
}

void finishBlock(double peak0, double peak1, int channelCount) {
    const int slot = peakIndex.load(std::memory_order_relaxed);
    if (channelCount == 1) {
        monoPeaks[slot].store(peak0, std::memory_order_relaxed);
    } else {
        leftPeaks[slot].store(peak0, std::memory_order_relaxed);
        rightPeaks[slot].store(peak1, std::memory_order_relaxed);
    }
    peakIndex.store((slot + 1) % kPeakRingSize, std::memory_order_relaxed);

    // Impacts collected since the last exchange become the next block's forces; the buffer this
    // block consumed starts collecting afresh.
    MutexLock lock(forceMutex);
    std::swap(activeModalForce, pendingModalForce);
    memset(pendingModalForce, 0, sizeof(double) * totalModeCount);
}

namespace {

// The demo's bank as one block of the shared bank block (sound/bank_block.h) sees it: the
// process-wide resonators, `channelCount` channels of `gains` and `previousGains` (with
// imagGains and previousImagGains, complex), and the impacts' one force, activeModalForce, held
// for the first impactDuration frames (over the whole block when that is negative or reaches its
// end). The moving contact plays when scene loading gave its shapes.
BankBlock demoBankBlock(const AudioBlockContext& context, unsigned long frameCount, int modeCount,
                        int channelCount, double** gains, double** previousGains,
                        double** imagGains, double** previousImagGains) {
    BankBlock block;
    block.resonators = resonators;
    block.modeCount = totalModeCount;
    block.activeModes = modeCount;
    block.channelCount = channelCount;
    for (int c = 0; c < 2; ++c) {
        const bool used = c < channelCount;
        block.gains[c] = used ? gains[c] : nullptr;
        block.previousGains[c] = used ? previousGains[c] : nullptr;
        block.imagGains[c] = imagGains != nullptr ? imagGains[c] : nullptr;
        block.previousImagGains[c] = imagGains != nullptr ? previousImagGains[c] : nullptr;
    }
    const int N = static_cast<int>(frameCount);
    const int duration = impactDuration.load(std::memory_order_relaxed);
    block.stepForce[0] = activeModalForce;
    block.stepFrames[0] = duration >= 0 && duration < N ? duration : N;
    block.stepCount = 1;
    block.contactShapes = context.contactShapes;
    return block;
}

// The block after its gains, for `channelCount` channels (the shared bank block): clips and
// interleaves into `out` and keeps each channel's unclipped peak; then the block's end.
void synthesizeBlock(AudioBlockContext& context, float* out, unsigned long frameCount,
                     int modeCount, int channelCount, double** gains, double** previousGains,
                     double** imagGains = nullptr, double** previousImagGains = nullptr) {
    const BankBlock block = demoBankBlock(context, frameCount, modeCount, channelCount, gains,
                                          previousGains, imagGains, previousImagGains);
    double peaks[2] = {0.0, 0.0};
    runBankBlock(context, block, static_cast<int>(frameCount),
                 [&](int first, int last, const double* const* mix) {
                     for (int i = first; i < last; ++i) {
                         for (int c = 0; c < channelCount; ++c) {
                             const double y = mix[c][i - first];
                             if (std::fabs(y) > peaks[c]) peaks[c] = std::fabs(y);
                             out[i * channelCount + c] = clippedSample(y);
                         }
                     }
                 });
    finishBlock(peaks[0], peaks[1], channelCount);
}

// The whole block for `channelCount` channels: its gains, then the block after them.
void synthesizeChannels(AudioBlockContext& context, float* out, unsigned long frameCount,
                        int channelCount) {
    BlockGains block = computeBlockGains(context, channelCount, computeZepGains);
    synthesizeBlock(context, out, frameCount, block.modeCount, channelCount, block.gains,
                    block.previousGains);
}

}  // namespace

BlockGains computeBinauralBlockGains(AudioBlockContext& context, const HrtfSet& hrtf,
                                     double* imag[2]) {
    constexpr int kSnapshotAttempts = 64;
    BlockGains block;
    block.modeCount = activeModes();
    publishedListener.tryLoad(&context.blockListener, kSnapshotAttempts);
    publishedObjectPose.tryLoad(&context.blockPose, kSnapshotAttempts);
    double* real[2] = {leftTransfer, rightTransfer};
    imag[0] = context.binauralImag[0].data();
    imag[1] = context.binauralImag[1].data();
    computeBinauralGains(transferModel, modeOmega, block.modeCount, context.useAvx2Lanes, hrtf,
                         context.blockPose, context.blockListener, real, imag);
    block.gains[0] = leftTransfer;
    block.gains[1] = rightTransfer;
    block.previousGains[0] = leftTransferPrevious;
    block.previousGains[1] = rightTransferPrevious;
    return block;
}

void synthesizeBinauralBlock(AudioBlockContext& context, float* out, unsigned long frameCount) {
    const HrtfSet* hrtf = context.hrtf.load(std::memory_order_acquire);
    if (hrtf == nullptr) {
        synthesizeChannels(context, out, frameCount, 2);
        return;
    }
    double* imag[2];
    BlockGains block = computeBinauralBlockGains(context, *hrtf, imag);
    double* previousImag[2] = {context.binauralImagPrevious[0].data(),
                               context.binauralImagPrevious[1].data()};
    synthesizeBlock(context, out, frameCount, block.modeCount, 2, block.gains, block.previousGains,
                    imag, previousImag);
}

void synthesizeMonoBlock(AudioBlockContext& context, float* out, unsigned long frameCount) {
    synthesizeChannels(context, out, frameCount, 1);
}

void synthesizeStereoBlock(AudioBlockContext& context, float* out, unsigned long frameCount) {
    synthesizeChannels(context, out, frameCount, 2);
}
