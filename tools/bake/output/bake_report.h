// The report written beside a baked scene's data: mesh sizes, material, stage times, the mode
// frequencies and each mode's acoustic transfer (its tier, sources, fit and held-out errors, the
// modes that reached the source cap, the checks of the high-frequency tier against reference
// solves) and the loudness calibration (the force unit and the preset strike's peaks), as plain
// text ("report.txt") and as plots ("report.svg").
#pragma once

#include <Eigen/Core>
#include <string>
#include <utility>
#include <vector>

#include "tools/bake/output/loudness_calibration.h"
#include "tools/bake/transfer/transfer_stage.h"

struct BakeReport {
    std::string sceneName, recipePath;
    int surfaceVertexCount = 0, surfaceTriangleCount = 0;
    int nodeCount = 0, tetCount = 0;
    bool quadratic = false;           // 10-node tetrahedra (edge midpoints among the nodes)
    double volume = 0.0, mass = 0.0;  // m^3, kg
    double youngsModulus = 0.0, poissonRatio = 0.0, density = 0.0;
    Eigen::VectorXd frequencies;         // Hz, elastic modes
    double largestRigidFrequency = 0.0;  // Hz, of the six dropped modes
    double rigidResidual = 0.0;
    int iterations = 0, operations = 0, factorisations = 0;  // eigen slices, Lanczos steps
    double largestResidual = 0.0;                            // of the elastic eigenpairs, relative
    std::vector<std::pair<std::string, double>> stageSeconds;
    // Acoustic transfer: the plan (tiers, surfaces, checks), the settings, one summary per mode.
    std::string transferPlan;
    double objectSize = 0.0;  // m, the largest side of the bounding box (k D uses it)
    std::string transferSettings;
    double transferTolerance = 0.0;  // relative, the boundary element tiers' fit target
    std::vector<ModeTransferSummary> transfer;
    int transferGroupCount = 0;
    double preparationSeconds = 0.0, unitSeconds = 0.0;  // surfaces etc.; summed worker time
    std::vector<WaveChordSummary> chords;                // the wave tier's runs
    double comparisonRadius = 0.0;   // m: the sphere of the wave tier's comparisons
    LoudnessCalibration loudness;    // the force unit folded into ".U" and the preset strike
    std::string objectPresets;       // the computed presets (object_presets.h), "" for none
    std::vector<std::string> notes;  // one line each, e.g. what is not baked yet
};

// Writes `report` as text to `path`. Throws BakeError on failure.
void writeReportText(const std::string& path, const BakeReport& report);

// Writes an SVG of two plots against mode number to `path`: the frequencies (log scale), and the
// sources per mode with the fit and held-out errors (per cent) and the tolerance.
void writeReportSvg(const std::string& path, const BakeReport& report);
