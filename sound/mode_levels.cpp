// The per-mode level publication: the triple buffer and the two steps of the audio block.
#include "sound/mode_levels.h"

#include <cmath>

void ModeLevelBuffer::allocate(int modeCapacity) {
    capacity_ = static_cast<size_t>(modeCapacity > 0 ? modeCapacity : 0);
    // One spare entry keeps slot() valid for a bank without modes.
    storage_.assign(3 * 2 * capacity_ + 1, 0.0);
    for (int s = 0; s < 3; ++s) counts_[s] = 0, blocks_[s] = 0;
    published_ = 0;
    back_ = 0;
    front_ = 1;
    middle_.store(2, std::memory_order_release);
}

void ModeLevelBuffer::publish(int modeCount) {
    counts_[back_] = modeCount;
    blocks_[back_] = published_++;
    // Release: the reader that takes this slot sees everything written to it. Acquire: the slot
    // coming back was last read by the reader, whose reads are then done.
    back_ = middle_.exchange(back_ | kFresh, std::memory_order_acq_rel) & ~kFresh;
}

bool ModeLevelBuffer::acquireLatest() {
    if ((middle_.load(std::memory_order_relaxed) & kFresh) == 0) return false;
    front_ = middle_.exchange(front_, std::memory_order_acq_rel) & ~kFresh;
    return true;
}

void recordModeGains(ModeLevelBuffer& levels, const double* const* gains, int channelCount,
                     int modeCount) {
    double* g2 = levels.writeGainsSquared();
    if (channelCount == 2) {
        for (int e = 0; e < modeCount; ++e) {
            g2[e] = 0.5 * (gains[0][e] * gains[0][e] + gains[1][e] * gains[1][e]);
        }
    } else {
        for (int e = 0; e < modeCount; ++e) g2[e] = gains[0][e] * gains[0][e];
    }
}

void recordComplexModeGains(ModeLevelBuffer& levels, const double* const* real,
                            const double* const* imag, int modeCount) {
    double* g2 = levels.writeGainsSquared();
    for (int e = 0; e < modeCount; ++e) {
        g2[e] = 0.5 * ((real[0][e] * real[0][e] + imag[0][e] * imag[0][e]) +
                       (real[1][e] * real[1][e] + imag[1][e] * imag[1][e]));
    }
}

void publishModeLevels(ModeLevelBuffer& levels, ModalResonator* const* resonators, int modeCount) {
    const double* g2 = levels.writeGainsSquared();
    double* level2 = levels.writeLevelsSquared();
    for (int e = 0; e < modeCount; ++e) {
        // |z|^2 = (Re z)^2 + (Im z)^2: the squared envelope of the displacement q = Im z.
        const double s = resonators[e]->stateReal, q = resonators[e]->displacement;
        level2[e] = (s * s + q * q) * g2[e];
    }
    levels.publish(modeCount);
}

double modeLevelDecibels(double levelSquared, double floor_dB) {
    if (!(levelSquared > 0.0)) return floor_dB;
    const double dB = 10.0 * std::log10(levelSquared);
    return dB > floor_dB ? dB : floor_dB;
}
