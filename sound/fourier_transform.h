// The discrete Fourier transform of a real sequence, by a radix-2 fast transform: what the HRTF
// set (sound/hrtf_set.h) takes of each measured impulse response once, when a file is read.
// Loading code only (GUI or control thread); it allocates.
//
// Convention: the analysis sign of the e^{+i omega t} time convention,
//   X[k] = sum_n x[n] e^{-2 pi i k n / L},  k = 0 .. L/2,
// so a sequence delayed by d samples has X[k] e^{-2 pi i k d / L}.
#pragma once

#include <complex>
#include <vector>

// X[0 .. length/2] of x[0 .. count-1] zero-padded to `length` samples, into spectrum (resized to
// length/2 + 1). Preconditions: length is a power of two >= 2 and count <= length.
// Cost: O(length log length).
void realSequenceSpectrum(const float* x, int count, int length,
                          std::vector<std::complex<double>>* spectrum);
