// How the baker computes each mode's acoustic transfer, decided before any of it runs: the modes
// grouped by frequency (a bell's near-degenerate pairs share one solve), each group's tier by the
// size of its problem, the boundary element surfaces the groups share, the groups whose
// high-frequency approximation is checked against a reference solve, and an estimate of the cost
// of each piece of work (for the order in which workers take them and the time left).
//
// Tiers:
//   A  dense Burton-Miller boundary elements (bem_solve.h), for surfaces of up to
//      transfer.maxElements elements at elementsPerWavelength;
//   C  the high-frequency approximation (kirchhoff_radiation.h), where the object is many
//      wavelengths across: k * objectSize >= transfer.highFrequencyKD;
//   W  the time-domain wave equation (transfer/wave/), each mode at its own frequency, several
//      modes in one run: every group tier A cannot take, unless the recipe turns it off
//      (transfer.waveTier);
//   B  boundary elements with the matrix compressed (bem_hmatrix.h), up to
//      transfer.hmatrixMaxElements, only without the wave tier (it is slower: a compressed
//      solve of 12,000 elements takes 97 s for two of the bell's modes).
// Tier A takes a group whenever it can (the most accurate), unless transfer.highFrequencyFirst
// asks for tier C wherever the threshold allows (to measure tier C against references). Tier C
// is only ever used where a recipe asks for it (transfer.highFrequencyKD > 0).
// The object's size is the largest side of its bounding box.
#pragma once

#include <Eigen/Core>
#include <string>
#include <vector>

#include "tools/bake/recipe/recipe.h"

enum class TransferTier : char { dense = 'A', hmatrix = 'B', highFrequency = 'C', wave = 'W' };

struct TransferGroupPlan {
    std::vector<int> modes;  // mode indices, ascending
    double frequency = 0;    // Hz: the mean of the group's, at which it is solved (its ".k")
    TransferTier tier = TransferTier::dense;
    int mesh = -1;           // tiers A and B: index into TransferPlan::meshTargets
    bool checked = false;    // tier C: compared with a reference solve on referenceMesh
    int referenceMesh = -1;  // index into TransferPlan::meshTargets
    TransferTier referenceTier = TransferTier::dense;
    double cost = 0;  // estimated seconds of one core (tier W: costed by its chords)
};

struct TransferPlan {
    double objectSize = 0;         // m
    std::vector<int> meshTargets;  // element counts of the boundary element surfaces used
    std::vector<TransferGroupPlan> groups;
};

// The surface sizes the plan draws from: minElements x 1.4^m, so a group is solved on a surface at
// most 1.4 times finer than it needs (about twice the cost), while groups close in frequency
// share one surface and its precomputed near field.
int meshLadderStep(int needed, int minElements);

// Runs of consecutive frequencies (Hz, ascending) whose last lies within `relativeWidth` of its
// first: index lists covering 0 .. n - 1 in order.
std::vector<std::vector<int>> groupCloseFrequencies(const Eigen::VectorXd& frequencies,
                                                    double relativeWidth);

// The plan for modes at `frequencies` (Hz, ascending, > 0) of an object of surface `area` (m^2),
// size `objectSize` (m) and `surfaceTriangles` triangles. Throws BakeError naming `recipePath`
// and the transfer field to change when a group fits no tier (too large for dense and compressed
// boundary elements, and below the high-frequency threshold) or needs more boundary elements
// than the surface has triangles.
TransferPlan planSceneTransfer(const Eigen::VectorXd& frequencies, double area, double objectSize,
                               int surfaceTriangles, const TransferSettings& options,
                               const std::string& recipePath);

// The checks that can be made before the long stages, from the recipe and the struck surface alone
// (area m^2, size m, its triangle count): that every frequency up to the band's top
// (maxFrequency, Hz; 0 when the recipe gives only a mode count) fits a tier, that the fine surface
// has triangles enough for the largest boundary element surface, and that the largest matrix fits
// in memory (`memoryBytes` available to `workers` processes at once). Throws BakeError naming the
// recipe field.
void checkTransferSettings(const TransferSettings& options, double maxFrequency, double area,
                           double objectSize, int surfaceTriangles, double memoryBytes, int workers,
                           const std::string& recipePath);

// A line of text describing the plan: the groups per tier, their bands, the surfaces, the checks.
std::string describeTransferPlan(const TransferPlan& plan);
