// The program's one audio block context (sound/audio_block_context.h): the compact copy of the
// bank, the solo and mute mask, the level publication and the callbacks' measurements of the demo.
// The audio callbacks reach it through PortAudio's user data pointer (startAudio hands it over);
// the Modes window, the status report at exit and scene loading reach it here.
//
// Constructed before main and destroyed after every at-exit handler, so the handler that stops the
// audio streams runs while it still exists. Scene loading sizes it with the bank.
#pragma once

#include "sound/audio_block_context.h"

extern AudioBlockContext programAudioContext;
