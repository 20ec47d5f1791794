// Chords of modes driven together and separated by their sinusoids (see mode_conflation.h).
#include "tools/bake/transfer/wave/mode_conflation.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <numeric>

#include "tools/bake/common/physical_constants.h"
#include "tools/bake/common/stopwatch.h"
#include "tools/bake/transfer/wave/boundary_faces.h"
#include "tools/bake/transfer/wave/cut_cells.h"
#include "tools/bake/transfer/wave/pressure_probes.h"
#include "tools/bake/transfer/wave/sinusoid_fit.h"
#include "tools/bake/transfer/wave/voxelize.h"
#include "tools/bake/transfer/wave/wave_grid.h"
#include "tools/bake/transfer/wave/wave_solver.h"

namespace {

// Quintic smoothstep on [0, 1]: r(0) = 0, r(1) = 1, r' and r'' zero at both ends.
double ramp(double x) {
    if (x <= 0) return 0;
    if (x >= 1) return 1;
    return x * x * x * (10 + x * (-15 + 6 * x));
}

}  // namespace

ChordTiming chordTiming(const std::vector<double>& frequencies_Hz, double diagonal,
                        const WaveSettings& settings) {
    std::vector<double> sorted = frequencies_Hz;
    std::sort(sorted.begin(), sorted.end());
    const double lowest = sorted.front();
    double smallestGap = std::numeric_limits<double>::infinity();
    for (size_t j = 1; j < sorted.size(); ++j)
        smallestGap = std::min(smallestGap, sorted[j] - sorted[j - 1]);
    ChordTiming timing;
    timing.ramp = settings.rampPeriods / lowest;
    timing.windowStart = timing.ramp + settings.settleCrossings * diagonal / kSpeedOfSound_ms;
    timing.window = settings.windowPeriods / lowest;
    if (std::isfinite(smallestGap))
        timing.window = std::max(timing.window, settings.windowFactor / smallestGap);
    return timing;
}

double gridFrequency(const std::vector<double>& frequencies_Hz, double longestSide,
                     const WaveSettings& settings) {
    const double highest = *std::max_element(frequencies_Hz.begin(), frequencies_Hz.end());
    // h = c / (f cellsPerWavelength) <= longestSide / minCellsAcross.
    const double coarsest =
        kSpeedOfSound_ms * settings.minCellsAcross / (longestSide * settings.cellsPerWavelength);
    return std::max(highest, coarsest);
}

std::vector<Chord> planChords(const std::vector<double>& frequencies_Hz,
                              const Eigen::Vector3d& boxMin, const Eigen::Vector3d& boxMax,
                              double longestSide, const WaveSettings& settings) {
    std::vector<int> order(frequencies_Hz.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return frequencies_Hz[size_t(a)] < frequencies_Hz[size_t(b)];
    });
    std::vector<Chord> chords;
    for (int mode : order) {
        const double f = frequencies_Hz[size_t(mode)];
        Chord* home = nullptr;
        for (Chord& chord : chords) {
            // Members are in ascending order, so the last is the nearest below f.
            const double lowest = frequencies_Hz[size_t(chord.modes.front())];
            const double last = frequencies_Hz[size_t(chord.modes.back())];
            if (int(chord.modes.size()) < settings.maxChordModes &&
                f - last >= settings.minSeparation_Hz && f <= lowest * settings.maxChordSpan) {
                home = &chord;
                break;
            }
        }
        if (!home) {
            chords.emplace_back();
            home = &chords.back();
        }
        home->modes.push_back(mode);
    }
    const double diagonal = (boxMax - boxMin).norm();
    for (Chord& chord : chords) {
        std::vector<double> frequencies;
        for (int mode : chord.modes) frequencies.push_back(frequencies_Hz[size_t(mode)]);
        const WaveGrid grid = makeWaveGrid(
            boxMin, boxMax, gridFrequency(frequencies, longestSide, settings), settings);
        const double steps =
            std::ceil(chordTiming(frequencies, diagonal, settings).end() / grid.dt);
        chord.cost = double(grid.cellCount()) * steps;
    }
    std::stable_sort(chords.begin(), chords.end(),
                     [](const Chord& a, const Chord& b) { return a.cost > b.cost; });
    return chords;
}

SampledRegion sampledRegion(const SurfaceMesh& surface,
                            const std::vector<Eigen::Vector3d>& points) {
    Eigen::Vector3d objectMin, objectMax;
    boundingBox(surface, objectMin, objectMax);
    SampledRegion region{objectMin, objectMax, (objectMax - objectMin).maxCoeff()};
    for (const Eigen::Vector3d& x : points) {
        region.boxMin = region.boxMin.cwiseMin(x);
        region.boxMax = region.boxMax.cwiseMax(x);
    }
    return region;
}

std::vector<double> frequenciesOf(const std::vector<double>& omegas) {
    std::vector<double> frequencies;
    for (double omega : omegas) frequencies.push_back(omega / (2 * kPi));
    return frequencies;
}

Eigen::MatrixXcd runChord(const SurfaceMesh& surface, const Eigen::MatrixXd& vertexVelocity,
                          const std::vector<double>& omegas,
                          const std::vector<Eigen::Vector3d>& points, const WaveSettings& settings,
                          ChordStatistics* statistics) {
    const auto start = std::chrono::steady_clock::now();
    const int modes = int(omegas.size());
    const SampledRegion region = sampledRegion(surface, points);
    const std::vector<double> frequencies = frequenciesOf(omegas);
    const WaveGrid grid =
        makeWaveGrid(region.boxMin, region.boxMax,
                     gridFrequency(frequencies, region.objectSize, settings), settings);

    std::vector<uint8_t> solid = voxelize(grid, surface);
    // The cut cells open some solid cells to the air: everything below takes the cells after.
    CutCells cut;
    if (settings.cutCells) cut = findCutCells(grid, &solid, surface);
    // The staircase's faces need their surface points; next to cut cells they are only held.
    const std::vector<BoundaryFace> faces =
        settings.cutCells ? solidAirFaces(grid, solid)
                          : findBoundaryFaces(grid, solid, surface, settings.threads);
    // The drive: the staircase's face velocities, or the cut cells' fluxes (as velocities over
    // a cell's face, Q / h^2, for the scale below).
    Eigen::MatrixXd amplitude =
        settings.cutCells
            ? Eigen::MatrixXd(cutCellFluxes(cut, surface, vertexVelocity) / (grid.h * grid.h))
            : faceVelocities(faces, surface, vertexVelocity);
    // s_j = 1 / RMS of mode j over the faces (the cut cells): every mode drives at the same
    // strength.
    Eigen::VectorXd scale(modes);
    for (int j = 0; j < modes; ++j) {
        const double rms = amplitude.rows() == 0
                               ? 0.0
                               : amplitude.col(j).norm() / std::sqrt(double(amplitude.rows()));
        scale[j] = rms > 0 ? 1 / rms : 0.0;
        amplitude.col(j) *= scale[j];
    }
    WaveSolver solver = settings.cutCells
                            ? WaveSolver(grid, solid, faces, Eigen::MatrixXd(), settings, &cut,
                                         amplitude * (grid.h * grid.h))
                            : WaveSolver(grid, solid, faces, amplitude, settings);
    const PressureProbes probes(grid, solid, points);
    const ChordTiming timing = chordTiming(frequencies, (region.boxMax - region.boxMin).norm(), settings);
    const int64_t steps = int64_t(std::ceil(timing.end() / grid.dt));
    std::vector<double> driven = omegas;
    if (settings.matchDispersion)
        for (double& omega : driven) omega = dispersionMatchedOmega(grid, omega);

    SinusoidFit fit(driven, int(points.size()));
    std::vector<double> weights(static_cast<size_t>(modes)), sample(points.size());
    const auto solverStart = std::chrono::steady_clock::now();
    for (int64_t n = 0; n < steps; ++n) {
        // The boundary's velocity at t_{n+1/2}; the pressure then comes out at t_{n+1}.
        const double t = (double(n) + 0.5) * grid.dt;
        const double r = ramp(t / timing.ramp);
        for (int j = 0; j < modes; ++j) weights[size_t(j)] = r * std::cos(driven[size_t(j)] * t);
        solver.step(weights.data());
        const double tPressure = double(n + 1) * grid.dt;
        if (tPressure >= timing.windowStart) {
            probes.sample(solver.pressure(), sample.data());
            fit.add(tPressure, sample.data());
        }
    }
    const double solverSeconds = secondsSince(solverStart);
    fit.solve();
    Eigen::MatrixXcd pressure = fit.amplitudes();
    // The run drove s_j A_fj at omega'_j: mode j's own field at omega_j is the fitted one over
    // s_j, times omega_j / omega'_j (the pressure of a given velocity grows with the frequency;
    // none without drive).
    for (int j = 0; j < modes; ++j)
        pressure.col(j) = scale[j] > 0
                              ? Eigen::VectorXcd(pressure.col(j) *
                                                 (omegas[size_t(j)] / driven[size_t(j)]) / scale[j])
                              : Eigen::VectorXcd::Zero(pressure.rows());

    if (statistics) {
        statistics->gridCells = grid.n;
        statistics->h = grid.h;
        statistics->dt = grid.dt;
        statistics->steps = steps;
        statistics->windowSteps = fit.sampleCount();
        statistics->boundaryFaces = int(faces.size());
        statistics->linearProbes = probes.linearPointCount();
        statistics->conditionNumber = fit.conditionNumber();
        const Eigen::VectorXd against = fit.residualAgainst();
        statistics->residuals.assign(against.data(), against.data() + against.size());
        const Eigen::VectorXd relative = fit.relativeResiduals();
        statistics->maxPointResidual = relative.size() ? relative.maxCoeff() : 0.0;
        statistics->solverSeconds = solverSeconds;
        statistics->cellUpdatesPerSecond =
            solverSeconds > 0 ? double(grid.cellCount()) * double(steps) / solverSeconds : 0.0;
        statistics->seconds = secondsSince(start);
    }
    return pressure;
}
