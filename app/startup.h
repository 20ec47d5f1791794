// Start-up: the banner and the ZEP sampling-rate file, which fixes the audio block size before
// the window, the scene and the audio streams exist. GUI thread, at the start of main.
#pragma once

// Rate in Hz at which the acoustic transfer is re-evaluated, read from "ZEPSamplingRate.txt".
extern int zepSamplingRate;

// Lowest and highest accepted ZEP sampling rates, in Hz.
constexpr int kMinZepSamplingRate = 100;
constexpr int kMaxZepSamplingRate = 300;
// The rate file's name, and the rate a program without one may fall back to.
constexpr const char* kZepSamplingRateFile = "ZEPSamplingRate.txt";
constexpr int kDefaultZepSamplingRate = 200;

// Prints the start-up banner (framed by two lines of 44 '='), an empty line, and
// "Starting the demo...".
void printBanner();

// Reads the first integer of "ZEPSamplingRate.txt" in the working directory (or of `fileName`),
// checks that it lies in 100..300, sets zepSamplingRate and blockSize and prints the confirmation
// line naming the file. On a missing file, a file that does not start with an integer, or a value
// out of range, prints the seven-line error report to standard output and ends the process with
// exit(1).
void readZepSamplingRate(const char* fileName = kZepSamplingRateFile);
