// The numerical settings of the time-domain wave tier of the acoustic transfer: how fine its grid
// is, how thick its absorbing layer, how long each run lasts and how modes share runs. Fixed by
// the baker; the tier's callers (the transfer stage, tests, the benchmark) pass one of these to
// every function of transfer/wave that needs it.
#pragma once

struct WaveSettings {
    // [SECTION] The grid (wave_grid.h).
    double cellsPerWavelength = 10.0;  // cells along c / f at the run's highest frequency
    // Never coarser than this many cells along the object's longest side, whatever the
    // frequency: below it the staircase loses the shape.
    int minCellsAcross = 48;
    int pmlCells = 10;  // thickness of the absorbing layer on every side
    int airCells = 3;   // air between the sample points' box and the layer
    // Order of the spatial differences (wave_solver.h): 2, the two-point differences of Yee's
    // scheme, or 4, the four-point ones (9/8, -1/24) wherever the stencil lies in open air.
    int spatialOrder = 2;
    // Time step as a fraction of the scheme's stability limit c dt <= h / (sqrt(3) s), s = 1 at
    // second order and 7/6 at fourth (wave_grid.h); close to 1 the second-order scheme's
    // numerical dispersion is smallest.
    double courantFraction = 0.98;
    // The object's boundary: cut cells (cut_cells.h: each cell next to the surface keeps its share
    // of air and of its faces, and takes the surface's flux), or the staircase of whole cells
    // (boundary_faces.h), whose errors fall only as h.
    bool cutCells = true;
    // Drive each mode at the frequency whose grid waves have its wave number on average
    // (dispersionMatchedOmega, wave_grid.h), and scale its pressure back by omega / omega'.
    bool matchDispersion = true;

    // [SECTION] The absorbing layer (wave_solver.h): sigma(d) = sigmaMax d^pmlOrder over the
    // layer's depth d in [0, 1], sigmaMax from the reflection a continuous layer of that
    // profile would give at normal incidence, R = exp(-2 sigmaMax L / ((m + 1) c)).
    int pmlOrder = 3;
    double pmlReflection = 1e-4;

    // [SECTION] A run (mode_conflation.h). The drive rises over rampPeriods periods of the
    // chord's lowest mode; the transient then needs settleCrossings times the time sound takes
    // across the box of the object and the sample points to pass; the fit window lasts
    // windowFactor / (smallest frequency gap of the chord), and at least windowPeriods periods
    // of the lowest mode.
    double rampPeriods = 3.0;
    double settleCrossings = 1.0;
    double windowFactor = 1.0;
    double windowPeriods = 2.0;

    // [SECTION] Chords (mode_conflation.h): modes whose frequencies are at least
    // minSeparation_Hz apart share a run, at most maxChordModes of them, and a chord's highest
    // frequency is at most maxChordSpan times its lowest (the lowest sets the run's length, the
    // highest its grid).
    double minSeparation_Hz = 100.0;
    int maxChordModes = 24;
    double maxChordSpan = 2.0;

    int threads = 0;  // threads of a run; 0: all the hardware's (parallel_for.h)
};
