// The force of a moving contact (a stick scraping, a cup sliding, a ball rolling on the object),
// sample by sample: the surface profile (sound/roughness_profile.h) read along the path at the
// contact's speed. The engine's object block generates one block of it on the render thread and
// feeds it, times the modal force at the contact point, to every mode (sound/modal_bank_lanes.h).
//
// The model (van den Doel, Kry and Pai, "FoleyAutomatic", SIGGRAPH 2001, section 5: the contact
// force of scraping and sliding follows the surface profile at the contact point, which moves
// along the path at the tangential speed v; rolling reads the profile as the ball feels it):
//
//   f(t) = F_N * sigma * sqrt(v / v_0) * g(x(t)),   x(t) = integral of v dt,
//
// along the unit direction at the contact point (the surface normal), with F_N the normal force
// (program force units, as a strike's magnitude), sigma the roughness scale (the RMS of the
// force's fluctuation relative to F_N at the reference speed v_0 = 0.3 m/s), and g the unit-RMS
// profile: the 1/f^beta fractal profile for a scrape or a slide, the ball's Hertzian force on
// the smoothed profile for a roll. Only the fluctuation sounds: the static load F_N (a constant
// deflection) is left out, and a DC blocker (a first-order high-pass at about 35 Hz) takes the
// rolling force's mean off.
//
// How the force grows: linearly with F_N at every frequency (so the sound's RMS is proportional
// to F_N). With the speed, the profile's spatial spectrum S(k) ~ k^-beta is heard at temporal
// frequencies f = v k: the spectrum moves up in proportion to v (a faster scrape is brighter).
// Read at a unit RMS, g alone would carry the same power at every speed, and a faster scrape
// would sound quieter through the low modes as its band moves above them; but the work the
// contact does, F v, grows with the speed, so the fluctuation's power is taken to grow in
// proportion to it: the sqrt(v / v_0) factor (the force's power proportional to F_N^2 v). A
// standing contact is silent, and the loudness at v_0 is that of the bare profile.
//
// The profile is read with linear interpolation between its samples; at most kMaxProfileSteps
// new samples are taken per audio sample, which caps the speed at kMaxContactSpeed_mps.
#pragma once

#include "sound/roughness_profile.h"

// The defaults of a contact: the panel's and tonwell-render's.
constexpr double kDefaultContactRoughness = 0.018;  // sigma
constexpr double kDefaultContactSlope = 1.5;        // beta
constexpr double kDefaultBallRadius_m = 0.008;      // a marble
constexpr double kReferenceContactSpeed_mps = 0.3;  // v_0: sigma is the force's RMS there
constexpr int kMaxProfileSteps = 16;
constexpr double kMaxContactSpeed_mps = kMaxProfileSteps * kProfileSpacing_m * 44100.0;

struct ContactExcitation {
    RoughnessProfile profile;
    double position = 1.0;  // path travelled since `previous`, in profile samples (0 .. 1)
    double previous = 0.0;  // the profile sample behind the contact
    double current = 0.0;   // the one ahead
    double dcInput = 0.0;   // the DC blocker's memories
    double dcOutput = 0.0;

    // Writes signal[i] = sigma sqrt(v_i / v_0) g(x(t_i)) for the frameCount samples of a block, the
    // speed moving linearly from speedStart (before the block) to speedEnd (its last sample), m/s,
    // each clamped to 0 .. kMaxContactSpeed_mps; `roughness` is sigma. The caller multiplies by
    // F_N and the modal force at the contact point.
    // Real-time: no allocation, no I/O, no lock, no transcendental function (two square roots a
    // block for the speed's scale, one per profile sample for a roll).
    void generate(const RoughnessProfileDesign& design, double roughness, double speedStart,
                  double speedEnd, int frameCount, double* signal);
};
