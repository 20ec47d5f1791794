// The acoustic transfer of every vibration mode: how strongly the mode radiates sound to a point,
// stored as a set of multipole point sources of orders 0 and 1 per mode, radiating at the mode's
// wave number. Scene loading reads the model once (loadTransferModel, GUI thread, before the
// audio stream starts); the audio callbacks evaluate it once per block at the listener
// (evaluateTransfer, audio thread, under synthesisMutex). Read-only after loading.
//
// Files: a transfer object list (text, one file-name prefix P per mode and line) and, per prefix,
// the dense matrices "P.sources" (11 x n: one column per source: position x, y, z in the object's
// frame, then the complex coefficients a0, a1, a2, a3 as real/imaginary pairs) and "P.k" (1 x 1,
// the wave number in inverse model length units).
//
// Convention: time-harmonic e^{+i omega t}; outgoing spherical Hankel functions of the second kind
// h_n = j_n - i y_n. The source's polar axis is the model's z axis.
#pragma once

#include <vector>

class TransferModel {
  public:
    // |sum over the sources of entry i of their complex pressure| at `position` (x, y, z in the
    // object's own frame, model length units) for entries 0 .. count-1, into out[0 .. count-1];
    // count < 0 means frequencyCount. Out-of-range counts are cut to frequencyCount.
    // Finite everywhere: a source exactly at the position contributes nothing (its field is
    // singular there); on a source's vertical axis (rho = 0), where the azimuth is undefined, the
    // value is the limit from beside the axis (the terms that depend on the azimuth carry
    // sin(theta) = 0 there); an entry whose sum is not finite (overflow right next to a source, or
    // non-finite coefficients) gives 0.
    // Sources are evaluated four at a time (sine and cosine of sound/vector_lanes.h).
    // Real-time: no allocation, no I/O, no lock; per source one sine and cosine, one square root
    // and two divisions.
    void evaluateTransfer(const double position[3], double* out, int count) const;

    int frequencyCount = 0;             // number of entries (modes)
    std::vector<double*> sourceBlocks;  // entry j: 11 * sourceCounts[j] doubles, malloc'ed, owned
    std::vector<double> waveNumbers;    // entry j: k, inverse model length units
    std::vector<int> sourceCounts;      // entry j: number of sources
};

// Reads the transfer object list `listFileName` and every ".sources" and ".k" file it names,
// then prints "Num frequencies: %d . Total num sources: %d\n". Ends the process with exit(1) on a
// missing list ("Error: could not open file %s.\n"), a missing or short matrix file (the dense
// matrix reader's messages), or a wrong shape ("Error: assertion %d == %d failed (%d).\n", code 1:
// ".sources" rows not 11; 2: ".k" rows not 1; 3: ".k" columns not 1).
// Lines end in a line feed (a carriage return before it is dropped as well, as text-mode reading
// does); the last character of every line is removed, also of a last line without a line feed.
// A prefix too long for the 4096-byte name buffer is refused with
// "Error: file name too long in %s.\n" and exit(1).
// Called once by scene loading on the GUI thread.
TransferModel loadTransferModel(const char* listFileName);
