// The contact force read along the path, sample by sample.
#include "sound/contact_excitation.h"

#include <cmath>

namespace {

// The DC blocker y = x - x[-1] + R y[-1]: a zero at DC, a pole at R; the -3 dB corner is at
// (1 - R) fs / (2 pi), 35 Hz at 44.1 kHz.
constexpr double kDcPole = 0.995;

// sqrt(v / v_0): the force's scale at speed v (see the header).
double speedScale(double v) { return std::sqrt(v / kReferenceContactSpeed_mps); }

double clampedSpeed(double v) {
    if (!(v > 0.0)) return 0.0;
    return v < kMaxContactSpeed_mps ? v : kMaxContactSpeed_mps;
}

}  // namespace

void ContactExcitation::generate(const RoughnessProfileDesign& design, double roughness,
                                 double speedStart, double speedEnd, int frameCount,
                                 double* signal) {
    // Profile samples travelled per audio sample: v dt / spacing, ramped across the block.
    const double perSpeed = 1.0 / (44100.0 * kProfileSpacing_m);
    const double stepStart = clampedSpeed(speedStart) * perSpeed;
    const double stepEnd = clampedSpeed(speedEnd) * perSpeed;
    const double stepIncrement = frameCount > 0 ? (stepEnd - stepStart) / frameCount : 0.0;
    // The speed's scale at the block's two ends (two square roots a block), ramped between them.
    const double scaleStart = speedScale(clampedSpeed(speedStart));
    const double scaleEnd = speedScale(clampedSpeed(speedEnd));
    const double scaleIncrement = frameCount > 0 ? (scaleEnd - scaleStart) / frameCount : 0.0;
    for (int i = 0; i < frameCount; ++i) {
        position += stepStart + (i + 1) * stepIncrement;
        for (int n = 0; position >= 1.0 && n < kMaxProfileSteps; ++n) {
            position -= 1.0;
            previous = current;
            current = profile.next(design);
        }
        if (position >= 1.0) position -= static_cast<int>(position);
        const double g = previous + position * (current - previous);
        const double y = g - dcInput + kDcPole * dcOutput;
        dcInput = g;
        dcOutput = y;
        signal[i] = roughness * (scaleStart + (i + 1) * scaleIncrement) * y;
    }
}
