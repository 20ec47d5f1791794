// The two PortAudio stream callbacks: monoAudioCallback for the one-channel stream and
// stereoAudioCallback for the two-channel stream. PortAudio calls them on its own thread once per
// block of blockSize frames; exactly one of the two streams runs at a time (sound/audio_device.h).
#pragma once

#include <portaudio.h>

#include <atomic>

// Callbacks whose status flags reported an output underflow (the device ran dry before the
// block arrived): written by the audio thread, read by the soak test's report at exit.
extern std::atomic<long> outputUnderflowCount;

// The longest running time of any callback so far, in seconds, from before its wait for
// synthesisMutex to the end of its block (as callbackSeconds): written by the audio thread and
// read by the soak test's report at exit, both under workloadMutex.
extern double largestCallbackSeconds;

// Fills `output` with frameCount mono float samples: times itself from before taking
// synthesisMutex, synthesises the block under it (sound/audio_block.h), releases it, then
// publishes its running time in callbackSeconds under workloadMutex. Input, time stamps, flags
// and user data are ignored. Returns paContinue (0): the stream never stops itself.
// Real-time: no allocation, no I/O; takes synthesisMutex, forceMutex inside it, then
// workloadMutex alone.
int monoAudioCallback(const void* input, void* output, unsigned long frameCount,
                      const PaStreamCallbackTimeInfo* timeInfo, PaStreamCallbackFlags statusFlags,
                      void* userData);

// The same for the stereo stream: frameCount interleaved (left, right) float pairs.
// Real-time: as monoAudioCallback.
int stereoAudioCallback(const void* input, void* output, unsigned long frameCount,
                        const PaStreamCallbackTimeInfo* timeInfo, PaStreamCallbackFlags statusFlags,
                        void* userData);
