// The body of the audio callbacks: one block of mono or stereo samples from the resonator bank.
#include "sound/audio_block.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "geometry/listener_points.h"
#include "geometry/object_pose.h"
#include "sound/audio_block_context.h"
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
    double object[3];
    worldToObject(pose, world, object);
    transferModel.evaluateTransfer(object, gains, modeCount, context.useAvx2Lanes);
    for (int i = 0; i < modeCount; ++i) gains[i] *= modeOmega[i];
}

void computeModalGains(const ObjectPose& pose, const double eye[3], double* gains) {
    const double dx = eye[0] - pose.translation[0];
    const double dy = eye[1] - pose.translation[1];
    const double dz = eye[2] - pose.translation[2];
    const double distance = std::sqrt(dx * dx + dy * dy + dz * dz);
    const double gain = distance == 0.0 ? 0.0 : modalRendererGain / distance;
    for (int i = 0; i < totalModeCount; ++i) gains[i] = gain;
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

void finishBlock(double peak0, double peak1, int channelCount, int modeCount) {
    const int slot = peakIndex.load(std::memory_order_relaxed);
    if (channelCount == 1) {
        monoPeaks[slot].store(peak0, std::memory_order_relaxed);
    } else {
        leftPeaks[slot].store(peak0, std::memory_order_relaxed);
        rightPeaks[slot].store(peak1, std::memory_order_relaxed);
    }
    peakIndex.store((slot + 1) % kPeakRingSize, std::memory_order_relaxed);

    for (int e = 0; e < modeCount; ++e) resonators[e]->flushIfNegligible();

    // Impacts collected since the last exchange become the next block's forces; the buffer this
    // block consumed starts collecting afresh.
    MutexLock lock(forceMutex);
    std::swap(activeModalForce, pendingModalForce);
    memset(pendingModalForce, 0, sizeof(double) * totalModeCount);
}

namespace {

// The block after its gains, for `channelCount` channels: loads the forces, advances the active
// modes through the block in segments, mixes with the ramped gains, clips and interleaves into
// `out`, and keeps each channel's unclipped peak; then the gains become the previous gains.
// With imagGains and previousImagGains (the binaural block) the gains are complex.
void synthesizeBlock(AudioBlockContext& context, float* out, unsigned long frameCount,
                     int modeCount, int channelCount, double** gains, double** previousGains,
                     double peaks[2], double** imagGains = nullptr,
                     double** previousImagGains = nullptr) {
    loadModalForces();
    peaks[0] = peaks[1] = 0.0;
    const int N = static_cast<int>(frameCount);
    // The force acts from the first sample up to (not including) sample impactDuration; outside
    // 0 .. N-1 it never switches off within the block.
    const int duration = impactDuration.load(std::memory_order_relaxed);
    const bool forceEndsInBlock = duration >= 0 && duration < N;
    const int forceFrames = forceEndsInBlock ? duration : N;

    if (N > 0) {
        ModalBankLanes& bank = context.modalBankLanes;
        loadModalBankLanes(bank, resonators, modeCount, channelCount, previousGains, gains, N,
                           previousImagGains, imagGains);
        // The moving contact, when one sounds: its input glides across the block.
        if (context.contactShapes != nullptr) {
            context.publishedContact.tryLoad(&context.blockContact, 64);
            if (context.movingContact.take(context.blockContact, *context.contactShapes, modeCount,
                                           N)) {
                loadModalBankContact(bank, resonators, context.movingContact.startAmplitudes(),
                                     context.movingContact.endAmplitudes(),
                                     context.movingContact.signal(), N);
            }
        }
        renderModalBankBlock(bank, N, forceFrames, context.useAvx2Lanes,
                             [&](int first, int last, const double* const* mix) {
                                 for (int i = first; i < last; ++i) {
                                     for (int c = 0; c < channelCount; ++c) {
                                         const double y = mix[c][i - first];
                                         if (std::fabs(y) > peaks[c]) peaks[c] = std::fabs(y);
                                         out[i * channelCount + c] = clippedSample(y);
                                     }
                                 }
                             });
        storeModalBankLanes(bank, resonators);
    }
    if (forceEndsInBlock) {
        for (int i = 0; i < totalModeCount; ++i) resonators[i]->force = 0.0;
    }
    for (int c = 0; c < channelCount; ++c) {
        memcpy(previousGains[c], gains[c], sizeof(double) * totalModeCount);
        if (imagGains != nullptr) {
            memcpy(previousImagGains[c], imagGains[c], sizeof(double) * totalModeCount);
        }
    }
}

// The whole block for `channelCount` channels: its gains (recorded for the level view while it
// is wanted, then silenced where the solo and mute mask says), the block after them, the levels
// at the block's end, and the block's end.
void synthesizeChannels(AudioBlockContext& context, float* out, unsigned long frameCount,
                        int channelCount) {
    BlockGains block = computeBlockGains(context, channelCount, computeZepGains);
    const bool levelsWanted = context.modeLevelsWanted.load(std::memory_order_relaxed);
    if (levelsWanted) {
        recordModeGains(context.modeLevels, block.gains, channelCount, block.modeCount);
    }
    // An empty mask touches no gain: the block is then exactly the unmasked one.
    context.modeMask.apply(block.gains, channelCount, block.modeCount);
    double peaks[2];
    synthesizeBlock(context, out, frameCount, block.modeCount, channelCount, block.gains,
                    block.previousGains, peaks);
    if (levelsWanted) publishModeLevels(context.modeLevels, resonators, block.modeCount);
    finishBlock(peaks[0], peaks[1], channelCount, block.modeCount);
    context.lastBlockBinaural = false;
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
    // From a stereo or mono block: the real parts ramp from that block's gains, the imaginary
    // ones from 0.
    if (!context.lastBlockBinaural) {
        for (double* p : previousImag) memset(p, 0, sizeof(double) * totalModeCount);
    }
    const bool levelsWanted = context.modeLevelsWanted.load(std::memory_order_relaxed);
    if (levelsWanted) {
        recordComplexModeGains(context.modeLevels, block.gains, imag, block.modeCount);
    }
    double* allParts[4] = {block.gains[0], block.gains[1], imag[0], imag[1]};
    context.modeMask.apply(allParts, 4, block.modeCount);
    double peaks[2];
    synthesizeBlock(context, out, frameCount, block.modeCount, 2, block.gains, block.previousGains,
                    peaks, imag, previousImag);
    if (levelsWanted) publishModeLevels(context.modeLevels, resonators, block.modeCount);
    finishBlock(peaks[0], peaks[1], 2, block.modeCount);
    context.lastBlockBinaural = true;
}

void synthesizeMonoBlock(AudioBlockContext& context, float* out, unsigned long frameCount) {
    synthesizeChannels(context, out, frameCount, 1);
}

void synthesizeStereoBlock(AudioBlockContext& context, float* out, unsigned long frameCount) {
    synthesizeChannels(context, out, frameCount, 2);
}
