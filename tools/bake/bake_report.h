// The report written beside a baked scene's data: mesh sizes, material, stage times and the mode
// frequencies, as plain text ("report.txt") and as a plot of the frequencies ("report.svg").
#pragma once

#include <Eigen/Core>
#include <string>
#include <utility>
#include <vector>

struct BakeReport {
    std::string sceneName, recipePath;
    int surfaceVertexCount = 0, surfaceTriangleCount = 0;
    int nodeCount = 0, tetCount = 0;
    double volume = 0.0, mass = 0.0;  // m^3, kg
    double youngsModulus = 0.0, poissonRatio = 0.0, density = 0.0;
    Eigen::VectorXd frequencies;         // Hz, elastic modes
    double largestRigidFrequency = 0.0;  // Hz, of the six dropped modes
    double rigidResidual = 0.0;
    int iterations = 0, operations = 0;
    std::vector<std::pair<std::string, double>> stageSeconds;
    std::vector<std::string> notes;  // one line each, e.g. what is not baked yet
};

// Writes `report` as text to `path`. Throws BakeError on failure.
void writeReportText(const std::string& path, const BakeReport& report);

// Writes an SVG plot of the frequencies (log scale) against mode number to `path`.
void writeReportSvg(const std::string& path, const BakeReport& report);
