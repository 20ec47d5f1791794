// How a reader of outside data (the dense matrix files, the transfer object list, the ZEP
// sampling-rate file) ends the process on bad input: with exit(code) in the programs, after its
// one message. The readers' fuzz targets build them with TONWELL_READERS_THROW, where the same
// call throws InputExit instead, so one process can try millions of inputs and the sanitizers
// see every block the reader still held released on the way out.
#pragma once

#include <cstdio>
#include <cstdlib>

#ifdef TONWELL_READERS_THROW
// Fuzzing builds only: what the program would have passed to exit().
struct InputExit {
    int code;
};
#endif

// Flushes the console and ends the process with `code` (a fuzzing build throws InputExit{code}).
// Call after printing the message that names the file and the problem. GUI thread, start-up only.
[[noreturn]] inline void exitOnBadInput(int code) {
    fflush(stdout);
    fflush(stderr);
#ifdef TONWELL_READERS_THROW
    throw InputExit{code};
#else
    exit(code);
#endif
}
