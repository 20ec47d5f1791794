// One audio block of one resonator bank once its gains are known: the level view's record, the
// solo and mute mask, the forces held in steps, the compact lanes, the moving contact, the frames
// mixed with the gains ramped across the block, the bank stored back, a force that ends in the
// block let go, this block's gains kept as the next block's start, the levels at the block's end
// and the flush of decayed modes.
//
// Every sample Tonwell plays comes from here: the demo's audio callbacks run it on the
// process-wide bank (sound/audio_block.h, under synthesisMutex), each engine object on its own
// bank (engine/engine_object.h, on the host's render thread). What differs between the two is
// only where the bank, its gains and its forces live and how they are handed over.
//
// Audio thread (or the engine's render thread, or a test standing in for either).
#pragma once

#include <cstring>

#include "sound/audio_block_context.h"
#include "sound/modal_bank_lanes.h"
#include "sound/modal_resonator.h"
#include "sound/mode_levels.h"
#include "sound/synthesis_state.h"  // modalForceGain

class ModeShapeMatrix;

// The longest block whose forces change in steps keeps this many steps apart.
constexpr int kMaxBankForceSteps = 8;

// Where one block of a bank reads and writes.
struct BankBlock {
    ModalResonator** resonators;  // the bank, modeCount entries
    int modeCount;                // the bank's modes
    int activeModes;              // modes 0 .. activeModes-1 sound (<= modeCount)
    int channelCount;             // 1 or 2
    // Per channel: this block's gains and the last block's (modeCount entries each). With
    // imagGains (two channels) the gains are complex, gains + i imagGains, and the mix is Im(z g).
    double* gains[2];
    double* previousGains[2];
    double* imagGains[2];          // null unless binaural
    double* previousImagGains[2];  // null unless binaural
    // The modal forces (before modalForceGain), by increasing duration: stepForce[k] acts from
    // frame stepFrames[k-1] (0 for k = 0) up to stepFrames[k]; after the last step the bank rings
    // on without force. One step whose frames reach the block's end holds the force over the whole
    // block. stepCount >= 1.
    const double* stepForce[kMaxBankForceSteps];
    int stepFrames[kMaxBankForceSteps];
    int stepCount;
    // The moving contact's mode shapes, or null when the bank plays no contact.
    const ModeShapeMatrix* contactShapes;
};

// Runs one block of `frameCount` frames (0 .. the lanes' capacity) of `block` with the lanes, the
// mask, the level publication, the binaural memory and the contact of `context`, handing each
// segment's mix to sink(first, last, mix) (mix[c][i - first] is channel c's sample of frame i).
// In order:
//   - the gains recorded for the level view while context.modeLevelsWanted (|g|^2, or
//     (|g_left|^2 + |g_right|^2) / 2 with complex gains), then silenced where context.modeMask
//     says (an empty mask touches nothing);
//   - a binaural block after a non-binaural one ramps its imaginary parts from 0;
//   - resonators[i]->force = stepForce[0][i] * modalForceGain for every mode; the lanes loaded
//     with the gain ramps; the contact's input when contactShapes is set
//     (context.publishedContact read wait-free into context.blockContact);
//   - the frames rendered step by step, each step's force reloaded where the previous one ends;
//   - the state stored back; the forces zeroed when the last step ends inside the block, so none
//     is held into the next one;
//   - the gains copied to the previous gains (all modeCount entries);
//   - the levels published while wanted, and the active modes' negligible states flushed.
// Real-time: no allocation, no I/O, no lock (as the sink); wait-free read of the contact.
template <typename Sink>
void runBankBlock(AudioBlockContext& context, const BankBlock& block, int frameCount, Sink&& sink) {
    const int modes = block.activeModes;
    const int channels = block.channelCount;
    const bool complexGains = block.imagGains[0] != nullptr;
    if (complexGains && !context.lastBlockBinaural) {
        for (double* p : block.previousImagGains) memset(p, 0, sizeof(double) * block.modeCount);
    }
    const bool levelsWanted = context.modeLevelsWanted.load(std::memory_order_relaxed);
    if (levelsWanted) {
        if (complexGains) {
            recordComplexModeGains(context.modeLevels, block.gains, block.imagGains, modes);
        } else {
            recordModeGains(context.modeLevels, block.gains, channels, modes);
        }
    }
    if (complexGains) {
        double* allParts[4] = {block.gains[0], block.gains[1], block.imagGains[0],
                               block.imagGains[1]};
        context.modeMask.apply(allParts, 4, modes);
    } else {
        double* gains[2] = {block.gains[0], block.gains[1]};
        context.modeMask.apply(gains, channels, modes);
    }

    auto holdForce = [&](int step) {
        const double* force = block.stepForce[step];
        for (int i = 0; i < block.modeCount; ++i) {
            block.resonators[i]->force = force[i] * modalForceGain;
        }
    };
    holdForce(0);
    const int N = frameCount;
    if (N > 0) {
        ModalBankLanes& bank = context.modalBankLanes;
        loadModalBankLanes(bank, block.resonators, modes, channels, block.previousGains,
                           block.gains, N, complexGains ? block.previousImagGains : nullptr,
                           complexGains ? block.imagGains : nullptr);
        // The moving contact, when one sounds: its input glides across the block.
        if (block.contactShapes != nullptr) {
            context.publishedContact.tryLoad(&context.blockContact, 64);
            if (context.movingContact.take(context.blockContact, *block.contactShapes, modes, N)) {
                loadModalBankContact(
                    bank, block.resonators, context.movingContact.startAmplitudes(),
                    context.movingContact.endAmplitudes(), context.movingContact.signal(), N);
            }
        }
        // Each step's force acts from the frame where the last one stopped up to (not including)
        // its own end; the frames after the last step run without force.
        int first = 0;
        for (int k = 0; k < block.stepCount && first < N; ++k) {
            int end = block.stepFrames[k] < N ? block.stepFrames[k] : N;
            if (end < first) end = first;
            if (k > 0) {
                holdForce(k);
                reloadModalBankForces(bank, block.resonators);
            }
            renderModalBankFrames(bank, first, end, true, context.useAvx2Lanes, sink);
            first = end;
        }
        renderModalBankFrames(bank, first, N, false, context.useAvx2Lanes, sink);
        storeModalBankLanes(bank, block.resonators);
    }
    if (block.stepFrames[block.stepCount - 1] < N) {
        for (int i = 0; i < block.modeCount; ++i) block.resonators[i]->force = 0.0;
    }
    for (int c = 0; c < channels; ++c) {
        memcpy(block.previousGains[c], block.gains[c], sizeof(double) * block.modeCount);
        if (complexGains) {
            memcpy(block.previousImagGains[c], block.imagGains[c],
                   sizeof(double) * block.modeCount);
        }
    }
    context.lastBlockBinaural = complexGains;
    if (levelsWanted) publishModeLevels(context.modeLevels, block.resonators, modes);
    for (int e = 0; e < modes; ++e) block.resonators[e]->flushIfNegligible();
}
