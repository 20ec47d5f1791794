// Each mode's level at the listener, block by block: what the Modes window draws as bars and
// the offline renderer writes to its CSV file. The audio block computes it at the end of the
// block from the same quantities the mix uses, and publishes it to the GUI thread through a
// triple buffer: the audio thread always has a slot of its own to write, the GUI thread always
// has a whole slot to read, and neither ever waits for the other.
//
// Level: a mode's displacement is q = Im z with the resonator's complex state z, whose modulus
// |z| is the envelope of q (q = |z| sin(omega_d t + phi) while it rings freely). The mix adds
// q g per mode, with g the renderer's gain (omega times the acoustic transfer for "ZEP"), so the
// amplitude the mode contributes at the listener is |z| |g|, in full-scale units (1 Pa for
// "ZEP"). The published value is its square, |z|^2 g^2, which needs no root on the audio thread;
// in stereo g^2 is the mean of the two ears' squared gains. The gain is the mode's own, before
// solo or mute (sound/mode_mask.h), so a silenced mode shows how loud it would be.
//
// Publication costs O(modes) per block, against O(modes x frames) for the block itself, and is
// made only while the block's context asks for it (modeLevelsWanted, sound/audio_block_context.h,
// which also holds the buffer).
#pragma once

#include <atomic>
#include <cstddef>
#include <vector>

#include "sound/modal_resonator.h"

// The three slots of per-mode levels and gains and their hand-over.
class ModeLevelBuffer {
  public:
    // Storage for `modeCapacity` modes (>= 0) in each of the three slots, all zero, nothing
    // published. GUI thread, before the audio stream runs (AudioBlockContext::allocate calls
    // it).
    void allocate(int modeCapacity);

    // [Audio thread] The slot being written: squared gains and squared levels, capacity entries.
    // Real-time: wait-free.
    double* writeGainsSquared() { return slot(back_) + 0; }
    double* writeLevelsSquared() { return slot(back_) + capacity_; }
    // [Audio thread] Hands the slot written over to the reader, with its mode count, and takes
    // the slot the reader gave up (or last left unread) as the next to write.
    // Real-time: wait-free; one atomic exchange.
    void publish(int modeCount);

    // [GUI thread] Takes the newest published slot, if one was published since the last call;
    // returns whether there was one. The read slot then stays the reader's until the next call.
    // Real-time: wait-free; one load and at most one atomic exchange.
    bool acquireLatest();
    // [GUI thread] The read slot: its mode count, squared gains and squared levels (modeCount()
    // entries each), and the number of blocks published before it (0 for the first).
    int modeCount() const { return counts_[front_]; }
    long blockNumber() const { return blocks_[front_]; }
    const double* gainsSquared() const { return slot(front_); }
    const double* levelsSquared() const { return slot(front_) + capacity_; }

  private:
    static constexpr int kFresh = 4;  // flag bit in middle_: the middle slot is newly published
    double* slot(int index) { return &storage_[static_cast<std::size_t>(index) * 2 * capacity_]; }
    const double* slot(int index) const {
        return &storage_[static_cast<std::size_t>(index) * 2 * capacity_];
    }

    std::vector<double> storage_;  // 3 slots of 2 x capacity_ doubles
    std::size_t capacity_ = 0;
    int counts_[3] = {0, 0, 0};
    long blocks_[3] = {0, 0, 0};
    long published_ = 0;          // audio thread: blocks published so far
    int back_ = 0;                // audio thread's slot
    int front_ = 1;               // GUI thread's slot
    std::atomic<int> middle_{2};  // the slot between them, with kFresh when it is new
};

// [Audio thread] Records the squared gain of modes 0 .. modeCount-1 into the write slot of
// `levels`, before the mask silences any: g^2 in mono, (g_left^2 + g_right^2) / 2 in stereo.
// Precondition: modeCount <= the capacity `levels` was allocated for.
// Real-time: no allocation, no I/O, no lock.
void recordModeGains(ModeLevelBuffer& levels, const double* const* gains, int channelCount,
                     int modeCount);

// [Audio thread] The same for the complex gains of the binaural output (sound/binaural_gains.h):
// (|g_left|^2 + |g_right|^2) / 2 with g = real + i imag per ear.
// Real-time: no allocation, no I/O, no lock.
void recordComplexModeGains(ModeLevelBuffer& levels, const double* const* real,
                            const double* const* imag, int modeCount);

// [Audio thread] Completes the write slot of `levels` with the squared levels |z_e|^2 g_e^2 of
// modes 0 .. modeCount-1 from the resonators' state (at the end of the block) and publishes it.
// Precondition: recordModeGains ran for this block with the same modeCount.
// Real-time: no allocation, no I/O, no lock, no transcendental function.
void publishModeLevels(ModeLevelBuffer& levels, ModalResonator* const* resonators, int modeCount);

// A squared level in decibels, 10 log10(levelSquared), never below `floor_dB`.
double modeLevelDecibels(double levelSquared, double floor_dB);
