// A set of head-related transfer functions: for each measured direction around a head, the
// complex response of each ear, as a spectrum computed once from the measured impulse responses.
// A vibration mode is one frequency, so a binaural listener needs from it one complex gain per
// ear per mode (sound/binaural_gains.h): the response at the mode's frequency for the direction
// the object is seen in. The SOFA reader (sound/sofa_file.h) builds a set from a file; tests
// build one from impulse responses of their own through the same constructor.
//
// Threads: built on a loading thread (the GUI thread, the engine's control thread or the
// renderer's one thread), then read-only; the audio thread reads it without a lock once it has
// been handed over (sound/audio_block_context.h, engine/engine.h).
//
// Head frame (the SOFA convention): x forward (the nose), y to the left ear, z up; directions are
// unit vectors in it. Ear 0 is the left ear, ear 1 the right one.
//
// Each filter h is split into a delay and a remainder, H(f) = e^{-2 pi i f tau} R(f): tau is its
// low-frequency group delay (the slope of its unwrapped phase below 1.5 kHz, a least-squares
// line weighted by |H|^2; exact for a pure delay), plus the file's own delay, and R the spectrum
// of h with that delay taken out. The delays carry the interaural time difference; what is left
// in R turns slowly with frequency and differs less between neighbouring directions. The gain at
// a frequency f and a direction:
//   - directions: the three nearest measured ones (largest dot products), weighted by inverse
//     angular distance, w_j = (1/theta_j) / sum_k (1/theta_k); a direction within 1e-6 rad of a
//     measured one takes that measurement alone;
//   - tau = sum_j w_j tau_j, and R = sum_j w_j R_j(f), so neighbouring filters are averaged after
//     their delays are aligned, and the delay itself moves smoothly with the direction;
//   - frequency: R_j(f) linearly interpolated, real and imaginary parts, between the bins of a
//     DFT zero-padded to at least eight times the filter's length. Real and imaginary parts
//     rather than magnitude and unwrapped phase: they stay defined through the notches of the
//     outer ear, where the phase jumps by pi and unwrapping is ambiguous; the delay, which would
//     turn the phase fastest, is out of R. What is left is the chord between bins of a spectrum
//     whose filter still rings for some hundred samples: on the KEMAR set within 0.5 % of each
//     filter's peak response with eightfold padding (tests/sound/hrtf_set_test.cpp holds it
//     there); fourfold padding gave errors up to three times larger. Eightfold padding stores
//     23 MB for the KEMAR set's 710 directions of 512 samples.
#pragma once

#include <complex>
#include <string>
#include <vector>

// The measured directions nearest to a direction and their weights (HrtfSet::weigh).
struct HrtfDirectionWeights {
    int count = 0;  // 1 .. 3
    int index[3] = {0, 0, 0};
    double weight[3] = {0, 0, 0};  // sum to 1
};

class HrtfSet {
  public:
    // Builds the set from `directionCount` (>= 1) measurements at `sampleRate_Hz` (> 0):
    // directions[3 m .. 3 m + 2] the unit vector of measurement m (head frame; normalised here),
    // impulseResponses[(2 m + ear) * filterLength + n] sample n of ear `ear`'s filter (ear 0
    // left), delays_samples[2 m + ear] a delay the file gives on top of the filter (or null for
    // none). Computes every filter's onset and remainder spectrum. Preconditions: filterLength
    // >= 1, the directions non-zero. Allocates: about 2 * directionCount * 4 * filterLength
    // complex floats. `name` is what messages call the set (its file).
    HrtfSet(std::string name, double sampleRate_Hz, int directionCount, const double* directions,
            int filterLength, const float* impulseResponses, const double* delays_samples);

    const std::string& name() const { return name_; }
    double sampleRate() const { return sampleRate_; }
    int directionCount() const { return directionCount_; }
    int filterLength() const { return filterLength_; }
    // Measured direction m (unit vector, head frame).
    const double* direction(int m) const { return &directions_[3 * m]; }

    // The measured directions nearest to the unit vector `direction` (head frame) and their
    // weights, as stated at the top of this file. A zero vector is taken as straight ahead.
    // Real-time: no allocation, no I/O, no lock; O(directionCount) dot products, up to three
    // arc cosines.
    void weigh(const double direction[3], HrtfDirectionWeights* weights) const;

    // Ear `ear`'s (0 left, 1 right) complex gain at frequency_Hz (>= 0; beyond half the sample
    // rate the last bin's value is held) for the weighted directions: e^{-2 pi i f tau} R with
    // tau and R weighted as stated at the top of this file. Time convention e^{+i omega t}: a
    // filter that only delays by d gives e^{-i omega d}.
    // Real-time: no allocation, no I/O, no lock; one sine and one cosine.
    std::complex<double> gain(const HrtfDirectionWeights& weights, int ear,
                              double frequency_Hz) const;
    // The weighted onset delay of ear `ear`, seconds, and the weighted remainder R at
    // frequency_Hz: the two factors of gain(), for callers that apply the delay themselves.
    // Real-time: no allocation, no I/O, no lock, no transcendental function.
    double delay(const HrtfDirectionWeights& weights, int ear) const;
    std::complex<double> remainder(const HrtfDirectionWeights& weights, int ear,
                                   double frequency_Hz) const;

    // Both ears' remainders at frequency_Hz: out[0] left, out[1] right (as remainder(), with the
    // frequency's bin and fraction found once).
    // Real-time: no allocation, no I/O, no lock, no transcendental function.
    void remainders(const HrtfDirectionWeights& weights, double frequency_Hz,
                    std::complex<double> out[2]) const;

  private:
    std::string name_;
    double sampleRate_;
    int directionCount_;
    int filterLength_;
    int dftLength_;                                // zero-padded length, a power of two
    int binCount_;                                 // dftLength_ / 2 + 1
    double binsPerHertz_;                          // dftLength_ / sampleRate_
    std::vector<double> directions_;               // 3 per measurement
    std::vector<double> onsets_;                   // seconds, 2 per measurement (left, right)
    std::vector<std::complex<float>> remainders_;  // binCount_ per filter, filter 2 m + ear
};
