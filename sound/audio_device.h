// The audio device: the two PortAudio output streams (mono and stereo, the default device,
// 44100 Hz, 32-bit float, blockSize frames per buffer), the switch between them when the panel's
// renderer settings change, and the orderly shutdown at exit. GUI thread only; takes none of the
// synthesis mutexes.
#pragma once

struct AudioBlockContext;

// Initialises PortAudio, opens monoStream and stereoStream with `context` as their callbacks'
// user data (sound/audio_callbacks.h) and starts the mono one, then prints
// "PortAudio successfully initalized.\n". Through ALSA, and where the process may (root, or an
// RLIMIT_RTPRIO above 0), the streams' callback thread runs at real-time priority (SCHED_FIFO). On
// any PortAudio error prints "PortAudio error: %s\n" with the library's text and ends the process
// with exit(1). Preconditions: every per-mode array the callbacks read exists (allocateModeArrays,
// and context.allocate with the same count), with blockSize final; `context` outlives stopAudio.
void startAudio(AudioBlockContext& context);

// Panel callback of both "Renderer type:" radio groups. "Modal" forces mono output (channelMode
// back to 0); clears the three peak rings; stops the running stream and starts the other when the
// channel mode asks for the other one (the stopped stream's callback has returned when the other
// starts): mono for channelMode 0, stereo for 1 (stereo) and 2 (binaural). The first choice of
// binaural reads the default HRTF set (kDefaultHrtfFile, sound/sofa_file.h) and hands it to the
// callbacks' context; when it cannot be read, prints "Error: <file>: <problem>; the output stays
// stereo.\n" and sets channelMode to 1. On a PortAudio error prints "PortAudio error: %s\n" and
// ends the process with exit(1). Does nothing beyond the first two steps when startAudio has not
// run.
void onAudioModeChanged();

// Stops the running stream, closes both streams and terminates PortAudio, ignoring errors, so that
// no callback runs afterwards. Safe when the audio was never started, only partly started or is
// already stopped. Called by the at-exit handler, before the mutexes are destroyed.
void stopAudio();
