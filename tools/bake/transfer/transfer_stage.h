// The bake's acoustic transfer of a whole scene: the plan (transfer_plan.h: groups of modes close
// in frequency, a tier for each), the boundary element surfaces the groups share and their near
// fields, the high-frequency tier's sample points and what the surface looks like from them, the
// wave tier's chords (scene_wave_chords.h), all made once in the baker's process; then every
// group and every chord solved and fitted as a unit of its own in the worker processes
// (worker_processes.h), the most expensive first, and the results gathered for the files and the
// report, with the wave tier's comparisons against tier A and against its own finer grid.
#pragma once

#include <Eigen/Core>
#include <functional>
#include <string>
#include <vector>

#include "tools/bake/parallel/worker_processes.h"
#include "tools/bake/recipe/recipe.h"
#include "tools/bake/surface/surface_mesh.h"
#include "tools/bake/transfer/multipole/transfer_files.h"
#include "tools/bake/transfer/scene_wave_chords.h"

// What the report shows of one mode's transfer.
struct ModeTransferSummary {
    double frequency = 0;     // Hz, the mode's own
    double fitFrequency = 0;  // Hz, its group's, at which the sources were fitted (the ".k")
    char tier = 'A';  // 'A' dense, 'B' compressed boundary elements, 'C' high frequency, 'W' wave
    int elementCount = 0;     // tiers A and B: the boundary element surface's elements
    int chord = -1;           // tier W: index into SceneTransfer::chords
    int sourceCount = 0;
    double fitError = 0, heldOutError = 0;  // relative
    double tolerance = 0;                   // the fit's target for this tier
    bool reachedCap = false;                // at the source cap
    bool aboveTolerance = false;            // fit or held-out error above the tolerance
    bool bemConverged = true;
    int gmresIterations = 0;
    // Tier C modes checked against a reference boundary element solve (at referenceElements):
    // the stored sources' field against the reference on a sphere around the object, as the
    // radiated power's difference (dB), the RMS difference of the energy averaged over 25 degree
    // caps (dB), and the RMS difference point by point (dB). A failed check moves the mode to
    // the reference's tier (`tier` then says 'A' or 'B', movedFromHighFrequency is set).
    bool checked = false;
    int referenceElements = 0;
    double checkPower_dB = 0, checkSmoothed_dB = 0, checkPoint_dB = 0;
    // The same differences for the high-frequency model itself, before its field was smoothed
    // and fitted.
    double modelPower_dB = 0, modelSmoothed_dB = 0, modelPoint_dB = 0;
    bool movedFromHighFrequency = false;
    double seconds = 0;  // of its group's unit (shared by the group's modes)
    // The wave tier's own checks (scene_wave_chords.h), each the stored field's difference from
    // the other one on a sphere about the object (as checkPower_dB and checkPoint_dB above):
    // a tier A mode of the overlap, the wave tier's field against tier A's; a tier W mode of the
    // convergence check, its field against the one from a grid sqrt(2) finer.
    bool overlapChecked = false, convergenceChecked = false;
    double overlapPower_dB = 0, overlapPoint_dB = 0;
    double convergencePower_dB = 0, convergencePoint_dB = 0;
    // The convergence check's two runs compared as sampled, before their fits: the solver's
    // own share of the difference. And for the overlap, the wave tier's samples before its fit
    // against tier A's stored field at the same points: the difference without the wave tier's
    // fit.
    double sampledPower_dB = 0, sampledPoint_dB = 0;
    double overlapSampledPower_dB = 0, overlapSampledPoint_dB = 0;
    // The overlap's two solves before either fit: the wave tier's samples against tier A's
    // boundary element field at the same points.
    bool overlapUnfittedChecked = false;
    double overlapUnfittedPower_dB = 0, overlapUnfittedPoint_dB = 0;
};

// A chord of the wave tier as the report shows it.
struct WaveChordSummary {
    ChordRole role = ChordRole::transfer;
    ChordStatistics statistics;
    double fitSeconds = 0;  // the multipole fits of its modes, after the run
};

struct SceneTransfer {
    std::vector<TransferFileMode> files;         // one per mode, in mode order
    std::vector<ModeTransferSummary> summaries;  // the same order
    int groupCount = 0;             // boundary element and tier C groups (tier W runs in chords)
    std::string plan;               // describeTransferPlan
    double objectSize = 0;          // m, the largest side of the bounding box
    double preparationSeconds = 0;  // surfaces, near fields, visibility
    double unitSeconds = 0;         // summed over the groups and chords (worker time)
    std::vector<WaveChordSummary> chords;  // in the order they finished
    double comparisonRadius = 0;           // m: the sphere of the wave tier's comparisons
};

// Called after each group with the modes done, the total, and an estimate of the seconds left.
using TransferProgress = std::function<void(int, int, double)>;

// The transfer of every mode of the struck object whose outward surface is `fine` (vertex i is
// row block i of `surfaceShapes`, 3N x modes, m per unit modal coordinate) with frequencies
// `frequencies` (Hz, ascending, > 0), by the recipe's transfer settings. Throws BakeError naming
// the recipe (a group no tier can take) or the group that failed.
SceneTransfer computeSceneTransfer(const Recipe& recipe, const SurfaceMesh& fine,
                                   const Eigen::MatrixXd& surfaceShapes,
                                   const Eigen::VectorXd& frequencies, const WorkerOptions& workers,
                                   const TransferProgress& progress);
