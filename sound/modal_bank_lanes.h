// The audio callbacks' fast path through the resonator bank: a compact structure-of-arrays copy
// of the active modes, taken at the start of a block, advanced and mixed four modes per vector
// lane group, and written back to the ModalResonator objects at the block's end. The resonators
// stay the owners of every mode's state and coefficients; this copy only lives within a block.
//
// The state recurrence is the resonator's own (same operations in the same order, so the states
// written back are bit for bit those of ModalResonator::advance); the mix applies the per-mode
// gain ramp T_prev + i (T - T_prev) / N incrementally, which differs from the literal
// ((N - i) T_prev + i T) / N only in rounding. A bank loaded with complex gains (the binaural
// output, sound/binaural_gains.h) mixes Im(z g) = q Re(g) + s Im(g) per channel, both parts
// ramped the same way; real gains mix q g as before, with the same operations.
//
// Audio thread only, under synthesisMutex. One belongs to each runner of audio blocks, in its
// context (sound/audio_block_context.h), sized with the bank when the scene is loaded.
#pragma once

#include <vector>

#include "sound/modal_resonator.h"
#include "sound/vector_lanes.h"

struct ModalBankLanes {
    static constexpr int kLaneWidth = 4;
    static constexpr int kGroupModes = 8;       // modes advanced together per pass over the frames
    static constexpr int kSegmentFrames = 256;  // frames mixed per pass over the modes
    static constexpr int kMaxChannels = 2;

    // Storage for up to `modeCapacity` modes (padded to whole groups).
    explicit ModalBankLanes(int modeCapacity);

    int capacity;  // modes, a multiple of kGroupModes
    int modeCount = 0;
    int channelCount = 1;
    // Per mode (capacity entries): state, step factor E, force term G f, gain ramp per channel.
    std::vector<double> stateReal, displacement;
    std::vector<double> stepReal, stepImag;
    std::vector<double> forceReal, forceImag;
    std::vector<double> gainStart[kMaxChannels], gainStep[kMaxChannels];
    // Complex gains: their imaginary parts' ramps, which weight stateReal.
    bool complexGains = false;
    std::vector<double> gainImagStart[kMaxChannels], gainImagStep[kMaxChannels];
    // A moving contact's input (loadModalBankContact): per mode the terms G a at the block's
    // start and their change per frame, and the block's excitation signal, one value per frame;
    // null when no contact drives the bank this block.
    std::vector<double> contactReal, contactImag, contactStepReal, contactStepImag;
    const double* contactSignal = nullptr;
    // Per-frame partial sums of one segment, one lane per mode slot, per channel.
    ModeLanes mixLanes[kMaxChannels][kSegmentFrames];
};

// Copies the state, step factors and held force terms G f of resonators[0 .. modeCount-1] into
// `bank`, and the gain ramps of `channelCount` (1 or 2) channels: channel c starts at
// previousGains[c][e] and moves by (gains[c][e] - previousGains[c][e]) / frameCount per frame.
// With previousImagGains and imagGains (both or neither; two channels), the gains are complex:
// gains + i imagGains, the imaginary parts ramped the same way, and the mix is Im(z g).
// Preconditions: 0 <= modeCount <= bank.capacity; frameCount > 0.
// Real-time: no allocation, no I/O, no lock.
void loadModalBankLanes(ModalBankLanes& bank, ModalResonator* const* resonators, int modeCount,
                        int channelCount, const double* const* previousGains,
                        const double* const* gains, int frameCount,
                        const double* const* previousImagGains = nullptr,
                        const double* const* imagGains = nullptr);

// Adds a moving contact's input to a loaded bank for this block: mode e (< modeCount, the
// loaded ones) receives, at frame i, the force a_e(i) signal[i] on top of its held force, with
// a_e moving linearly from startAmplitude[e] (before the block) to endAmplitude[e] (its last
// frame): a_e(i) = start + (i + 1) (end - start) / frameCount. Sets bank.contactSignal =
// signal, which must hold frameCount values and live until the block is rendered. The bank's
// next loadModalBankLanes clears the contact again.
// Real-time: no allocation, no I/O, no lock.
void loadModalBankContact(ModalBankLanes& bank, ModalResonator* const* resonators,
                          const double* startAmplitude, const double* endAmplitude,
                          const double* signal, int frameCount);

// Advances every loaded mode by `frameCount` samples (at most kSegmentFrames), frames
// firstFrame .. firstFrame + frameCount - 1 of the block, with the held force when `withForce`
// and without it otherwise, plus the contact's input when bank.contactSignal is set, and writes
// each channel's mix sum_e q_e[i] g_e[i] (with complex gains sum_e Im(z_e[i] g_e[i])) to
// mix[c][0 .. frameCount-1]. Runs the AVX2 build of the
// loop when `useAvx2Lanes` is set (the processor must have AVX2), the baseline build otherwise;
// both give the same bits. Real-time: no allocation, no I/O, no lock, no transcendental function.
void renderModalBankLanes(ModalBankLanes& bank, int firstFrame, int frameCount, bool withForce,
                          double* const* mix, bool useAvx2Lanes);

// Takes new held force terms G f from resonators[0 .. bank.modeCount-1]'s `force` into a loaded
// bank, in the middle of a block: the frames rendered after this call advance with them (a force
// that changes in steps within one block, as strikes of different durations give).
// Real-time: no allocation, no I/O, no lock.
void reloadModalBankForces(ModalBankLanes& bank, ModalResonator* const* resonators);

// Writes the state back: stateReal, displacement and velocity = Im(lambda z) of
// resonators[0 .. bank.modeCount-1].
// Real-time: no allocation, no I/O, no lock.
void storeModalBankLanes(const ModalBankLanes& bank, ModalResonator* const* resonators);

// Runs frames firstFrame .. lastFrame-1 of a block through a loaded bank, all with the held force
// (`withForce`) or all without, in segments of at most kSegmentFrames counted from firstFrame.
// Each segment's mix goes to sink(first, last, mix), mix[c][i - first] being channel c's sample
// of frame i, first <= i < last.
// Real-time: no allocation, no I/O, no lock (as renderModalBankLanes and the sink).
template <typename Sink>
void renderModalBankFrames(ModalBankLanes& bank, int firstFrame, int lastFrame, bool withForce,
                           bool useAvx2Lanes, Sink&& sink) {
    double mixBuffers[ModalBankLanes::kMaxChannels][ModalBankLanes::kSegmentFrames];
    double* mix[ModalBankLanes::kMaxChannels] = {mixBuffers[0], mixBuffers[1]};
    for (int first = firstFrame; first < lastFrame;) {
        int last = first + ModalBankLanes::kSegmentFrames;
        if (last > lastFrame) last = lastFrame;
        renderModalBankLanes(bank, first, last - first, withForce, mix, useAvx2Lanes);
        sink(first, last, static_cast<double* const*>(mix));
        first = last;
    }
}
