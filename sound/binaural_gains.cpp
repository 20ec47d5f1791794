// The binaural gains: transfer at the head's centre, direction in the head's frame, each ear's
// HRTF at each mode's frequency.
#include "sound/binaural_gains.h"

#include <cmath>
#include <complex>

#include "sound/vector_lanes.h"

void objectDirectionInHead(const TransferModel& transfer, const ObjectPose& pose,
                           const ListenerPoints& listener, double direction[3]) {
    // World = R c + T, R row by row.
    const double* R = pose.rotation;
    const double* c = transfer.centre;
    double toObject[3];
    for (int k = 0; k < 3; ++k) {
        const double world =
            R[3 * k] * c[0] + R[3 * k + 1] * c[1] + R[3 * k + 2] * c[2] + pose.translation[k];
        toObject[k] = world - listener.eye[k];
    }
    double forward[3], left[3], up[3];
    listenerHeadFrame(listener, forward, left, up);
    direction[0] = toObject[0] * forward[0] + toObject[1] * forward[1] + toObject[2] * forward[2];
    direction[1] = toObject[0] * left[0] + toObject[1] * left[1] + toObject[2] * left[2];
    direction[2] = toObject[0] * up[0] + toObject[1] * up[1] + toObject[2] * up[2];
    const double length = std::sqrt(direction[0] * direction[0] + direction[1] * direction[1] +
                                    direction[2] * direction[2]);
    if (!(length > 0.0) || !std::isfinite(length)) {
        direction[0] = 1.0;
        direction[1] = direction[2] = 0.0;
        return;
    }
    for (int k = 0; k < 3; ++k) direction[k] /= length;
}

void computeBinauralGains(const TransferModel& transfer, const double* modeOmega, int modeCount,
                          bool useAvx2Lanes, const HrtfSet& hrtf, const ObjectPose& pose,
                          const ListenerPoints& listener, double* const real[2],
                          double* const imag[2]) {
    // |p_i| at the head's centre, in the object's frame.
    double object[3];
    worldToObject(pose, listener.eye, object);
    double* magnitude = real[0];
    transfer.evaluateTransfer(object, magnitude, modeCount, useAvx2Lanes);
    // Modes the model has no entry for are silent.
    for (int i = transfer.frequencyCount; i < modeCount; ++i) magnitude[i] = 0.0;

    double direction[3];
    objectDirectionInHead(transfer, pose, listener, direction);
    HrtfDirectionWeights weights;
    hrtf.weigh(direction, &weights);
    const double delay[2] = {hrtf.delay(weights, 0), hrtf.delay(weights, 1)};
    constexpr double kInverseTwoPi = 0.15915494309189535;
    // Four modes at a time: the ears' delay phases -omega tau through the lanes' sine and cosine
    // (|omega tau| stays far below their 1e5 limit: 1.4e5 rad/s times a few milliseconds).
    constexpr int W = 4;
    for (int first = 0; first < modeCount; first += W) {
        const int count = modeCount - first < W ? modeCount - first : W;
        ModeLanes omega = {0, 0, 0, 0};
        for (int l = 0; l < count; ++l) omega[l] = modeOmega[first + l];
        ModeLanes sine[2], cosine[2];
        for (int ear = 0; ear < 2; ++ear) {
            const ModeLanes phase = -delay[ear] * omega;
            sineCosineLanes(phase, &sine[ear], &cosine[ear]);
        }
        for (int l = 0; l < count; ++l) {
            const int i = first + l;
            const double zep = omega[l] * magnitude[i];
            std::complex<double> R[2];
            hrtf.remainders(weights, omega[l] * kInverseTwoPi, R);
            // H = e^{-i omega tau} R, written out (std::complex's product checks for infinities).
            // Ear 1 first: ear 0's real part overwrites the magnitude last.
            for (int ear = 1; ear >= 0; --ear) {
                const double c = cosine[ear][l], s = sine[ear][l];
                const double rRe = R[ear].real(), rIm = R[ear].imag();
                real[ear][i] = zep * (c * rRe - s * rIm);
                imag[ear][i] = zep * (c * rIm + s * rRe);
            }
        }
    }
}
