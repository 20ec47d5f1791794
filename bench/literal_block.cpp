// The literal per-mode loop of an audio block (reference and benchmark baseline).
#include "bench/literal_block.h"

#include <cmath>
#include <cstring>

#include "geometry/listener_points.h"
#include "geometry/object_pose.h"
#include "sound/audio_block.h"
#include "sound/synthesis_state.h"

namespace {

// The "ZEP" renderer's gains, literally: the transfer at the listener point evaluated source by
// source as the plain sum (TransferModel::evaluateTransferLiteral), times omega_i.
void literalZepGains(const AudioBlockContext&, const ObjectPose& pose, const double world[3],
                     double* gains, int modeCount) {
    double object[3];
    worldToObject(pose, world, object);
    transferModel.evaluateTransferLiteral(object, gains, modeCount);
    for (int i = 0; i < modeCount; ++i) gains[i] *= modeOmega[i];
}

void literalBlock(float* out, unsigned long frameCount, int modeCount, int channelCount,
                  double** gains, double** previousGains) {
    loadModalForces();
    const unsigned long N = frameCount;
    const double invN = 1.0 / static_cast<double>(N);
    const int duration = impactDuration.load(std::memory_order_relaxed);
    double peak[2] = {0.0, 0.0};
    for (unsigned long i = 0; i < N; ++i) {
        if (duration >= 0 && i == static_cast<unsigned long>(duration)) {
            for (int e = 0; e < totalModeCount; ++e) resonators[e]->force = 0.0;
        }
        double y[2] = {0.0, 0.0};
        const double fromPrevious = static_cast<double>(N - i);
        const double fromCurrent = static_cast<double>(i);
        for (int e = 0; e < modeCount; ++e) {
            resonators[e]->advance();
            const double q = resonators[e]->displacement;
            for (int c = 0; c < channelCount; ++c) {
                y[c] += invN * q * (fromPrevious * previousGains[c][e] + fromCurrent * gains[c][e]);
            }
        }
        for (int c = 0; c < channelCount; ++c) {
            if (std::fabs(y[c]) > peak[c]) peak[c] = std::fabs(y[c]);
            out[i * channelCount + c] = clippedSample(y[c]);
        }
    }
    for (int c = 0; c < channelCount; ++c) {
        memcpy(previousGains[c], gains[c], sizeof(double) * totalModeCount);
    }
    for (int e = 0; e < modeCount; ++e) resonators[e]->flushIfNegligible();
    finishBlock(peak[0], peak[1], channelCount);
}

}  // namespace

void literalMonoBlock(AudioBlockContext& context, float* out, unsigned long frameCount) {
    BlockGains block = computeBlockGains(context, 1, literalZepGains);
    literalBlock(out, frameCount, block.modeCount, 1, block.gains, block.previousGains);
}

void literalStereoBlock(AudioBlockContext& context, float* out, unsigned long frameCount) {
    BlockGains block = computeBlockGains(context, 2, literalZepGains);
    literalBlock(out, frameCount, block.modeCount, 2, block.gains, block.previousGains);
}
