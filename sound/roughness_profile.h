// The surface profile a moving contact reads: a random fractal profile h(x) sampled every
// kProfileSpacing_m metres along the path, with power spectral density S(k) ~ k^-beta for
// wavelengths from 20 um up to its roll-off at 0.5 mm and ~ k^2 beyond (beta the spectral slope,
// 0 white .. 2 Brownian), and, for
// rolling, the profile as a ball of radius R feels it: bridged over features shorter than its
// footprint and touching only the highest asperities, with a Hertzian contact force.
//
// Source: the fractal (1/f^beta) contact profiles of K. van den Doel, P. G. Kry and D. K. Pai,
// "FoleyAutomatic: Physically-based Sound Effects for Interactive Simulation and Animation",
// SIGGRAPH 2001, section 5 (scraping and sliding: the profile read at the contact speed; rolling:
// the profile smoothed by the rolling body); the Hertz law F ~ delta^(3/2) for the ball's
// indentation delta (K. L. Johnson, "Contact Mechanics", 1985, chapter 4).
//
// The 1/f^beta filter is the interlaced pole-zero approximation: kSections first-order sections,
// poles at spatial frequencies f_p,k spaced by a ratio r, each followed by a zero at
// f_p,k r^(beta/2), so the magnitude falls by r^(beta/2) per section over each ratio r: on
// average |H| ~ f^(-beta/2), the power ~ f^-beta.
//
// The design (coefficients and gains) is computed on a control thread (exponentials, and a run
// of the generator to measure its RMS); the generator runs on the render thread.
#pragma once

#include <cstdint>

enum class ContactKind : int { kScrape = 0, kRoll = 1 };

// Spacing of the profile's samples along the path, m (10 um: at 0.3 m/s the profile's finest
// wavelength, two samples, sounds at 15 kHz).
constexpr double kProfileSpacing_m = 10e-6;
// Nominal asperity height a ball rides over, m: the ball's footprint on features of this depth
// is the chord 2 sqrt(2 R delta0), the length the profile is smoothed over.
constexpr double kRollingAsperity_m = 2e-6;

struct RoughnessProfileDesign {
    static constexpr int kSections = 5;
    ContactKind kind = ContactKind::kScrape;
    // Section k: y = b0 x + b1 x[-1] + a1 y[-1] (a1 the pole, -b1/b0 the zero).
    double b0[kSections] = {}, b1[kSections] = {}, a1[kSections] = {};
    // The roll-off below the fractal band: y = x - x[-1] + rollOffPole y[-1].
    double rollOffPole = 0.0;
    // Roll: the ball's footprint as a one-pole smoothing y = (1 - a) x + a y[-1], a =
    // exp(-spacing / footprint); 0 for a scrape.
    double smoothing = 0.0;
    // Gains that bring the filtered profile (both kinds), the smoothed profile and the rolling
    // force to unit RMS, measured over a long run of the generator.
    double profileGain = 1.0;
    double smoothingGain = 1.0;
    double outputGain = 1.0;
};

// The design of `kind` with spectral slope `slope` (beta, clamped to 0 .. 2) and, for a roll,
// ball radius `ballRadius_m` (> 0). The output's RMS is 1 (over a long path).
// Control thread: a few exponentials and 2^16 steps of the generator; no allocation.
RoughnessProfileDesign designRoughnessProfile(ContactKind kind, double slope, double ballRadius_m);

// The generator's state: the noise source and the filters' memories.
struct RoughnessProfile {
    uint64_t noiseState = 0x9E3779B97F4A7C15ull;
    double x1[RoughnessProfileDesign::kSections] = {};
    double y1[RoughnessProfileDesign::kSections] = {};
    double smoothed = 0.0;
    double rollOffInput = 0.0, rollOffOutput = 0.0;

    // The next profile sample (one kProfileSpacing_m further along the path), unit RMS on
    // average: the fractal profile for a scrape, the Hertzian rolling force
    // (max(0, s - 1))^(3/2) of the smoothed unit-RMS profile s for a roll (the ball touches where
    // the smoothed profile rises above its RMS height).
    // Real-time: no allocation, no I/O, no lock; one square root for a roll, no transcendental.
    double next(const RoughnessProfileDesign& design);
};
