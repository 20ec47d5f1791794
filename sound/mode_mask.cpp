// The solo and mute mask of the mode bank: one atomic solo index, one atomic flag per mode and
// a count of the set flags, so the audio block tells an empty mask with two loads.
#include "sound/mode_mask.h"

#include <atomic>
#include <memory>

namespace {

std::atomic<int> solo{-1};
std::unique_ptr<std::atomic<unsigned char>[]> muted;
int maskSize = 0;
// Number of set flags in `muted`; written after the flag it counts (release), read before the
// flags (acquire), so a block that sees the count also sees the flag.
std::atomic<int> mutedCount{0};

}  // namespace

void allocateModeMask(int modeCount) {
    if (modeCount < 0) modeCount = 0;
    muted.reset(new std::atomic<unsigned char>[modeCount > 0 ? modeCount : 1]);
    for (int e = 0; e < (modeCount > 0 ? modeCount : 1); ++e) {
        muted[e].store(0, std::memory_order_relaxed);
    }
    maskSize = modeCount;
    solo.store(-1, std::memory_order_relaxed);
    mutedCount.store(0, std::memory_order_release);
}

void soloMode(int mode) {
    solo.store(mode >= 0 && mode < maskSize ? mode : -1, std::memory_order_release);
}

int soloedMode() { return solo.load(std::memory_order_acquire); }

void setModeMuted(int mode, bool on) {
    if (mode < 0 || mode >= maskSize) return;
    const unsigned char before = muted[mode].exchange(on ? 1 : 0, std::memory_order_relaxed);
    if (before != (on ? 1 : 0)) mutedCount.fetch_add(on ? 1 : -1, std::memory_order_release);
}

bool modeMuted(int mode) {
    if (mode < 0 || mode >= maskSize) return false;
    return muted[mode].load(std::memory_order_relaxed) != 0;
}

void clearModeMask() {
    solo.store(-1, std::memory_order_release);
    for (int e = 0; e < maskSize; ++e) setModeMuted(e, false);
}

bool modeMaskEmpty() {
    return solo.load(std::memory_order_acquire) < 0 &&
           mutedCount.load(std::memory_order_acquire) == 0;
}

bool modeSounds(int mode) {
    const int s = solo.load(std::memory_order_acquire);
    if (s >= 0) return mode == s;
    return !modeMuted(mode);
}

void applyModeMask(double* const* gains, int channelCount, int modeCount) {
    const int s = solo.load(std::memory_order_acquire);
    if (s < 0 && mutedCount.load(std::memory_order_acquire) == 0) return;
    for (int e = 0; e < modeCount; ++e) {
        const bool sounds = s >= 0 ? e == s : muted[e].load(std::memory_order_relaxed) == 0;
        if (sounds) continue;
        for (int c = 0; c < channelCount; ++c) gains[c][e] = 0.0;
    }
}
