// The bake's acoustic transfer of a whole scene: the modes grouped by frequency (modes closer than
// a small relative width, such as a bell's degenerate pairs, share one boundary element matrix),
// each group solved and fitted by transfer_stage.h, and the results gathered for the files and
// the report.
#pragma once

#include <Eigen/Core>
#include <functional>
#include <vector>

#include "tools/bake/bem_surface.h"
#include "tools/bake/recipe.h"
#include "tools/bake/transfer_files.h"

// What the report shows of one mode's transfer.
struct ModeTransferSummary {
    double frequency = 0;     // Hz, the mode's own
    double fitFrequency = 0;  // Hz, its group's, at which the sources were fitted (the ".k")
    int sourceCount = 0;
    double fitError = 0, heldOutError = 0;  // relative
    bool reachedCap = false;                // at the source cap
    bool aboveTolerance = false;            // fit or held-out error above the tolerance
    bool bemConverged = true;
    int gmresIterations = 0;
};

struct SceneTransfer {
    std::vector<TransferFileMode> files;         // one per mode, in mode order
    std::vector<ModeTransferSummary> summaries;  // the same order
    int groupCount = 0;
    double bemSeconds = 0, fitSeconds = 0;  // summed over the groups
};

// Runs of consecutive frequencies (Hz, ascending) whose last lies within `relativeWidth` of its
// first: index lists covering 0 .. n - 1 in order.
std::vector<std::vector<int>> groupCloseFrequencies(const Eigen::VectorXd& frequencies,
                                                    double relativeWidth);

// The transfer of every mode. normalVelocity: elements of `surface` x modes (m/s per unit modal
// velocity); frequencies: Hz, one per mode, ascending, > 0. A group is solved at the mean angular
// frequency of its modes. `progress` (may be empty) is called after each group with the number
// of modes done and the total.
SceneTransfer computeSceneTransfer(const BemSurface& surface, const Eigen::MatrixXd& normalVelocity,
                                   const Eigen::VectorXd& frequencies,
                                   const AcousticOptions& options,
                                   const std::function<void(int, int)>& progress);
