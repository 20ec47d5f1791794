// Small synthetic resonator banks for the audio-path tests: the process-wide synthesis state set
// up the way scene loading sets it (per-mode arrays, resonators, a transfer model held in memory,
// listener and pose published) with an audio block context of the test's own sized for it, and a
// way to save and restore the bank so that two renderings can start from the same state.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/scene_loading.h"
#include "geometry/listener_points.h"
#include "geometry/object_pose.h"
#include "sound/audio_block_context.h"
#include "sound/synthesis_state.h"

namespace synthetic {

// A point source record: position, then a0 .. a3 as (re, im) pairs.
struct SourceRecord {
    double values[11];
};

inline void releaseTransferModel() {
    for (double* block : transferModel.sourceBlocks) free(block);
    transferModel = TransferModel();
}

// Sets transferModel to one entry per mode with the given sources and wave numbers.
inline void setTransferModel(const std::vector<std::vector<SourceRecord>>& entries,
                             const std::vector<double>& waveNumbers) {
    releaseTransferModel();
    for (size_t j = 0; j < entries.size(); ++j) {
        double* block = static_cast<double*>(malloc(sizeof(double) * 11 * (entries[j].size() + 1)));
        for (size_t s = 0; s < entries[j].size(); ++s) {
            memcpy(block + 11 * s, entries[j][s].values, sizeof(double) * 11);
        }
        transferModel.sourceBlocks.push_back(block);
        transferModel.sourceCounts.push_back(static_cast<int>(entries[j].size()));
        transferModel.waveNumbers.push_back(waveNumbers[j]);
    }
    transferModel.frequencyCount = static_cast<int>(entries.size());
}

// A bank of modes with the given frequencies (Hz) and Rayleigh damping, a transfer model of one
// unit monopole at the object's origin per mode (k = omega / 343), everything else at its start
// value: forces, gains and peaks 0, renderer "ZEP", mono, impactDuration 10; `context` sized for
// it (empty mask, nothing published).
inline void makeBank(AudioBlockContext& context, const std::vector<double>& frequencies,
                     double massDamping, double stiffnessDamping) {
    const int r = static_cast<int>(frequencies.size());
    allocateModeArrays(r);
    context.allocate(r);
    std::vector<std::vector<SourceRecord>> entries;
    std::vector<double> waveNumbers;
    for (int i = 0; i < r; ++i) {
        modeOmega[i] = frequencies[i] * twoPi;
        modeStiffness[i] = modeOmega[i] * modeOmega[i];
        entries.push_back({SourceRecord{{0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}}});
        waveNumbers.push_back(modeOmega[i] / 343.0);
    }
    createResonators(massDamping, stiffnessDamping);
    setTransferModel(entries, waveNumbers);
    modalRendererGain = 15000.0;
    rendererType = 0;
    channelMode = 0;
    impactDuration = 10;
    clearPeakRings();
    peakIndex = 0;
}

inline void publishListener(const double eye[3], const double left[3], const double right[3]) {
    ListenerPoints p;
    memcpy(p.eye, eye, sizeof p.eye);
    memcpy(p.leftEar, left, sizeof p.leftEar);
    memcpy(p.rightEar, right, sizeof p.rightEar);
    publishedListener.store(p);
}

// Eye at `eye`, ears 0.1 to either side along z.
inline void publishEye(double x, double y, double z) {
    const double eye[3] = {x, y, z}, left[3] = {x, y, z + 0.1}, right[3] = {x, y, z - 0.1};
    publishListener(eye, left, right);
}

// Everything a block reads and writes, copied out and back in.
struct SavedBank {
    std::vector<ModalResonator> resonatorCopies;
    std::vector<double> arrays[8];
    int active = 0, peak = 0;

    static double** arrayPointers(int i) {
        static double** pointers[8] = {
            &activeModalForce, &pendingModalForce,    &monoTransfer,  &monoTransferPrevious,
            &leftTransfer,     &leftTransferPrevious, &rightTransfer, &rightTransferPrevious};
        return pointers[i];
    }

    void save() {
        resonatorCopies.clear();
        for (int i = 0; i < totalModeCount; ++i) resonatorCopies.push_back(*resonators[i]);
        for (int a = 0; a < 8; ++a) {
            arrays[a].assign(*arrayPointers(a), *arrayPointers(a) + totalModeCount);
        }
        active = activeModeCount;
        peak = peakIndex;
    }
    void restore() const {
        for (int i = 0; i < totalModeCount; ++i) *resonators[i] = resonatorCopies[i];
        for (int a = 0; a < 8; ++a) {
            std::copy(arrays[a].begin(), arrays[a].end(), *arrayPointers(a));
        }
        activeModeCount = active;
        peakIndex = peak;
    }
};

// Restores the published listener and pose and frees the synthetic transfer model at the end of
// a test, so tests do not see each other's state. Each test has an audio block context of its own.
class SyntheticBankTest : public ::testing::Test {
  protected:
    AudioBlockContext audio;

    void TearDown() override {
        publishEye(0, 0, 0);
        publishedObjectPose.store(identityPose());
        releaseTransferModel();
        allocateModeArrays(0);
        rendererType = 0;
        channelMode = 0;
        impactDuration = 10;
        clearPeakRings();
        peakIndex = 0;
    }
};

}  // namespace synthetic
