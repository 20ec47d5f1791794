// The PortAudio callbacks around the audio block: the locks and the callback's own timing.
#include "sound/audio_callbacks.h"

#include "platform/high_resolution_counter.h"
#include "sound/audio_block.h"
#include "sound/synthesis_state.h"

std::atomic<long> outputUnderflowCount{0};
double largestCallbackSeconds = 0.0;

namespace {

// Blocks the device asked for later than it needed them: counted, never printed here.
// Real-time: wait-free.
void countUnderflow(PaStreamCallbackFlags statusFlags) {
    if (statusFlags & paOutputUnderflow) {
        outputUnderflowCount.fetch_add(1, std::memory_order_relaxed);
    }
}

// The audio workload of this callback: the running time from before the wait for synthesisMutex to
// now, waiting included; and the largest such time so far.
void publishCallbackSeconds() {
    const double seconds = callbackStartTime.secondsUntil(queryPerformanceCounter());
    MutexLock lock(workloadMutex);
    callbackSeconds = seconds;
    if (seconds > largestCallbackSeconds) largestCallbackSeconds = seconds;
}

// One callback: its own timer started before the wait for synthesisMutex, the underflow count,
// the block `synthesize` under synthesisMutex, then the running time under workloadMutex.
// Real-time: no allocation, no I/O; takes synthesisMutex (forceMutex inside it), then
// workloadMutex alone.
int runCallback(void* output, unsigned long frameCount, PaStreamCallbackFlags statusFlags,
                void (*synthesize)(float* out, unsigned long frameCount)) {
    callbackStartTime.reset();
    countUnderflow(statusFlags);
    {
        MutexLock lock(synthesisMutex);
        synthesize(static_cast<float*>(output), frameCount);
    }
    publishCallbackSeconds();
    return paContinue;
}

}  // namespace

int monoAudioCallback(const void*, void* output, unsigned long frameCount,
                      const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags statusFlags, void*) {
    return runCallback(output, frameCount, statusFlags, synthesizeMonoBlock);
}

int stereoAudioCallback(const void*, void* output, unsigned long frameCount,
                        const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags statusFlags, void*) {
    return runCallback(output, frameCount, statusFlags, synthesizeStereoBlock);
}
