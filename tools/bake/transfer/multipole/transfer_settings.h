// How the acoustic transfer of the modes is computed: the recipe's "transfer" object (read by
// recipe/recipe.cpp) and the sizes of the multipole fit every tier ends in. One type from the
// recipe to the fit: the plan (transfer/transfer_plan.h) reads the tiers' thresholds, the tiers
// the fit's sizes. The numerical options of the boundary element solver are its own (BemOptions).
#pragma once

#include <string>

struct TransferSettings {
    // [SECTION] The recipe's "transfer" object. The tiers and their thresholds are explained in
    // transfer/transfer_plan.h.
    double tolerance = 0.05;             // relative error of the multipole fit; names the list
    int maxSources = 80;                 // cap of the fit at low frequency; it grows with k R
    double elementsPerWavelength = 6.0;  // boundary elements per wavelength at each group
    int minElements = 800;               // never coarser than this (thin walls, small features)
    int maxElements = 3000;          // tier A (dense matrix: 8-16 bytes x elements^2) up to here
    int hmatrixMaxElements = 16000;  // tier B (compressed matrix) up to here; 0: no tier B
    // Tier C only where a recipe asks for it: from this k x object size on; 0: no tier C.
    double highFrequencyKD = 0.0;
    double highFrequencyTolerance = 0.15;  // fit of tier C's smoothed field (and held out)
    bool highFrequencyFirst = false;  // tier C from the threshold on even where A is affordable
    double groupWidth = 0.005;        // modes within this relative frequency share one solve
    int fitPointCount = 1000;         // pressure samples on the fit surface (at least)
    int heldOutPointCount = 300;      // samples on the held-out check surface (at least)
    // Tier C checked against a reference boundary element solve: this many groups per octave
    // (0: none), the reference at checkElementsPerWavelength, on at most checkMaxElements.
    double checkModesPerOctave = 0.0;
    double checkElementsPerWavelength = 8.0;
    int checkMaxElements = 0;
    // The wave tier (transfer/wave/, the recipe's "wave" object; "wave": false turns it off)
    // takes every group tier A cannot, each mode at its own frequency, on a grid of
    // waveCellsPerWavelength cells per wavelength, with differences of waveSpatialOrder (2 or 4,
    // wave_solver.h). Its accuracy in the report: tier A's modes
    // within waveOverlapOctaves below tier A's highest also solved by the wave tier and compared,
    // and the waveConvergenceModes highest modes solved again on a grid sqrt(2) finer.
    bool waveTier = true;
    double waveCellsPerWavelength = 10.0;
    int waveSpatialOrder = 2;
    // The object's boundary on the wave tier's grid: cut cells (cut_cells.h) or the staircase of
    // whole cells (boundary_faces.h); the recipe's "boundary": "cut" or "staircase".
    bool waveCutCells = true;
    double waveOverlapOctaves = 0.0;
    int waveConvergenceModes = 0;

    // [SECTION] Where the fit samples the field and places its sources (transfer/multipole/
    // field_fit.h); fixed by the baker, not read from recipes.
    double fitMargin = 0.15;         // fit surface: bounding box grown by this x half-diagonal
    double heldOutMargin = 0.6;      // held-out surface, farther out
    // The wave tier's held-out surface: its grid must hold every sample point, and its cost
    // grows as the cube of the box's side, so its held-out points lie closer in.
    double waveHeldOutMargin = 0.3;
    int candidatesPerAxis = 8;       // along the longest side of the bounding box (raised with k)
    int maxRefits = 4;               // tighter fits when the held-out error is above the tolerance
    double refitFactor = 0.7;        // each refit's target: the previous one times this
    bool growWithWaveNumber = true;  // raise the cap, the samples and the candidates with k R
    // Bounds on that growth (maxFitPoints 0: none). Each step of the greedy fit correlates the
    // residual with every candidate's fields at every sample: at the wave tier's k R of 80 the
    // growth would ask for 10,000 samples and 2,400 candidates, 2.4 GB and minutes per mode.
    int maxFitPoints = 0;
    int maxCandidatesPerAxis = 14;
    // Sources the greedy fit may add per pass over the candidates' fields (fitMultipoles): one
    // for the boundary element tiers; the wave tier's fits, with thousands of samples and
    // candidates, take several.
    int fitBlocksPerStep = 1;
};

// The recipe's settings in words, for the report and the cache key (a scene is baked again when
// they change).
std::string describeTransferSettings(const TransferSettings& settings);

// Element count a surface of `area` (m^2) needs at `frequency` (Hz) with `perWavelength` elements
// along the wavelength c / f (c = 343 m/s) on equilateral-ish triangles: what the recipe's
// elementsPerWavelength asks of the boundary element tiers.
double elementsNeeded(double area, double frequency, double perWavelength);
