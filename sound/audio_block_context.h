// What one runner of audio blocks keeps for its blocks beyond the program's shared synthesis
// state (sound/synthesis_state.h): the compact copy of the bank the block synthesises from and the
// choice of the lane loops' build, the solo and mute mask, the per-mode level publication and
// whether it is wanted, and the callbacks' own measurements (underflows, longest callback).
//
// Whoever runs blocks owns one and hands it to every block function: the demo program one
// instance (app/audio_context.h), which its PortAudio callbacks reach through the stream's user
// data pointer; the offline renderer its own; each test its own. Nothing of it is process-wide, so
// two runners never see each other's mask, levels or counts.
//
// Threads: created and allocated on the GUI thread (or the renderer's one thread) while no block
// runs; then each member is shared as its comment says.
#pragma once

#include <atomic>
#include <vector>

#include "geometry/listener_points.h"
#include "geometry/object_pose.h"
#include "platform/seqlock.h"
#include "sound/modal_bank_lanes.h"
#include "sound/mode_levels.h"
#include "sound/mode_mask.h"
#include "sound/moving_contact.h"

class HrtfSet;
class ModeShapeMatrix;

// The longest block a demo block plays a contact in: 44100 / 100 Hz, the lowest transfer rate.
constexpr int kMaxContactBlockFrames = 441;

struct AudioBlockContext {
    // An empty context (no modes) whose lane loops run the build the processor has
    // (processorHasAvx2(), sound/vector_lanes.h).
    AudioBlockContext();
    AudioBlockContext(const AudioBlockContext&) = delete;
    AudioBlockContext& operator=(const AudioBlockContext&) = delete;

    // Sizes the per-mode parts for a bank of `modeCount` modes (>= 0): the compact copy, the
    // mask (empty), the level publication's slots (nothing published) and the moving contact
    // (lifted, for blocks of up to kMaxContactBlockFrames frames); takes the published
    // listener and pose as the last ones read. Scene loading (and every other owner) calls it
    // right after allocateModeArrays with the same count.
    // GUI thread, while no block runs; allocates.
    void allocate(int modeCount);

    // [SECTION] The block's own: audio thread, under synthesisMutex
    // The compact structure-of-arrays copy of the active modes a block synthesises from.
    ModalBankLanes modalBankLanes{0};
    // Whether the lane loops (the bank's and the transfer's) run their AVX2 build: set at
    // construction to whether the processor has AVX2. Tests switch it off, while no block runs, to
    // check the baseline build; nothing else writes it.
    bool useAvx2Lanes;
    // The published listener and object pose as the last block read them whole. A block whose
    // read meets the GUI thread in the middle of a store (it may be preempted there) does not wait
    // for it: it hears these again, one store behind.
    ListenerPoints blockListener{};
    ObjectPose blockPose = identityPose();

    // The binaural block's imaginary gain parts per ear, this block's and the last one's (the
    // real parts are the stereo arrays leftTransfer and rightTransfer), and whether the last
    // block was binaural (if not, the imaginary parts ramp from 0).
    std::vector<double> binauralImag[2], binauralImagPrevious[2];
    bool lastBlockBinaural = false;

    // The moving contact's block side, and its setting as the last block read it whole.
    MovingContact movingContact;
    ContactSetting blockContact;

    // [SECTION] Set by the GUI thread (or the renderer), read once per block
    // The moving contact (a Shift drag on the object): stored whole by the GUI thread, read
    // wait-free by each block. Its mode shapes are set by scene loading before blocks run (null:
    // no contact is played).
    SeqLock<ContactSetting> publishedContact;
    const ModeShapeMatrix* contactShapes = nullptr;
    // The HRTF set of the binaural block (sound/hrtf_set.h), or null: read-only once published
    // (release store on the loading thread, acquire load once per block), never freed while
    // blocks may run; its owner keeps it alive (the demo: until the end of the process).
    std::atomic<const HrtfSet*> hrtf{nullptr};
    // Solo and mute of single modes.
    ModeMask modeMask;
    // While set (the Modes window is open, or the renderer writes levels), each block publishes
    // its modes' levels to modeLevels.
    std::atomic<bool> modeLevelsWanted{false};
    // The published per-mode levels: written by the audio thread, read by one reader thread.
    ModeLevelBuffer modeLevels;

    // [SECTION] The callbacks' measurements, read by the soak test's report at exit
    // Callbacks whose status flags reported an output underflow (the device ran dry before the
    // block arrived). Written by the audio thread.
    std::atomic<long> outputUnderflowCount{0};
    // The longest running time of any callback so far, in seconds, from before its wait for
    // synthesisMutex to the end of its block (as callbackSeconds). Written by the audio thread and
    // read, both under workloadMutex.
    double largestCallbackSeconds = 0.0;
};
