// Spectra for tests of sounds and excitations: the power spectrum of a real signal by a plain
// radix-2 FFT, its spectral centroid, and the power in a band.
#pragma once

#include <vector>

// |X_k|^2 for k = 0 .. n/2 of the first n samples of `signal`, n the largest power of two not
// above signal.size(), after a Hann window.
std::vector<double> powerSpectrum(const std::vector<double>& signal);

// The power-weighted mean frequency sum f_k P_k / sum P_k in Hz, with bin k at k fs / n.
double spectralCentroid(const std::vector<double>& power, double samplingRate);

// The sum of P_k over the bins whose frequency k / n (in cycles per sample) lies in [low, high).
double bandPower(const std::vector<double>& power, double low, double high);
