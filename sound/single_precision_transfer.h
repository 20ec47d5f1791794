// The transfer model (sound/transfer_model.h) evaluated in single precision, eight sources per
// lane group: for a host with many sounding objects, where the transfer sum is most of the
// block's cost. The double-precision evaluation reads each source's 11-value record and
// transposes four of them into lanes; here the sources are copied once, at loading, into
// structure-of-arrays groups of eight floats, and each group takes one pass of eight-lane square
// root, division, sine and cosine.
//
// Accuracy: the phase k r carries single precision's relative error, about 1e-7 k r (1e-3 rad at
// k r = 1e4: 8 kHz heard 70 m away), and the sum of a mode's sources the rounding of their
// terms: against the exact sum within (1e-5 + 5e-7 k r) of the sum of the terms' magnitudes, far
// below what an ear or a speaker resolves. It is not the demo's output
// bit for bit, which is why the engine uses it only when asked to
// (Engine::setSinglePrecisionTransfer).
#pragma once

#include <vector>

class TransferModel;

class SinglePrecisionTransfer {
  public:
    SinglePrecisionTransfer() = default;
    // Copies `model`'s sources. Loading code: allocates.
    explicit SinglePrecisionTransfer(const TransferModel& model);

    // As TransferModel::evaluateTransfer, in single precision: out[i] = |sum of entry i's sources'
    // pressure at `position`| for i < count (count < 0 or above the model's: all), a source at the
    // position left out and a sum that is not finite given as 0. `useAvx2Lanes` runs the AVX2
    // build (the processor must have it: processorHasAvx2()), which gives the baseline's values.
    // Real-time: no allocation, no I/O, no lock; per eight sources two square roots, one
    // division and a polynomial sine and cosine (the C library's beyond k r = 8192).
    void evaluate(const double position[3], double* out, int count, bool useAvx2Lanes) const;

    int frequencyCount() const { return int(waveNumbers.size()); }

    // Entry i: groups firstGroup[i] .. firstGroup[i + 1] - 1; group g: kRows rows of 8 floats
    // from lanes[g * kRows * 8] (x, y, z, then a0 .. a3 as real and imaginary parts), its unused
    // lanes' coefficients zero. Read-only after construction.
    static constexpr int kRows = 11;
    std::vector<float> lanes;
    std::vector<int> firstGroup;
    std::vector<float> waveNumbers;
};
