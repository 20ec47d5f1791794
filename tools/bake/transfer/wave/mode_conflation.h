// Mode conflation: several modes of well-separated frequencies driven in one run of the wave
// solver and separated afterwards by their sinusoids. The wave tier's driver (wave_transfer.h)
// plans the chords and runs them one after the other, each on all threads.
//
// A run ("chord") drives every boundary face with
//   u_face(t) = ramp(t) sum_j s_j A_fj cos(w_j t),
// A_fj the face velocity of mode j (boundary_faces.h) and s_j = 1 / (RMS of A_fj over the faces),
// so that every mode drives as loudly as the others; ramp(t) = r(t / T_ramp) with the quintic
// smoothstep r(x) = x^3 (10 - 15 x + 6 x^2) (r, r' and r'' continuous at both ends) over
// rampPeriods periods of the chord's lowest mode. Once the ramp's transient has crossed the box
// of the object and the sample points (settleCrossings times its diagonal over c), the pressure
// at every sample point is recorded over a window of
//   T = max(windowFactor / df_min, windowPeriods / f_min),
// df_min the chord's smallest frequency gap, and fitted by the chord's sinusoids
// (sinusoid_fit.h): P_j = (a_j - i b_j) / s_j, the complex pressure (Pa) of mode j for unit modal
// velocity, time dependence e^{+iwt}. With df T >= 1 the fit's matrix is well conditioned
// (sinusoid_fit.h): so chords are planned with frequencies at least minSeparation_Hz apart, and
// with the default windowFactor 1 the window is at least 1 / df_min.
#pragma once

#include <Eigen/Core>
#include <array>
#include <cstdint>
#include <vector>

#include "tools/bake/surface/surface_mesh.h"
#include "tools/bake/transfer/wave/wave_settings.h"

// When a chord's run does what (s), for its frequencies and the box it covers.
struct ChordTiming {
    double ramp = 0;         // T_ramp: the drive is at full strength from here on
    double windowStart = 0;  // T_ramp + the transient's crossing
    double window = 0;       // T
    double end() const { return windowStart + window; }
};
// frequencies_Hz: the chord's, positive; diagonal: the diagonal of the box of the object and the
// sample points (m).
ChordTiming chordTiming(const std::vector<double>& frequencies_Hz, double diagonal,
                        const WaveSettings& settings);

// The grid frequency of a chord: its highest frequency, raised so that the object's longest side
// spans at least minCellsAcross cells.
double gridFrequency(const std::vector<double>& frequencies_Hz, double longestSide,
                     const WaveSettings& settings);

struct Chord {
    std::vector<int> modes;  // indices into the planned frequencies, ascending frequency
    double cost = 0;         // estimated cell updates of its run
};

// The region a chord's grid must hold: the object's bounding box grown to take in every sample
// point, and the object's longest side (m); the frequencies (Hz) of angular frequencies `omegas`.
struct SampledRegion {
    Eigen::Vector3d boxMin, boxMax;
    double objectSize = 0;
};
SampledRegion sampledRegion(const SurfaceMesh& surface, const std::vector<Eigen::Vector3d>& points);
std::vector<double> frequenciesOf(const std::vector<double>& omegas);

// Packs modes into chords: modes in ascending frequency, each into the first chord whose members
// are all at least minSeparation_Hz away from it, that holds fewer than maxChordModes and whose
// lowest frequency times maxChordSpan is at or above it; else into a new chord. Each chord's cost
// is its grid's cells (makeWaveGrid at gridFrequency over [boxMin, boxMax]) times its steps
// (chordTiming); chords are returned costliest first. Every mode is in exactly one chord.
// frequencies_Hz: positive; [boxMin, boxMax]: the box of the object and the sample points;
// longestSide: the object's (m).
std::vector<Chord> planChords(const std::vector<double>& frequencies_Hz,
                              const Eigen::Vector3d& boxMin, const Eigen::Vector3d& boxMax,
                              double longestSide, const WaveSettings& settings);

struct ChordStatistics {
    std::vector<int> modes;  // as planned (indices of the caller's modes)
    std::array<int, 3> gridCells = {0, 0, 0};
    double h = 0, dt = 0;  // m, s
    int64_t steps = 0, windowSteps = 0;
    int boundaryFaces = 0, linearProbes = 0;
    double conditionNumber = 0;       // of the fit's least-squares matrix
    std::vector<double> residuals;    // per mode: SinusoidFit::residualAgainst
    double maxPointResidual = 0;      // the largest relative residual of a sample point
    double seconds = 0;               // the run's wall-clock time, voxelising included
    double solverSeconds = 0;         // the steps alone
    double cellUpdatesPerSecond = 0;  // grid cells x steps / solverSeconds
};

// Runs one chord. surface: the object's closed, outward surface (m); vertexVelocity: 3 N x modes
// (surface rows of the mode shapes, m/s for unit modal velocity); omegas: the modes' angular
// frequencies (rad/s, at least minSeparation_Hz apart for a well-conditioned fit); points: where
// the pressure is wanted (m, in the air). Returns points x modes complex pressures (Pa) and fills
// `statistics` (modes left to the caller). The steps run on settings.threads threads. Throws
// BakeError when a point lies inside the voxelised object.
Eigen::MatrixXcd runChord(const SurfaceMesh& surface, const Eigen::MatrixXd& vertexVelocity,
                          const std::vector<double>& omegas,
                          const std::vector<Eigen::Vector3d>& points, const WaveSettings& settings,
                          ChordStatistics* statistics);
