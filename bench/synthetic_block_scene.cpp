// The audio block benchmarks' synthetic scene (see synthetic_block_scene.h).
#include "bench/synthetic_block_scene.h"

#include <cmath>
#include <cstdlib>
#include <random>

#include "geometry/listener_points.h"
#include "geometry/object_pose.h"
#include "geometry/scene_presets.h"
#include "sound/audio_block_context.h"
#include "sound/synthesis_state.h"
#include "sound/transfer_model.h"

namespace {

int sceneModes = -1, sceneSources = -1;

}  // namespace

void setUpSyntheticScene(int modes, int sources, AudioBlockContext& context,
                         const ListenerPoints& listener) {
    publishedListener.store(listener);
    if (modes == sceneModes && sources == sceneSources) return;
    sceneModes = modes;
    sceneSources = sources;
    for (double* block : transferModel.sourceBlocks) free(block);
    transferModel = TransferModel();
    allocateModeArrays(modes);
    context.allocate(modes);
    std::mt19937 random(modes * 131 + sources);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int i = 0; i < modes; ++i) {
        const double f = 40.0 * std::pow(450.0, (i + 0.5) / modes);
        modeOmega[i] = f * twoPi;
        modeStiffness[i] = modeOmega[i] * modeOmega[i];
        double* block = static_cast<double*>(malloc(sizeof(double) * 11 * (sources + 1)));
        for (int s = 0; s < sources; ++s) {
            for (int v = 0; v < 3; ++v) block[11 * s + v] = 0.1 * u(random);
            for (int v = 3; v < 11; ++v) block[11 * s + v] = u(random) / (sources + 1);
        }
        transferModel.sourceBlocks.push_back(block);
        transferModel.sourceCounts.push_back(sources);
        transferModel.waveNumbers.push_back(modeOmega[i] / 343.0);
    }
    transferModel.frequencyCount = modes;
    createResonators(0.75f, 4.68874e-8f);
    publishedObjectPose.store(identityPose());
    rendererType = 0;
    impactDuration = 10;
}

void strikeEveryMode(unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    MutexLock lock(forceMutex);
    for (int i = 0; i < totalModeCount; ++i) {
        pendingModalForce[i] += 200.0 * u(random) / std::sqrt(static_cast<double>(totalModeCount));
    }
}
