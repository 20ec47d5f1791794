// The loudness-matched contact roughness (see contact_loudness.h).
#include "sound/contact_loudness.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

#include "geometry/mode_shape_matrix.h"
#include "sound/contact_excitation.h"
#include "sound/fourier_transform.h"
#include "sound/modal_resonator.h"
#include "sound/transfer_model.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kStrikeWindow_s = 0.1;  // the strike's loudness: its first 100 ms
constexpr int kSegment = 4096;           // the periodogram's segments (10.8 Hz bins)
constexpr int kSegments = 31;            // half-overlapping: 2^16 samples

// Power spectral density per sample of the scrape's force at the reference speed and unit sigma,
// bins 0 .. kSegment / 2: mean of |X_k|^2 / sum w^2 over Hann-windowed half-overlapping
// segments, so that the bins' mean over the whole circle is the signal's mean square.
std::vector<double> scrapeSpectrum() {
    const RoughnessProfileDesign design =
        designRoughnessProfile(ContactKind::kScrape, kDefaultContactSlope, kDefaultBallRadius_m);
    ContactExcitation excitation;
    const int total = kSegment / 2 * (kSegments + 1);
    std::vector<double> signal(size_t(total), 0.0);
    excitation.generate(design, 1.0, kReferenceContactSpeed_mps, kReferenceContactSpeed_mps, total,
                        signal.data());
    std::vector<double> window(kSegment);
    double windowPower = 0.0;
    for (int n = 0; n < kSegment; ++n) {
        window[size_t(n)] = 0.5 - 0.5 * std::cos(2.0 * kPi * n / kSegment);
        windowPower += window[size_t(n)] * window[size_t(n)];
    }
    std::vector<double> density(kSegment / 2 + 1, 0.0);
    std::vector<float> segment(kSegment);
    std::vector<std::complex<double>> spectrum;
    for (int s = 0; s < kSegments; ++s) {
        for (int n = 0; n < kSegment; ++n)
            segment[size_t(n)] =
                static_cast<float>(signal[size_t(s * kSegment / 2 + n)] * window[size_t(n)]);
        realSequenceSpectrum(segment.data(), kSegment, kSegment, &spectrum);
        for (size_t k = 0; k < density.size(); ++k)
            density[k] += std::norm(spectrum[k]) / (windowPower * kSegments);
    }
    return density;
}

// The density at `cyclesPerSample` (0 .. 0.5), interpolated between bins.
double densityAt(const std::vector<double>& density, double cyclesPerSample) {
    const double bin = std::clamp(cyclesPerSample * kSegment, 0.0, double(density.size() - 1));
    const size_t below = std::min(size_t(bin), density.size() - 2);
    const double t = bin - double(below);
    return (1.0 - t) * density[below] + t * density[below + 1];
}

}  // namespace

double loudnessMatchedRoughness(const ModalResonator* const* resonators, const double* gains,
                                const double* shapePower, int modeCount, int impactFrames) {
    // The same for every object (the default profile at the reference speed): measured once.
    static const std::vector<double> density = scrapeSpectrum();
    double strike = 0.0, scrape = 0.0;
    for (int j = 0; j < modeCount; ++j) {
        const ModalResonator& r = *resonators[j];
        const double input = std::hypot(r.inputFactor[0], r.inputFactor[1]);
        const double weight = input * input * gains[j] * gains[j] * shapePower[j];
        const double cyclesPerSample = r.dampedOmega * r.timeStep / (2.0 * kPi);
        if (!(weight > 0.0) || !(cyclesPerSample < 0.5)) continue;
        const std::complex<double> step(r.stepFactor[0], r.stepFactor[1]);
        const double decay = std::norm(step);  // |E|^2 a sample
        if (!(decay < 1.0)) continue;
        std::complex<double> pulse = 0.0, power = 1.0;
        for (int m = 0; m < impactFrames; ++m, power *= step) pulse += power;
        const double window = std::max(1.0, std::round(kStrikeWindow_s / r.timeStep));
        strike +=
            weight * std::norm(pulse) * (1.0 - std::pow(decay, window)) / (window * (1.0 - decay));
        scrape += weight * densityAt(density, cyclesPerSample) / (1.0 - decay);
    }
    if (!(strike > 0.0) || !(scrape > 0.0)) return kDefaultContactRoughness;
    return std::sqrt(strike / scrape);
}

void meanSquaredShapes(const ModeShapeMatrix& shapes, double* shapePower) {
    const long n = long(shapes.vertexCount) * 3;
    for (int j = 0; j < shapes.modeCount; ++j) {
        const double* u = shapes.values + n * j;
        double sum = 0.0;
        for (long i = 0; i < n; ++i) sum += u[i] * u[i];
        shapePower[j] = shapes.vertexCount > 0 ? sum / shapes.vertexCount : 0.0;
    }
}

void omnidirectionalZepGains(const TransferModel& transfer, const double* omega, int count,
                             double* gains) {
    for (int j = transfer.frequencyCount; j < count; ++j) gains[j] = 0.0;  // no transfer: silent
    count = std::min(count, transfer.frequencyCount);
    double reach = 0.0;
    bool anySource = false;
    for (int j = 0; j < count; ++j)
        for (int s = 0; s < transfer.sourceCounts[size_t(j)]; ++s) {
            const double* p = transfer.sourceBlocks[size_t(j)] + 11 * s;
            reach = std::max(reach, std::hypot(p[0] - transfer.centre[0], p[1] - transfer.centre[1],
                                               p[2] - transfer.centre[2]));
            anySource = true;
        }
    if (!anySource) {
        for (int j = 0; j < count; ++j) gains[j] = omega[j];
        return;
    }
    const double radius = reach > 0.0 ? 3.0 * reach : 1.0;
    std::vector<double> sum(size_t(count), 0.0), at(size_t(count), 0.0);
    int points = 0;
    for (int x = -1; x <= 1; ++x)
        for (int y = -1; y <= 1; ++y)
            for (int z = -1; z <= 1; ++z) {
                const int nonzero = (x != 0) + (y != 0) + (z != 0);
                if (nonzero != 1 && nonzero != 3) continue;  // the axes and the diagonals
                const double length = std::sqrt(double(nonzero));
                const double point[3] = {transfer.centre[0] + radius * x / length,
                                         transfer.centre[1] + radius * y / length,
                                         transfer.centre[2] + radius * z / length};
                transfer.evaluateTransfer(point, at.data(), count, false);
                for (int j = 0; j < count; ++j) sum[size_t(j)] += at[size_t(j)] * at[size_t(j)];
                ++points;
            }
    for (int j = 0; j < count; ++j) gains[j] = omega[j] * std::sqrt(sum[size_t(j)] / points);
}
