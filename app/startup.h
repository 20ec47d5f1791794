// Start-up and shutdown: the process-wide state that exists before main, the ZEP sampling-rate
// file, the start-up banner and the at-exit handler.
//
// Everything here runs on the GUI thread before the audio stream exists, except the mutexes and
// timers, which both threads use afterwards (see the comments on each).
#pragma once

#include "platform/interval_timer.h"
#include "platform/mutex.h"

// Title of the main window, and the first field of the once-per-second status line.
extern const char* const kWindowTitle;  // "ZEP real-time sound demo"

// Rate in Hz at which the acoustic transfer is re-evaluated, read from "ZEPSamplingRate.txt".
extern int zepSamplingRate;
// Audio frames per callback and per transfer update: 44100 / zepSamplingRate (integer division);
// 220 until the file is read.
extern int blockSize;

// Lowest and highest accepted ZEP sampling rates, in Hz.
constexpr int kMinZepSamplingRate = 100;
constexpr int kMaxZepSamplingRate = 300;
// Audio output rate, in Hz.
constexpr int kAudioSamplingRate = 44100;

// Size of the whole main window in pixels, as last reported to the reshape handler.
extern int windowWidth, windowHeight;
// Size of the 3-D drawing area (the window minus the control panel), set by onReshape.
extern int viewportWidth, viewportHeight;
// GLUT identifier of the main window.
extern int mainWindow;
// Clipping distances of the perspective projection; 0 until the scene is loaded.
extern double nearPlane, farPlane;

// The three mutexes, created unowned before main and alive until after every at-exit handler.
// Lock order: synthesisMutex before forceMutex; workloadMutex is always taken alone; the GUI
// thread never holds two at once.
extern Mutex synthesisMutex;  // resonator bank, per-mode gains, loading of modal forces
extern Mutex forceMutex;      // pendingModalForce and its exchange with activeModalForce
extern Mutex workloadMutex;   // callbackSeconds and the composition of the status line

// The five interval timers, initialised before main.
extern IntervalTimer lastIdleTime;        // idle handler: frame interval
extern IntervalTimer lastStatusTime;      // idle handler: status line once per second
extern IntervalTimer impactTime;          // idle handler: impact marker lifetime
extern IntervalTimer lastSaturationTime;  // display handler: saturation message hold
extern IntervalTimer callbackStartTime;   // audio callback: its own running time

// Prints the start-up banner (framed by two lines of 44 '='), an empty line, and
// "Starting the demo...".
void printBanner();

// Reads the first integer of "ZEPSamplingRate.txt" in the working directory, checks that it
// lies in 100..300, sets zepSamplingRate and blockSize and prints the confirmation line.
// On a missing file, a file that does not start with an integer, or a value out of range,
// prints the seven-line error report to standard output and ends the process with exit(1).
void readZepSamplingRate();

// At-exit handler: prints "Closing GLUI windows..." and shuts down the panel and the audio
// streams, so no callback runs against state that is being destroyed.
void onExit();
