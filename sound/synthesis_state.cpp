// Definitions of the synthesis state and its one-time allocation.
#include "sound/synthesis_state.h"

#include <cstdlib>

int totalModeCount = 0;
ModalResonator** resonators = nullptr;
double* modeOmega = nullptr;
double* modeStiffness = nullptr;
double* activeModalForce = nullptr;
double* pendingModalForce = nullptr;
double* monoTransfer = nullptr;
double* monoTransferPrevious = nullptr;
double* leftTransfer = nullptr;
double* leftTransferPrevious = nullptr;
double* rightTransfer = nullptr;
double* rightTransferPrevious = nullptr;

TransferModel transferModel;
double modalRendererGain = 0.0;

std::atomic<int> rendererType{0};
std::atomic<int> channelMode{0};
std::atomic<int> activeModeCount{0};
std::atomic<int> impactDuration{10};

std::atomic<double> monoPeaks[kPeakRingSize] = {};
std::atomic<double> leftPeaks[kPeakRingSize] = {};
std::atomic<double> rightPeaks[kPeakRingSize] = {};
std::atomic<int> peakIndex{0};
double callbackSeconds = 0.0;

// Constructed during static initialisation, before main; their destructors run after the at-exit
// handlers registered in main, so they outlive the one that stops the audio streams.
Mutex synthesisMutex;
Mutex forceMutex;
Mutex workloadMutex;
int blockSize = 220;
IntervalTimer callbackStartTime;

namespace {

double* zeroedArray(int count) {
    // calloc: the per-mode arrays are plain zero-filled doubles handed between parts.
    return static_cast<double*>(calloc(count > 0 ? count : 1, sizeof(double)));
}

void releaseModeArrays() {
    if (resonators != nullptr) {
        for (int i = 0; i < totalModeCount; ++i) delete resonators[i];
        delete[] resonators;
    }
    double** arrays[] = {
        &modeOmega,     &modeStiffness,        &activeModalForce, &pendingModalForce,
        &monoTransfer,  &monoTransferPrevious, &leftTransfer,     &leftTransferPrevious,
        &rightTransfer, &rightTransferPrevious};
    for (double** array : arrays) {
        free(*array);
        *array = nullptr;
    }
    resonators = nullptr;
}

}  // namespace

void allocateModeArrays(int modeCount) {
    releaseModeArrays();
    if (modeCount < 0) modeCount = 0;
    totalModeCount = modeCount;
    activeModeCount = modeCount;
    resonators = new ModalResonator*[modeCount > 0 ? modeCount : 1]();
    modeOmega = zeroedArray(modeCount);
    modeStiffness = zeroedArray(modeCount);
    activeModalForce = zeroedArray(modeCount);
    pendingModalForce = zeroedArray(modeCount);
    monoTransfer = zeroedArray(modeCount);
    monoTransferPrevious = zeroedArray(modeCount);
    leftTransfer = zeroedArray(modeCount);
    leftTransferPrevious = zeroedArray(modeCount);
    rightTransfer = zeroedArray(modeCount);
    rightTransferPrevious = zeroedArray(modeCount);
}

void createResonators(double massDamping, double stiffnessDamping) {
    for (int i = 0; i < totalModeCount; ++i) {
        const double c = stiffnessDamping * modeStiffness[i] + massDamping;
        delete resonators[i];
        resonators[i] = new ModalResonator(1.0, c, modeStiffness[i], audioTimeStep);
    }
}

int setBankDamping(double massDamping, double stiffnessDamping) {
    int refused = 0;
    for (int i = 0; i < totalModeCount; ++i) {
        refused += resonators[i]->setDamping(stiffnessDamping * modeStiffness[i] + massDamping);
    }
    return refused;
}

void clearPeakRings() {
    for (int i = 0; i < kPeakRingSize; ++i) {
        monoPeaks[i].store(0.0, std::memory_order_relaxed);
        leftPeaks[i].store(0.0, std::memory_order_relaxed);
        rightPeaks[i].store(0.0, std::memory_order_relaxed);
    }
}
