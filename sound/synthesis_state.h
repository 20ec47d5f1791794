// The run-time state of the synthesis that crosses between the parts of the program: the
// resonator bank and the per-mode arrays (created by scene loading, read and written by the audio
// callbacks under synthesisMutex), the two force buffers (forceMutex), the panel's settings the
// callbacks read once per block (atomics), the peak rings the level meters read (atomics) and the
// callback's running time (workloadMutex); and the three mutexes themselves, the block size and
// the callback's own timer, which the audio thread shares with the GUI thread.
//
// The mutexes and the timer exist before main and outlive every at-exit handler; everything else
// here lives from scene loading to the end of the process.
#pragma once

#include <atomic>

#include "platform/interval_timer.h"
#include "platform/mutex.h"
#include "sound/modal_resonator.h"
#include "sound/transfer_model.h"

// Multiplies every modal force when the audio callback loads it into the resonators.
constexpr double modalForceGain = 26.0;
// The audio time step, 1/44100 s.
constexpr double audioTimeStep = 2.2675736961451248e-05;
// Number of blocks each peak ring remembers.
constexpr int kPeakRingSize = 10;
// Audio output rate, in Hz.
constexpr int kAudioSamplingRate = 44100;

// [SECTION] Threads: the locks, the block size and the callback's timer
// The three mutexes, created unowned before main and alive until after every at-exit handler;
// priority-inheriting (platform/mutex.h), since the audio callback waits for each while the GUI
// thread may hold it. Lock order: synthesisMutex before forceMutex; workloadMutex is always taken
// alone; the GUI thread never holds two at once.
extern Mutex synthesisMutex;  // resonator bank, per-mode gains, loading of modal forces
extern Mutex forceMutex;      // pendingModalForce and its exchange with activeModalForce
extern Mutex workloadMutex;   // callbackSeconds and the composition of the status line
// Audio frames per callback and per transfer update: 44100 / zepSamplingRate (integer division,
// set once by readZepSamplingRate before the streams open); 220 until then.
extern int blockSize;
// The audio callback's own running time, from before it waits for synthesisMutex; initialised
// before main, reset and read by the audio thread only.
extern IntervalTimer callbackStartTime;

// [SECTION] Per-mode data (totalModeCount entries each, indexed by mode number)
extern int totalModeCount;
extern ModalResonator** resonators;  // the bank; synthesisMutex
extern double* modeOmega;            // omega_i = f_i * 6.28318530717958, rad/s; read-only
extern double* modeStiffness;        // omega_i^2, N/m for unit modal mass; read-only
extern double* activeModalForce;     // forces the current block loads; swapped under forceMutex
extern double* pendingModalForce;    // forces impacts add for the next block; forceMutex
// Per-mode gains of this block and of the previous block; synthesisMutex.
extern double* monoTransfer;
extern double* monoTransferPrevious;
extern double* leftTransfer;
extern double* leftTransferPrevious;
extern double* rightTransfer;
extern double* rightTransferPrevious;

// [SECTION] Scene constants the callbacks read
extern TransferModel transferModel;  // read-only after scene loading
extern double modalRendererGain;     // numerator of the "Modal" renderer's 1/distance law

// [SECTION] Panel settings, written by the GUI thread at any time, read once per block
extern std::atomic<int> rendererType;     // 0 "ZEP", 1 "Modal"
extern std::atomic<int> channelMode;      // 0 "Mono (omni)", 1 "Stereo (omni)", 2 "Binaural"
extern std::atomic<int> activeModeCount;  // modes 0 .. activeModeCount-1 sound
extern std::atomic<int> impactDuration;   // samples an impact force acts, 1 .. 256

// [SECTION] Published by the callbacks
// Largest absolute sample (before clipping) of each of the last 10 blocks, per channel.
extern std::atomic<double> monoPeaks[kPeakRingSize];
extern std::atomic<double> leftPeaks[kPeakRingSize];
extern std::atomic<double> rightPeaks[kPeakRingSize];
extern std::atomic<int> peakIndex;  // slot the next block writes, 0..9
extern double callbackSeconds;      // running time of the last callback, s; workloadMutex

// Creates the bank's per-mode storage for `modeCount` modes (>= 0): modeOmega, modeStiffness,
// both force buffers and the six gain arrays zero-filled, `resonators` as modeCount null
// pointers; sets totalModeCount and activeModeCount to modeCount. Storage of an earlier call is
// released first (the previous resonators are deleted). Scene loading calls it once, then fills
// modeOmega, modeStiffness and resonators; tests call it for each synthetic bank. The block
// runner's own per-mode parts are sized apart, with the same count (AudioBlockContext::allocate,
// sound/audio_block_context.h). GUI thread, before the audio stream runs.
void allocateModeArrays(int modeCount);

// Creates resonator i for every mode as scene loading does: mass 1, stiffness modeStiffness[i],
// time step 1/44100 and Rayleigh damping c_i = stiffnessDamping * modeStiffness[i] +
// massDamping (alpha + beta omega^2 for unit modal mass). Modes whose damping is refused print
// the resonator's message and stay silent. Precondition: allocateModeArrays ran and
// modeStiffness is filled.
void createResonators(double massDamping, double stiffnessDamping);

// Sets the Rayleigh damping of every mode: setDamping(stiffnessDamping * modeStiffness[i] +
// massDamping) on each, all of them attempted even after a refusal. Returns the number of modes
// that refused (and kept their previous coefficients). The caller holds synthesisMutex.
int setBankDamping(double massDamping, double stiffnessDamping);

// Sets the 10 entries of the three peak rings to 0. Any thread.
// Real-time: wait-free; no allocation, no I/O, no lock.
void clearPeakRings();
