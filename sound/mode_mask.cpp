// The solo and mute mask of the mode bank: one atomic solo index, one atomic flag per mode and
// a count of the set flags, so the audio block tells an empty mask with two loads.
#include "sound/mode_mask.h"

void ModeMask::allocate(int modeCount) {
    if (modeCount < 0) modeCount = 0;
    const int entries = modeCount > 0 ? modeCount : 1;
    muted_.reset(new std::atomic<unsigned char>[entries]);
    for (int e = 0; e < entries; ++e) muted_[e].store(0, std::memory_order_relaxed);
    size_ = modeCount;
    solo_.store(-1, std::memory_order_relaxed);
    mutedCount_.store(0, std::memory_order_release);
}

void ModeMask::soloMode(int mode) {
    solo_.store(mode >= 0 && mode < size_ ? mode : -1, std::memory_order_release);
}

int ModeMask::soloedMode() const { return solo_.load(std::memory_order_acquire); }

void ModeMask::setModeMuted(int mode, bool on) {
    if (mode < 0 || mode >= size_) return;
    const unsigned char before = muted_[mode].exchange(on ? 1 : 0, std::memory_order_relaxed);
    if (before != (on ? 1 : 0)) mutedCount_.fetch_add(on ? 1 : -1, std::memory_order_release);
}

bool ModeMask::modeMuted(int mode) const {
    if (mode < 0 || mode >= size_) return false;
    return muted_[mode].load(std::memory_order_relaxed) != 0;
}

void ModeMask::clear() {
    solo_.store(-1, std::memory_order_release);
    for (int e = 0; e < size_; ++e) setModeMuted(e, false);
}

bool ModeMask::empty() const {
    return solo_.load(std::memory_order_acquire) < 0 &&
           mutedCount_.load(std::memory_order_acquire) == 0;
}

bool ModeMask::modeSounds(int mode) const {
    const int s = solo_.load(std::memory_order_acquire);
    if (s >= 0) return mode == s;
    return !modeMuted(mode);
}

void ModeMask::apply(double* const* gains, int channelCount, int modeCount) const {
    const int s = solo_.load(std::memory_order_acquire);
    if (s < 0 && mutedCount_.load(std::memory_order_acquire) == 0) return;
    for (int e = 0; e < modeCount; ++e) {
        const bool sounds = s >= 0 ? e == s : muted_[e].load(std::memory_order_relaxed) == 0;
        if (sounds) continue;
        for (int c = 0; c < channelCount; ++c) gains[c][e] = 0.0;
    }
}
