// The program's audio block context.
#include "app/audio_context.h"

AudioBlockContext programAudioContext;
