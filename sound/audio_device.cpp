// PortAudio v19 behind the program's two streams.
#include "sound/audio_device.h"

#include <pa_linux_alsa.h>
#include <portaudio.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "sound/audio_block_context.h"
#include "sound/audio_callbacks.h"
#include "sound/sofa_file.h"
#include "sound/synthesis_state.h"

namespace {

PaStream* monoStream = nullptr;
PaStream* stereoStream = nullptr;
PaStream* activeStream = nullptr;  // the started stream, or null
bool portAudioInitialized = false;
AudioBlockContext* streamContext = nullptr;  // the callbacks' context, from startAudio
// The binaural output's HRTF set: read on the GUI thread when "Binaural" is first chosen, handed
// to the callbacks through streamContext->hrtf, and kept until the process ends.
std::unique_ptr<HrtfSet> programHrtf;

// Ends the process on a PortAudio error.
void checkPortAudio(PaError error) {
    if (error != paNoError) {
        printf("PortAudio error: %s\n", Pa_GetErrorText(error));
        exit(1);
    }
}

// Asks for the callback thread at real-time priority (SCHED_FIFO) where the stream goes through
// ALSA and the process may have that priority: as root, or with an RLIMIT_RTPRIO above 0 (what
// the audio group is usually granted). Other programs busy on every core then cannot hold a
// block back past its deadline (measured: a callback of under a millisecond took up to 109 ms at
// normal priority beside two busy processes). Without the right the thread keeps the normal
// priority: asking would make starting the stream fail.
void preferRealTimeThread(PaStream* stream) {
    const PaHostApiInfo* host = Pa_GetHostApiInfo(Pa_GetDefaultHostApi());
    if (host == nullptr || host->type != paALSA) return;
    struct rlimit limit;
    const bool allowed =
        geteuid() == 0 || (getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur > 0);
    if (allowed) PaAlsa_EnableRealtimeScheduling(stream, 1);
}

}  // namespace

void startAudio(AudioBlockContext& context) {
    streamContext = &context;
    checkPortAudio(Pa_Initialize());
    portAudioInitialized = true;
    checkPortAudio(Pa_OpenDefaultStream(&monoStream, 0, 1, paFloat32, 44100.0, blockSize,
                                        monoAudioCallback, &context));
    checkPortAudio(Pa_OpenDefaultStream(&stereoStream, 0, 2, paFloat32, 44100.0, blockSize,
                                        stereoAudioCallback, &context));
    preferRealTimeThread(monoStream);
    preferRealTimeThread(stereoStream);
    activeStream = monoStream;
    checkPortAudio(Pa_StartStream(monoStream));
    printf("PortAudio successfully initalized.\n");
}

void onAudioModeChanged() {
    // Stereo and binaural exist only for the "ZEP" renderer. The panel draws channelMode every
    // frame, so its radio group follows at once.
    if (rendererType.load() == 1 && channelMode.load() != 0) channelMode.store(0);
    clearPeakRings();
    if (activeStream == nullptr) return;
    // Binaural: the HRTF set is read here, on the GUI thread, the first time; the stereo
    // stream's callback takes it from the context at its next block.
    if (channelMode.load() == 2 && programHrtf == nullptr) {
        std::string problem;
        programHrtf = readSofaFile(kDefaultHrtfFile, &problem);
        if (programHrtf == nullptr) {
            printf("Error: %s; the output stays stereo.\n", problem.c_str());
            channelMode.store(1);
        } else {
            streamContext->hrtf.store(programHrtf.get(), std::memory_order_release);
        }
    }
    if (activeStream == monoStream && channelMode.load() != 0) {
        checkPortAudio(Pa_StopStream(monoStream));
        // Not started yet: stopAudio must not stop it again if starting fails.
        activeStream = nullptr;
        checkPortAudio(Pa_StartStream(stereoStream));
        activeStream = stereoStream;
    } else if (activeStream == stereoStream && channelMode.load() == 0) {
        checkPortAudio(Pa_StopStream(stereoStream));
        activeStream = nullptr;
        checkPortAudio(Pa_StartStream(monoStream));
        activeStream = monoStream;
    }
}

void stopAudio() {
    if (!portAudioInitialized) return;
    if (activeStream != nullptr) Pa_StopStream(activeStream);
    activeStream = nullptr;
    if (monoStream != nullptr) Pa_CloseStream(monoStream);
    if (stereoStream != nullptr) Pa_CloseStream(stereoStream);
    monoStream = stereoStream = nullptr;
    Pa_Terminate();
    portAudioInitialized = false;
}
