// Solo and mute of single modes: which modes of the bank reach the mix. The Modes window (GUI
// thread) and the offline renderer set the mask; the audio block reads it once per block and
// silences the gains of the modes left out, so a masked mode keeps ringing in its resonator and
// is heard again, in phase, as soon as the mask lets it through.
//
// Rule: a soloed mode is the only one that sounds (a solo overrides any mute); without a solo,
// every mode sounds except the muted ones. With nothing soloed or muted the mask does nothing at
// all: the block's gains, and so its samples, are bit for bit those of a bank without a mask.
//
// One mask belongs to each runner of audio blocks (sound/audio_block_context.h). It lives in
// relaxed atomics sized by allocate; a change made while a block runs takes effect in that block
// or the next, whole per mode.
#pragma once

#include <atomic>
#include <memory>

class ModeMask {
  public:
    // Sizes the mask for `modeCount` modes (>= 0), nothing soloed or muted; releases an earlier
    // size. GUI thread (or the offline renderer), while no block runs.
    void allocate(int modeCount);

    // Solos mode `mode` (0-based), or clears the solo when `mode` is negative or beyond the mask.
    // Any thread. Real-time: wait-free.
    void soloMode(int mode);
    // The soloed mode, or -1. Any thread. Real-time: wait-free.
    int soloedMode() const;

    // Mutes or unmutes mode `mode`; a mode outside the mask (0 .. its size - 1) is ignored.
    // Any thread (one writer at a time). Real-time: wait-free.
    void setModeMuted(int mode, bool muted);
    // Whether mode `mode` is muted (false outside the mask). Any thread. Real-time: wait-free.
    bool modeMuted(int mode) const;

    // Clears the solo and every mute. GUI thread. Real-time: wait-free, O(modes).
    void clear();

    // True when nothing is soloed or muted: the mask leaves the mix untouched.
    // Real-time: wait-free.
    bool empty() const;

    // Whether mode `mode` reaches the mix under the mask: the soloed one when there is a solo,
    // else every mode that is not muted. Real-time: wait-free.
    bool modeSounds(int mode) const;

    // Sets gains[c][e] = 0 for every channel c < channelCount and every mode e < modeCount that
    // does not sound; does nothing (touches no gain) when the mask is empty.
    // Preconditions: gains[c] holds at least modeCount entries; modeCount <= the mask's size.
    // Real-time: no allocation, no I/O, no lock; O(modeCount) when the mask is not empty.
    void apply(double* const* gains, int channelCount, int modeCount) const;

  private:
    std::atomic<int> solo_{-1};
    std::unique_ptr<std::atomic<unsigned char>[]> muted_ { new std::atomic<unsigned char>[1] {} };
    int size_ = 0;
    // Number of set flags in muted_; written after the flag it counts (release), read before the
    // flags (acquire), so a block that sees the count also sees the flag.
    std::atomic<int> mutedCount_{0};
};
