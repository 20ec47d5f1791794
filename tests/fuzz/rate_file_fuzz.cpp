// libFuzzer target for the ZEP sampling-rate file, "ZEPSamplingRate.txt": an input is the file.
// The reader is built with TONWELL_READERS_THROW, so a bad file ends in an InputExit exception
// with code 1 instead of exit(1). A file it accepts must give a rate from 100 to 300 Hz and the
// block size 44100 / rate, the only values the audio device is ever opened with.
#include <cstdlib>

#include "app/startup.h"
#include "platform/input_exit.h"
#include "sound/synthesis_state.h"
#include "tests/fuzz/fuzz_support.h"

// The block size the reader sets (sound/synthesis_state.cpp holds it in the program; the rest of
// that file is not needed here).
int blockSize = 0;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::InScratchDirectory inScratch;
    fuzz::writeFile("ZEPSamplingRate.txt", data, size);
    zepSamplingRate = 0;
    blockSize = 0;
    try {
        readZepSamplingRate();
        fuzz::require(
            zepSamplingRate >= kMinZepSamplingRate && zepSamplingRate <= kMaxZepSamplingRate,
            "the rate lies in 100..300");
        fuzz::require(blockSize == kAudioSamplingRate / zepSamplingRate,
                      "the block size is 44100 / rate");
    } catch (const InputExit& exit) {
        if (exit.code != 1) abort();
        fuzz::require(blockSize == 0, "a refused file sets no block size");
    }
    return 0;
}
