// One audio block of the demo's synthesis, without the device around it: the renderer's per-mode
// gains at the listener, then the bank block every runner shares (sound/bank_block.h: forces,
// resonators advanced and mixed with the gains ramped across the block, levels, flush of decayed
// modes) on the process-wide bank, clipping, the peak rings and the exchange of the force
// buffers. The PortAudio callbacks (sound/audio_callbacks.h) run it between taking and releasing
// synthesisMutex; the benchmark and the tests run it directly. Every block function takes the
// runner's context (sound/audio_block_context.h): the compact copy of the bank, the lane build,
// the mask and the level publication are its own.
//
// Audio thread (or a test standing in for it), with synthesisMutex held by the caller.
#pragma once

#include "geometry/object_pose.h"

struct AudioBlockContext;
class HrtfSet;

// Fills `out` with frameCount mono samples (full scale +-1): the renderer's gains, the forces
// loaded, the moving contact's input (context.publishedContact, when context.contactShapes is
// set: sound/moving_contact.h), the resonators advanced and mixed, clipping, the peak ring, the
// flush of decayed modes and the exchange of the force buffers. Listener: the published eye,
// brought into the object's frame with the published pose (or the last ones read whole, when the
// GUI thread is in the middle of a store: computeBlockGains). Renderer from rendererType: 0 "ZEP"
// (gain = omega_i * transfer at the eye), 1 "Modal" (every gain modalRendererGain / distance from
// the eye to the object's origin, 0 at distance 0). Clips to [-1, 1]; a sample that is not a number
// is written as 0. The block's largest |sample| before clipping goes to monoPeaks[peakIndex], and
// peakIndex advances. Solo and mute (context.modeMask, sound/mode_mask.h): the gains of the modes
// the mask leaves out are 0 in this block (they ramp there from the previous block's gain); with an
// empty mask nothing changes. While context.modeLevelsWanted is set, each mode's level at the
// listener at the block's end is published to context.modeLevels (sound/mode_levels.h).
// Preconditions: allocateModeArrays ran, and context.allocate with the same mode count;
// synthesisMutex is held.
// Real-time: no allocation, no I/O; takes forceMutex (inside synthesisMutex) to exchange the
// force buffers.
void synthesizeMonoBlock(AudioBlockContext& context, float* out, unsigned long frameCount);

// Fills `out` with frameCount interleaved (left, right) sample pairs: the stereo block. Always the
// "ZEP" renderer, evaluated at the published left and right ear points; peaks to leftPeaks and
// rightPeaks at the same peakIndex, which advances once.
// Preconditions and real-time behaviour as synthesizeMonoBlock.
void synthesizeStereoBlock(AudioBlockContext& context, float* out, unsigned long frameCount);

// Fills `out` with frameCount interleaved (left, right) sample pairs heard through a measured
// head: the binaural block. The gains are complex (sound/binaural_gains.h): the "ZEP" gain at
// the published eye (the head's centre) times each ear's HRTF from context.hrtf at each mode's
// frequency, for the object's direction in the head's frame (the published forward and up);
// the mix is Im(z g) per ear. Peaks, mask, levels ((|g_left|^2 + |g_right|^2) / 2) and the
// block's end as the stereo block. Without an HRTF set published (context.hrtf null) it is the
// stereo block. A block after a stereo or mono one ramps from that block's gains (real parts)
// and from 0 (imaginary parts).
// Preconditions and real-time behaviour as synthesizeMonoBlock; the HRTF set is read without a
// lock.
void synthesizeBinauralBlock(AudioBlockContext& context, float* out, unsigned long frameCount);

// [SECTION] Pieces of a block shared with the literal reference loop (bench/literal_block.h)

// The "ZEP" renderer's gains: transfer at the listener point `world` (world coordinates, brought
// into the object's frame with `pose`) times omega_i into gains[0 .. modeCount-1], with the lane
// build context.useAvx2Lanes.
// Real-time: no allocation, no I/O, no lock; one sine, one cosine per source.
void computeZepGains(const AudioBlockContext& context, const ObjectPose& pose,
                     const double world[3], double* gains, int modeCount);
// The "Modal" renderer's gains: all totalModeCount gains = modalRendererGain / |eye - pose
// translation|, or 0 when the eye is at the object's origin.
// Real-time: no allocation, no I/O, no lock.
void computeModalGains(const ObjectPose& pose, const double eye[3], double* gains);
// The "ZEP" gains at one listener point, as computeZepGains: the vectorised transfer there, the
// literal one in the reference loop.
using ZepGainFunction = void (*)(const AudioBlockContext& context, const ObjectPose& pose,
                                 const double world[3], double* gains, int modeCount);
// The gains of one block and where they go: the active mode count, and per channel this
// block's and the previous block's gain arrays (monoTransfer, or leftTransfer and rightTransfer).
struct BlockGains {
    int modeCount;
    double* gains[2];
    double* previousGains[2];
};
// The renderer's gains of a block of `channelCount` (1 or 2) channels, from one snapshot of the
// settings, the listener and the pose: mono with the "Modal" renderer when rendererType is 1,
// else `zepGains` at the eye; stereo always `zepGains` at the left and the right ear. The
// listener and the pose are the published ones, or, when the GUI thread is in the middle of
// storing one, the last ones read (context.blockListener, context.blockPose), which the
// snapshot updates.
// Real-time: wait-free reads of the listener and the pose; no allocation, no I/O, no lock.
BlockGains computeBlockGains(AudioBlockContext& context, int channelCount,
                             ZepGainFunction zepGains);
// The binaural block's gains from one snapshot of the listener and the pose (as
// computeBlockGains): real parts in leftTransfer and rightTransfer (block.gains), imaginary parts
// in context.binauralImag, whose arrays go to imag[0], imag[1].
// Real-time: wait-free reads of the listener and the pose; no allocation, no I/O, no lock.
BlockGains computeBinauralBlockGains(AudioBlockContext& context, const HrtfSet& hrtf,
                                     double* imag[2]);
// The forces of the block: resonators[i]->force = activeModalForce[i] * 26 for every mode.
// Real-time: no allocation, no I/O, no lock.
void loadModalForces();
// Sample value written to the device for the mixed value y: y clipped to [-1, 1]; 0 for NaN.
// Real-time: no allocation, no I/O, no lock.
inline float clippedSample(double y) {
    if (y > 1.0) return 1.0f;
    if (y < -1.0) return -1.0f;
    if (y != y) return 0.0f;
    return static_cast<float>(y);
}
// The end of a block, after the bank's (sound/bank_block.h): the peak rings and the exchange of
// the force buffers.
// Real-time: no allocation, no I/O; takes forceMutex (the caller holds synthesisMutex).
void finishBlock(double peak0, double peak1, int channelCount);
// activeModeCount, cut to 0 .. totalModeCount.
// Real-time: wait-free.
int activeModes();
