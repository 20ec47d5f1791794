// The two PortAudio stream callbacks: monoAudioCallback for the one-channel stream and
// stereoAudioCallback for the two-channel stream. PortAudio calls them on its own thread once per
// block of blockSize frames; exactly one of the two streams runs at a time (sound/audio_device.h).
// Their user data pointer is the AudioBlockContext of whoever runs the blocks
// (sound/audio_block_context.h): the program's, given to PortAudio when the streams open, or the
// offline renderer's or a test's when they call a callback directly.
#pragma once

#include <portaudio.h>

// Fills `output` with frameCount mono float samples: times itself from before taking
// synthesisMutex, counts an output underflow the status flags report (in the context's
// outputUnderflowCount), synthesises the block under synthesisMutex (sound/audio_block.h),
// releases it, then publishes its running time in callbackSeconds, and the longest so far in the
// context's largestCallbackSeconds, under workloadMutex. Input and time stamps are ignored.
// Returns paContinue (0): the stream never stops itself.
// Precondition: `userData` points to an AudioBlockContext allocated for the bank.
// Real-time: no allocation, no I/O; takes synthesisMutex, forceMutex inside it, then
// workloadMutex alone, all three priority-inheriting (platform/mutex.h): a GUI thread holding one
// runs at the callback's real-time priority until it lets go.
int monoAudioCallback(const void* input, void* output, unsigned long frameCount,
                      const PaStreamCallbackTimeInfo* timeInfo, PaStreamCallbackFlags statusFlags,
                      void* userData);

// The same for the stereo stream: frameCount interleaved (left, right) float pairs, from the
// binaural block (synthesizeBinauralBlock) while channelMode is 2, else the stereo block.
// Real-time: as monoAudioCallback.
int stereoAudioCallback(const void* input, void* output, unsigned long frameCount,
                        const PaStreamCallbackTimeInfo* timeInfo, PaStreamCallbackFlags statusFlags,
                        void* userData);
