// The PortAudio callbacks around the audio block: the locks and the callback's own timing.
#include "sound/audio_callbacks.h"

#include "app/startup.h"
#include "platform/high_resolution_counter.h"
#include "sound/audio_block.h"
#include "sound/synthesis_state.h"

namespace {

// Step 12: the running time from before the wait for synthesisMutex to now, waiting included.
void publishCallbackSeconds() {
    const double seconds = callbackStartTime.secondsUntil(queryPerformanceCounter());
    MutexLock lock(workloadMutex);
    callbackSeconds = seconds;
}

}  // namespace

int monoAudioCallback(const void*, void* output, unsigned long frameCount,
                      const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void*) {
    callbackStartTime.reset();
    {
        MutexLock lock(synthesisMutex);
        synthesizeMonoBlock(static_cast<float*>(output), frameCount);
    }
    publishCallbackSeconds();
    return paContinue;
}

int stereoAudioCallback(const void*, void* output, unsigned long frameCount,
                        const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void*) {
    callbackStartTime.reset();
    {
        MutexLock lock(synthesisMutex);
        synthesizeStereoBlock(static_cast<float*>(output), frameCount);
    }
    publishCallbackSeconds();
    return paContinue;
}
