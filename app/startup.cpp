// The pieces of the start-up sequence that need no window: the banner and the ZEP sampling-rate
// file. The sequence itself is main, in ui/main.cpp.
#include "app/startup.h"

#include <cstdio>
#include <cstdlib>

#include "platform/input_exit.h"
#include "sound/synthesis_state.h"

int zepSamplingRate = 0;

void printBanner() {
    printf(
        "============================================\n"
        "  Real-time modal sound synthesis demo\n"
        "\n"
        "  Modal vibration, Rayleigh damping and\n"
        "  multipole acoustic transfer, live.\n"
        "============================================\n"
        "\n");
    printf("Starting the demo...\n");
}

[[noreturn]] static void reportBadZepSamplingRate() {
    printf("\n");
    printf("****************************************\n");
    printf("Error parsing the sampling rate.\n");
    printf("File \"ZEPSamplingRate.txt\" must be present in the main demo directory.\n");
    printf(
        "It is a text file and should contain a single line of text, specifying the ZEP "
        "sampling rate.\n");
    printf("A good choice is 200, and the values must be within the %d to %d range.\n",
           kMinZepSamplingRate, kMaxZepSamplingRate);
    printf("****************************************\n");
    exitOnBadInput(1);
}

// Reads a decimal integer the way fscanf's "%d" does (leading white space, an optional sign, at
// least one digit), except that a value too large for an int saturates instead of wrapping:
// "%d" on 4294967496 is undefined and in practice gives 200, which must not pass as valid.
// Returns false when no integer starts the stream.
static bool readFirstInteger(FILE* file, long long* value) {
    int c = getc(file);
    while (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f')
        c = getc(file);
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = (c == '-');
        c = getc(file);
    }
    if (c < '0' || c > '9') return false;
    long long magnitude = 0;
    for (; c >= '0' && c <= '9'; c = getc(file)) {
        if (magnitude < 1000000000000LL) magnitude = magnitude * 10 + (c - '0');
    }
    *value = negative ? -magnitude : magnitude;
    return true;
}

void readZepSamplingRate(const char* fileName) {
    FILE* file = fopen(fileName, "r");
    if (file == nullptr) reportBadZepSamplingRate();
    long long value = 0;
    // Only the first integer counts; whatever follows it is ignored.
    bool haveInteger = readFirstInteger(file, &value);
    fclose(file);
    if (!haveInteger) reportBadZepSamplingRate();
    // The quotient is formed only after the range check, so 0 never divides.
    if (value > kMaxZepSamplingRate || value < kMinZepSamplingRate) reportBadZepSamplingRate();
    int rate = static_cast<int>(value);
    zepSamplingRate = rate;
    blockSize = kAudioSamplingRate / rate;
    printf("ZEP sampling rate read from %s : %d\n", fileName, rate);
}
