// The PortAudio callbacks around the audio block: the locks and the callback's own timing.
#include "sound/audio_callbacks.h"

#include "platform/high_resolution_counter.h"
#include "sound/audio_block.h"
#include "sound/audio_block_context.h"
#include "sound/synthesis_state.h"

namespace {

// Blocks the device asked for later than it needed them: counted, never printed here.
// Real-time: wait-free.
void countUnderflow(AudioBlockContext& context, PaStreamCallbackFlags statusFlags) {
    if (statusFlags & paOutputUnderflow) {
        context.outputUnderflowCount.fetch_add(1, std::memory_order_relaxed);
    }
}

// The audio workload of this callback: the running time from before the wait for synthesisMutex to
// now, waiting included; and the largest such time so far.
void publishCallbackSeconds(AudioBlockContext& context) {
    const double seconds = callbackStartTime.secondsUntil(queryPerformanceCounter());
    MutexLock lock(workloadMutex);
    callbackSeconds = seconds;
    if (seconds > context.largestCallbackSeconds) context.largestCallbackSeconds = seconds;
}

// One callback: its own timer started before the wait for synthesisMutex, the underflow count,
// the block `synthesize` under synthesisMutex, then the running time under workloadMutex.
// Real-time: no allocation, no I/O; takes synthesisMutex (forceMutex inside it), then
// workloadMutex alone.
int runCallback(void* userData, void* output, unsigned long frameCount,
                PaStreamCallbackFlags statusFlags,
                void (*synthesize)(AudioBlockContext& context, float* out,
                                   unsigned long frameCount)) {
    callbackStartTime.reset();
    AudioBlockContext& context = *static_cast<AudioBlockContext*>(userData);
    countUnderflow(context, statusFlags);
    {
        MutexLock lock(synthesisMutex);
        synthesize(context, static_cast<float*>(output), frameCount);
    }
    publishCallbackSeconds(context);
    return paContinue;
}

}  // namespace

int monoAudioCallback(const void*, void* output, unsigned long frameCount,
                      const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags statusFlags,
                      void* userData) {
    return runCallback(userData, output, frameCount, statusFlags, synthesizeMonoBlock);
}

int stereoAudioCallback(const void*, void* output, unsigned long frameCount,
                        const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags statusFlags,
                        void* userData) {
    // The stereo stream carries the binaural output too (channelMode 2).
    return runCallback(userData, output, frameCount, statusFlags,
                       channelMode.load(std::memory_order_relaxed) == 2 ? synthesizeBinauralBlock
                                                                        : synthesizeStereoBlock);
}
