// The acoustic transfer of every vibration mode: how strongly the mode radiates sound to a point,
// stored as a set of multipole point sources of orders 0 and 1 per mode, radiating at the mode's
// wave number. Scene loading reads the model once (loadTransferModel, GUI thread, before the
// audio stream starts); the audio callbacks evaluate it once per block at the listener
// (evaluateTransfer, audio thread, under synthesisMutex). Read-only after loading. The plain
// per-source form of the same sum (evaluateTransferLiteral) is the reference for tests and the
// benchmark's baseline.
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
    // Sources are evaluated four lanes at a time (the AVX2 build when `useAvx2Lanes` is set, which
    // needs a processor with AVX2: processorHasAvx2(), sound/vector_lanes.h), with the field
    // rearranged to a0 h0 + h1 A / r = (s + i c) (a0 + (1/x + i) A / r) / x, where
    // A = a1 dz + a2 (dx - i dy) - a3 (dx + i dy) needs no angles. Agrees with
    // evaluateTransferLiteral to 1e-12 of the value (in practice a few units in the last place of
    // the terms' sizes): r and k r are formed as there, bit for bit.
    // Real-time: no allocation, no I/O, no lock; per source two square roots, one division and
    // one sine and cosine, four lanes at once (the C library's sin and cos beyond k r = 1e5).
    void evaluateTransfer(const double position[3], double* out, int count,
                          bool useAvx2Lanes) const;

    // The same transfer, written as the plain sum: per source, in file order, rho and r (two
    // square roots), cos(theta), sin(theta), cos(phi), sin(phi), x = k r, sin x and cos x from
    // the C library, h0 and h1, and the four terms a0 h0 + a1 h1 cos(theta)
    // + a2 h1 sin(theta) e^{-i phi} - a3 h1 sin(theta) e^{+i phi}, one source at a time. The
    // reference the vectorised evaluation is checked against and the benchmark's baseline.
    // Same contract and finite values as evaluateTransfer (phi = 0 on the axis, where its terms
    // vanish with sin(theta)).
    // Real-time: no allocation, no I/O, no lock; per source two square roots, a sine, a cosine and
    // eight divisions.
    void evaluateTransferLiteral(const double position[3], double* out, int count) const;

    // The complex pressure itself, before the magnitude the renderers take: for entries
    // 0 .. count-1 (count < 0: frequencyCount; cut to frequencyCount), pressure[2 i] and
    // pressure[2 i + 1] are the real and imaginary parts of the sum evaluateTransferLiteral
    // takes the magnitude of, computed by the same code; a sum that is not finite gives 0.
    // Convention e^{+i omega t}, as for the sources. The layout is std::complex<double>[count].
    // Used by analysis (the Python module's Scene.transfer), not by the audio path.
    // No allocation, no I/O, no lock; per source what evaluateTransferLiteral costs.
    void evaluateTransferPressure(const double position[3], double* pressure, int count) const;

    int frequencyCount = 0;             // number of entries (modes)
    std::vector<double*> sourceBlocks;  // entry j: 11 * sourceCounts[j] doubles, malloc'ed, owned
    std::vector<double> waveNumbers;    // entry j: k, inverse model length units
    std::vector<int> sourceCounts;      // entry j: number of sources
    // The mean position of every source of every entry (object frame, model length units): where
    // the object sounds from as a whole, the point a binaural listener hears it in the direction
    // of (sound/binaural_gains.h). Set by loadTransferModel; the origin for a model without
    // sources.
    double centre[3] = {0, 0, 0};
};

// Reads the transfer object list `listFileName` and every ".sources" and ".k" file it names,
// sets the model's centre, then prints "Num frequencies: %d . Total num sources: %ld\n". Ends the
// process with exit(1) on a missing list ("Error: could not open file %s.\n"), a missing or short
// matrix file (the dense matrix reader's messages), or a wrong shape ("Error: assertion %d == %d
// failed (%d).\n", code 1:
// ".sources" rows not 11; 2: ".k" rows not 1; 3: ".k" columns not 1).
// Lines end in a line feed (a carriage return before it is dropped as well, as text-mode reading
// does); the last character of every line is removed, also of a last line without a line feed.
// A line whose prefix, with ".sources" appended, does not fit the 4096-byte name buffer (a
// prefix of 4088 characters or more) is refused with
// "Error: line %d of %s names a file longer than 4095 characters.\n" (the 1-based line number and
// the list's name) and exit(1).
// With `baseDirectory`, the list's prefixes name files relative to that directory instead of the
// working directory (the engine library loads folders without changing the working directory);
// the length limit then counts the directory, its slash and the prefix.
// Called once by scene loading on the GUI thread, or by the engine's loading on its control
// thread (sound/transfer_model.h's messages then go through printInputMessage).
TransferModel loadTransferModel(const char* listFileName, const char* baseDirectory = nullptr);
