// The HRTF set: onsets and remainder spectra of the measured filters, and the gain at any
// direction and frequency.
#include "sound/hrtf_set.h"

#include <algorithm>
#include <cmath>

#include "sound/fourier_transform.h"

namespace {

// Zero padding: the DFT is at least this many times the filter's length.
constexpr int kPadding = 8;
// A direction this close to a measured one (radians) takes that measurement alone.
constexpr double kSameDirection = 1e-6;
// The band whose phase slope gives a filter's delay.
constexpr double kDelayBandTop_Hz = 1500.0;

// The delay of a filter, in samples, from its spectrum X[0 .. L/2] (L = dftLength): the slope of
// its unwrapped phase over 0 < f <= kDelayBandTop_Hz, a least-squares line through the phase at
// the band's first bin, each bin weighted by |X|^2 (bins with little energy have a noisy phase):
// tau = -d phi / d omega. A pure delay of d samples gives d exactly; for a measured head it is
// the low-frequency group delay, which carries the interaural time difference.
double delaySamples(const std::vector<std::complex<double>>& X, int dftLength, double sampleRate) {
    int top = static_cast<int>(kDelayBandTop_Hz * dftLength / sampleRate);
    top = std::min(top, static_cast<int>(X.size()) - 1);
    if (top < 2) return 0.0;
    // Unwrapped phase, bin by bin (padding keeps the step below pi for delays under L / 2).
    double phase = std::arg(X[1]);
    double sw = 0, swx = 0, swy = 0, swxx = 0, swxy = 0;
    for (int k = 1; k <= top; ++k) {
        if (k > 1) {
            double step = std::arg(X[k]) - std::arg(X[k - 1]);
            step -= 2.0 * M_PI * std::round(step / (2.0 * M_PI));
            phase += step;
        }
        const double w = std::norm(X[k]);
        const double x = 2.0 * M_PI * k / dftLength;  // omega in radians per sample
        sw += w;
        swx += w * x;
        swy += w * phase;
        swxx += w * x * x;
        swxy += w * x * phase;
    }
    const double denominator = sw * swxx - swx * swx;
    if (!(denominator > 0.0)) return 0.0;
    const double slope = (sw * swxy - swx * swy) / denominator;
    return std::max(0.0, -slope);
}

}  // namespace

HrtfSet::HrtfSet(std::string name, double sampleRate_Hz, int directionCount,
                 const double* directions, int filterLength, const float* impulseResponses,
                 const double* delays_samples)
    : name_(std::move(name)),
      sampleRate_(sampleRate_Hz),
      directionCount_(directionCount),
      filterLength_(filterLength) {
    dftLength_ = 2;
    while (dftLength_ < kPadding * filterLength) dftLength_ *= 2;
    binCount_ = dftLength_ / 2 + 1;
    binsPerHertz_ = dftLength_ / sampleRate_Hz;
    directions_.resize(3 * static_cast<size_t>(directionCount));
    for (int m = 0; m < directionCount; ++m) {
        const double* d = directions + 3 * m;
        const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        for (int k = 0; k < 3; ++k) directions_[3 * m + k] = d[k] / length;
    }
    onsets_.resize(2 * static_cast<size_t>(directionCount));
    remainders_.resize(2 * static_cast<size_t>(directionCount) * binCount_);
    std::vector<std::complex<double>> spectrum;
    for (int filter = 0; filter < 2 * directionCount; ++filter) {
        const float* h = impulseResponses + static_cast<size_t>(filter) * filterLength;
        realSequenceSpectrum(h, filterLength, dftLength_, &spectrum);
        const double onset = delaySamples(spectrum, dftLength_, sampleRate_Hz);
        const double extra = delays_samples == nullptr ? 0.0 : delays_samples[filter];
        onsets_[filter] = (onset + extra) / sampleRate_Hz;
        // R[k] = H[k] e^{+2 pi i k onset / L}: the filter's own onset taken out (the file's extra
        // delay never was in H).
        std::complex<float>* R = &remainders_[static_cast<size_t>(filter) * binCount_];
        for (int k = 0; k < binCount_; ++k) {
            const double angle = 2.0 * M_PI * k * onset / dftLength_;
            R[k] = std::complex<float>(spectrum[k] *
                                       std::complex<double>(std::cos(angle), std::sin(angle)));
        }
    }
}

void HrtfSet::weigh(const double direction[3], HrtfDirectionWeights* weights) const {
    double d[3] = {direction[0], direction[1], direction[2]};
    const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    if (!(length > 0.0) || !std::isfinite(length)) {
        d[0] = 1.0;
        d[1] = d[2] = 0.0;
    } else {
        for (double& v : d) v /= length;
    }
    // The three largest dot products, best first.
    int best[3] = {-1, -1, -1};
    double dots[3] = {-2.0, -2.0, -2.0};
    for (int m = 0; m < directionCount_; ++m) {
        const double* u = &directions_[3 * m];
        const double dot = u[0] * d[0] + u[1] * d[1] + u[2] * d[2];
        if (dot <= dots[2]) continue;
        int slot = 2;
        while (slot > 0 && dot > dots[slot - 1]) {
            dots[slot] = dots[slot - 1];
            best[slot] = best[slot - 1];
            --slot;
        }
        dots[slot] = dot;
        best[slot] = m;
    }
    weights->count = 0;
    double angles[3];
    for (int j = 0; j < 3 && best[j] >= 0; ++j) {
        angles[j] = std::acos(std::min(1.0, std::max(-1.0, dots[j])));
        weights->index[j] = best[j];
        weights->count = j + 1;
    }
    if (weights->count == 0) return;
    if (angles[0] < kSameDirection) {
        weights->count = 1;
        weights->weight[0] = 1.0;
        return;
    }
    double sum = 0.0;
    for (int j = 0; j < weights->count; ++j) {
        weights->weight[j] = 1.0 / angles[j];
        sum += weights->weight[j];
    }
    for (int j = 0; j < weights->count; ++j) weights->weight[j] /= sum;
}

double HrtfSet::delay(const HrtfDirectionWeights& weights, int ear) const {
    double tau = 0.0;
    for (int j = 0; j < weights.count; ++j) {
        tau += weights.weight[j] * onsets_[2 * weights.index[j] + ear];
    }
    return tau;
}

std::complex<double> HrtfSet::remainder(const HrtfDirectionWeights& weights, int ear,
                                        double frequency_Hz) const {
    std::complex<double> both[2];
    remainders(weights, frequency_Hz, both);
    return both[ear];
}

void HrtfSet::remainders(const HrtfDirectionWeights& weights, double frequency_Hz,
                         std::complex<double> out[2]) const {
    double position = frequency_Hz * binsPerHertz_;
    if (!(position > 0.0)) position = 0.0;
    const double last = binCount_ - 1;
    if (position > last) position = last;
    int k = static_cast<int>(position);
    if (k >= binCount_ - 1) k = binCount_ - 2;
    const double t = position - k;
    for (int ear = 0; ear < 2; ++ear) {
        double re = 0.0, im = 0.0;
        for (int j = 0; j < weights.count; ++j) {
            const std::complex<float>* R =
                &remainders_[static_cast<size_t>(2 * weights.index[j] + ear) * binCount_ + k];
            const double aRe = R[0].real(), aIm = R[0].imag();
            const double w = weights.weight[j];
            re += w * (aRe + t * (R[1].real() - aRe));
            im += w * (aIm + t * (R[1].imag() - aIm));
        }
        out[ear] = std::complex<double>(re, im);
    }
}

std::complex<double> HrtfSet::gain(const HrtfDirectionWeights& weights, int ear,
                                   double frequency_Hz) const {
    const double phase = -2.0 * M_PI * frequency_Hz * delay(weights, ear);
    return std::complex<double>(std::cos(phase), std::sin(phase)) *
           remainder(weights, ear, frequency_Hz);
}
