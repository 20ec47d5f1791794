// The wave tier's share of a scene's transfer (transfer_stage.h). Its modes are packed into chords
// (transfer/wave/mode_conflation.h), each chord one unit for the worker processes; a chord's run
// samples every mode's field where the multipole fit wants it at that mode's own wave number,
// and each field is fitted as the boundary element tiers' fields are (field_fit.h), so the files
// and the program do not know which tier made them.
//
// Besides the modes it stores, the wave tier measures itself for the report:
// - the overlap: tier A's highest modes (transfer.waveOverlapOctaves below tier A's highest
//   frequency) solved by the wave tier too, on the cells of the stored chord whose cells are
//   largest, and compared with tier A's stored fields;
// - self-convergence: the band's highest modes (transfer.waveConvergenceModes) solved again on a
//   grid sqrt(2) finer, and compared with the wave tier's stored fields.
// The comparisons evaluate both stored fields on a sphere about the object (compareStoredFields);
// the self-convergence also compares the two runs' samples before their fits
// (compareSampledFields), which is the solver's error without the fits', and the overlap compares
// the wave tier's samples before its fit with tier A's stored field at the same points
// (compareSamplesWithStoredField), which leaves out the wave tier's fit, and with tier A's
// boundary element field there (waveHeldOutPoints, compareSampledFields), which leaves out both
// fits.
#pragma once

#include <Eigen/Core>
#include <string>
#include <vector>

#include "tools/bake/surface/surface_mesh.h"
#include "tools/bake/transfer/high_frequency/radiation_metrics.h"
#include "tools/bake/transfer/multipole/field_fit.h"
#include "tools/bake/transfer/multipole/transfer_settings.h"
#include "tools/bake/transfer/transfer_plan.h"
#include "tools/bake/transfer/wave/mode_conflation.h"
#include "tools/bake/transfer/wave/wave_settings.h"

// What a chord's run is for: the modes the scene stores, the overlap with tier A, or the finer
// grid's check.
enum class ChordRole : char { transfer = 'W', overlap = 'O', finer = 'F' };

struct WaveChordUnit {
    ChordRole role = ChordRole::transfer;
    std::vector<int> modes;  // the scene's mode indices, ascending frequency
    WaveSettings settings;   // one thread: the worker processes are the parallelism
    double cost = 0;         // estimated seconds of one core
};

// The chords of a scene whose transfer is planned by `plan`: the tier W modes', then the
// overlap's and the finer grid's (by the recipe's settings). frequencies: every mode's (Hz,
// ascending); fine: the object's outward surface (m). Each chord's cost is its estimated
// seconds on one core, from its cells, steps and sample points.
std::vector<WaveChordUnit> planWaveChords(const TransferPlan& plan,
                                          const Eigen::VectorXd& frequencies,
                                          const SurfaceMesh& fine,
                                          const TransferSettings& settings);

// The held-out points at which the wave tier samples a mode of `frequency` (Hz) around `fine`:
// where a tier A group of the overlap also samples its boundary element field, so that the two
// solves are compared before either fit.
std::vector<Eigen::Vector3d> waveHeldOutPoints(const SurfaceMesh& fine, double frequency,
                                               const TransferSettings& settings);

// The memory (bytes) one worker's largest run of the wave tier needs when the band reaches
// topFrequency_Hz: the grid of the finer check (of the band's top without one) around `fine` and
// the sample points, at the solver's bytes per cell (wave_solver.h).
double largestWaveRunBytes(const SurfaceMesh& fine, double topFrequency_Hz,
                           const TransferSettings& settings);

struct WaveChordResult {
    ChordStatistics statistics;      // modes: the scene's; seconds: the run's
    std::vector<ModeTransfer> fits;  // one per mode of the unit, in its order
    double fitSeconds = 0;           // the multipole fits of all its modes
    // Each mode's field as the run sampled it at the held-out points (complex Pa, in the fits'
    // order): what the grid computed, before any fit. The same mode on two grids is sampled at
    // the same points, so their difference is the solver's alone.
    std::vector<Eigen::VectorXcd> heldOutSamples;
};

// Runs one chord and fits each of its modes. surfaceShapes: 3 N x modes, the surface rows of
// every mode shape of the scene (m per unit modal coordinate, equally the velocity in m/s for
// unit modal velocity); frequencies: every mode's (Hz).
WaveChordResult runWaveChord(const WaveChordUnit& unit, const SurfaceMesh& fine,
                             const Eigen::MatrixXd& surfaceShapes,
                             const Eigen::VectorXd& frequencies, const TransferSettings& settings);

// A chord's result as bytes for the worker's pipe, and back.
std::string packWaveChordResult(const WaveChordResult& result);
WaveChordResult unpackWaveChordResult(const std::string& bytes);

// Two runs' samples of one mode at `frequency` (Hz) at its held-out points (as
// WaveChordResult::heldOutSamples): `model` against `reference`, power and point by point.
RadiationComparison compareSampledFields(const SurfaceMesh& fine, double frequency,
                                         const TransferSettings& settings,
                                         const Eigen::VectorXcd& model,
                                         const Eigen::VectorXcd& reference);

// The wave tier's samples of one mode at `frequency` (Hz) at its held-out points (as
// WaveChordResult::heldOutSamples) against the stored field `stored` (at wave number storedK,
// 1/m) evaluated at the same points.
RadiationComparison compareSamplesWithStoredField(const SurfaceMesh& fine, double frequency,
                                                  const TransferSettings& settings,
                                                  const Eigen::VectorXcd& samples,
                                                  const MultipoleSources& stored, double storedK);

// Two stored fields of one mode (sources, each at its own wave number, 1/m: a group of tier A is
// stored at its mean frequency, a mode of tier W at its own) compared at `count` Fibonacci points
// on the sphere of `radius` (m) about `centre`: `model` against `reference`.
RadiationComparison compareStoredFields(const MultipoleSources& model, double modelK,
                                        const MultipoleSources& reference, double referenceK,
                                        const Eigen::Vector3d& centre, double radius, int count);
