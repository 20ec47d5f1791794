// The fractal profile's filter design and its generator.
#include "sound/roughness_profile.h"

#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
// The band of the 1/f^beta slope in cycles per profile sample: wavelengths from two samples
// (20 um) to the roll-off wavelength of 50 samples (0.5 mm). Over so short a band the sections'
// corners round the slope: measured between 0.05 and 0.2 cycles per sample it is about 0.8 beta.
// Beyond the roll-off a real surface stops being self-affine (Persson et al., "On the nature of
// surface roughness with application to contact mechanics, sealing, rubber friction and adhesion",
// J. Phys.: Condens. Matter 17, 2005); here its long wavelengths fall away as k^2 (a zero at k =
// 0), since a contact rides over them without a sound. The profile's power peaks at the roll-off,
// which a contact moving at v hears at v / 0.5 mm (600 Hz at 0.3 m/s, 3 kHz at 1.5 m/s): the
// faster, the brighter.
constexpr double kLowestFrequency = 0.02;
constexpr double kHighestFrequency = 0.5;

// Uniform white noise of unit variance: xorshift64* (Vigna 2016), top 53 bits to [0, 1), then
// scaled to [-sqrt 3, sqrt 3).
double whiteNoise(uint64_t* state) {
    uint64_t x = *state;
    x ^= x >> 12;
    x ^= x << 25;
    x ^= x >> 27;
    *state = x;
    const uint64_t r = x * 0x2545F4914F6CDD1Dull;
    const double u = static_cast<double>(r >> 11) * (1.0 / 9007199254740992.0);
    return 1.7320508075688772 * (2.0 * u - 1.0);
}

}  // namespace

double RoughnessProfile::next(const RoughnessProfileDesign& design) {
    double x = whiteNoise(&noiseState);
    for (int k = 0; k < RoughnessProfileDesign::kSections; ++k) {
        const double y = design.b0[k] * x + design.b1[k] * x1[k] + design.a1[k] * y1[k];
        x1[k] = x;
        y1[k] = y;
        x = y;
    }
    // The roll-off: a zero at k = 0 and a pole at the roll-off frequency.
    const double highPassed = x - rollOffInput + design.rollOffPole * rollOffOutput;
    rollOffInput = x;
    rollOffOutput = highPassed;
    const double h = highPassed * design.profileGain;
    if (design.kind == ContactKind::kScrape) return h;
    smoothed = (1.0 - design.smoothing) * h + design.smoothing * smoothed;
    const double delta = smoothed * design.smoothingGain - 1.0;
    if (delta <= 0.0) return 0.0;
    return delta * std::sqrt(delta) * design.outputGain;
}

RoughnessProfileDesign designRoughnessProfile(ContactKind kind, double slope, double ballRadius_m) {
    RoughnessProfileDesign design;
    design.kind = kind;
    const double beta = slope < 0.0 ? 0.0 : (slope > 2.0 ? 2.0 : slope);
    const int K = RoughnessProfileDesign::kSections;
    const double ratio = std::pow(kHighestFrequency / kLowestFrequency, 1.0 / K);
    for (int k = 0; k < K; ++k) {
        // H_k(z) = (1 - z_k / z) / (1 - p_k / z): a pole at f_p, a zero at f_p r^(beta/2).
        const double fPole = kLowestFrequency * std::pow(ratio, k);
        const double fZero = fPole * std::pow(ratio, 0.5 * beta);
        const double p = std::exp(-2.0 * kPi * fPole);
        const double z = std::exp(-2.0 * kPi * fZero);
        design.b0[k] = 1.0;
        design.b1[k] = -z;
        design.a1[k] = p;
    }
    design.rollOffPole = std::exp(-2.0 * kPi * kLowestFrequency);
    if (kind == ContactKind::kRoll) {
        const double radius = ballRadius_m > 0.0 ? ballRadius_m : 1e-3;
        const double footprint = 2.0 * std::sqrt(2.0 * radius * kRollingAsperity_m);
        design.smoothing = std::exp(-kProfileSpacing_m / footprint);
    }

    // The gains, measured: first the filtered profile's RMS (and for a roll the smoothed
    // profile's), then the output's. A fixed seed, so one design gives the same gains.
    constexpr int kWarmUp = 1 << 13, kRun = 1 << 16;
    auto rms = [&](auto&& sample) {
        RoughnessProfile profile;
        for (int i = 0; i < kWarmUp; ++i) sample(profile);
        double sum = 0.0;
        for (int i = 0; i < kRun; ++i) {
            const double v = sample(profile);
            sum += v * v;
        }
        return std::sqrt(sum / kRun);
    };
    design.profileGain = 1.0;
    design.outputGain = 1.0;
    const double scrape = rms([&](RoughnessProfile& p) {
        RoughnessProfileDesign d = design;
        d.kind = ContactKind::kScrape;
        return p.next(d);
    });
    design.profileGain = scrape > 0.0 ? 1.0 / scrape : 1.0;
    if (kind == ContactKind::kRoll) {
        // The smoothed profile's RMS is below the profile's (the footprint removes the short
        // wavelengths): measured with the profile's gain in place.
        const double smoothedRms = rms([&](RoughnessProfile& p) {
            RoughnessProfileDesign d = design;
            d.kind = ContactKind::kScrape;
            const double h = p.next(d);
            p.smoothed = (1.0 - d.smoothing) * h + d.smoothing * p.smoothed;
            return p.smoothed;
        });
        design.smoothingGain = smoothedRms > 0.0 ? 1.0 / smoothedRms : 1.0;
        const double output = rms([&](RoughnessProfile& p) { return p.next(design); });
        design.outputGain = output > 0.0 ? 1.0 / output : 1.0;
    }
    return design;
}
