// The baker's acoustic transfer stage for one object: for every vibration mode, the pressure it
// radiates with unit modal velocity (boundary elements, bem_solve.h), fitted by a few point
// sources (multipole_fit.h) in the form the program evaluates. The baker calls
// computeModeTransfer once per mode (or computeModeTransfers for modes sharing one frequency)
// and then writes the results with transfer_files.h.
//
// Sampling: the fit uses points on a box-shaped surface just outside the object (its bounding box
// grown by fitMargin times its half-diagonal), the held-out check points on a larger one
// (heldOutMargin); candidate source positions fill a grid inside the bounding box, where no
// listener is expected. The fit stops at the tolerance on the fit surface; if the held-out error
// is above it, the mode is fitted again to a tighter target.
#pragma once

#include <Eigen/Core>
#include <vector>

#include "tools/bake/bem_solve.h"
#include "tools/bake/bem_surface.h"
#include "tools/bake/multipole_basis.h"

struct TransferSettings {
    double tolerance = 0.05;         // target relative error of the fit (bell 5 %, chair 15 %, ...)
    int maxSources = 120;            // cap; a mode that reaches it is flagged (raised with k R)
    int fitPointCount = 1000;        // samples on the fit surface (raised with k R)
    int heldOutPointCount = 300;     // samples on the held-out surface (raised with k R)
    double fitMargin = 0.15;         // fit surface: bounding box grown by this x half-diagonal
    double heldOutMargin = 0.6;      // held-out surface, farther out
    int candidatesPerAxis = 8;       // along the longest side of the bounding box (raised with k)
    int maxRefits = 4;               // tighter fits when the held-out error is above the tolerance
    double refitFactor = 0.7;        // each refit's target: the previous one times this
    bool growWithWaveNumber = true;  // raise the cap, the samples and the candidates with k R
    BemOptions bem;
};

// The fit's sizes at wave number k for an object of half-diagonal R (m). The field outside a
// sphere of radius R about the object holds spherical harmonics up to degree about kR + 4, so the
// number of sources the fit may need, the samples that pin them down (more than four per
// unknown) and the candidate positions (about two per wavelength along the box) grow with k R.
struct FitSizes {
    int maxSources = 0, fitPoints = 0, heldOutPoints = 0, candidatesPerAxis = 0;
};
FitSizes fitSizesFor(const TransferSettings& settings, double waveNumber, double halfDiagonal,
                     double longestSide);

struct ModeTransfer {
    MultipoleSources sources;     // 11 x n, positions in the object's frame (m)
    double omega = 0;             // rad/s
    double waveNumber = 0;        // k = omega / c, 1/m (the ".k" value)
    double fitError = 0;          // relative, on the fit surface
    double heldOutError = 0;      // relative, fitted sources against the BEM field farther out
    bool reachedCap = false;      // the fit used maxSources sources
    bool aboveTolerance = false;  // fit or held-out error above the tolerance after the refits
    bool bemConverged = true;
    int gmresIterations = 0;
    double bemSeconds = 0;  // assembly + solve + field sampling, shared by a group's modes
    double fitSeconds = 0;
};

// Samples the radiated field of every solved field of `solution` (on `surface`) at the fit and
// held-out surfaces and fits sources to each: the second half of computeModeTransfers, shared by
// the dense and the compressed solvers.
std::vector<ModeTransfer> fitRadiatedFields(const BemSurface& surface, const BemSolution& solution,
                                            const TransferSettings& settings);

// Transfer of one mode. normalVelocity: one value per element of `surface`, the outward normal
// surface velocity (m/s) when the mode moves with unit modal velocity (u_i . n, e.g. from
// elementNormalVelocity with a column of the mode-shape matrix); omega: the mode's angular
// frequency (rad/s) > 0. Pressures are in pascals, so |sum of sources| is the transfer.
ModeTransfer computeModeTransfer(const BemSurface& surface, const Eigen::VectorXd& normalVelocity,
                                 double omega, const TransferSettings& settings);

// The same for several modes at one angular frequency (one boundary element matrix for all):
// normalVelocity is elements x modes; one result per column.
std::vector<ModeTransfer> computeModeTransfers(const BemSurface& surface,
                                               const Eigen::MatrixXd& normalVelocity, double omega,
                                               const TransferSettings& settings);
// The same with the surface's near field computed beforehand (makeNearField).
std::vector<ModeTransfer> computeModeTransfers(const BemSurface& surface,
                                               const BemNearField& nearField,
                                               const Eigen::MatrixXd& normalVelocity, double omega,
                                               const TransferSettings& settings);

// Points on the surface of the box [boxMin - margin, boxMax + margin] (margin in metres on every
// side), `count` of them along well-spread directions from the box's centre.
std::vector<Eigen::Vector3d> boxSurfacePoints(const Eigen::Vector3d& boxMin,
                                              const Eigen::Vector3d& boxMax, double margin,
                                              int count);

// Candidate source positions: cell centres of a grid filling the box, `perLongestAxis` cells
// along its longest side (at least one along each), plus the box's centre.
std::vector<Eigen::Vector3d> candidateSourcePositions(const Eigen::Vector3d& boxMin,
                                                      const Eigen::Vector3d& boxMax,
                                                      int perLongestAxis);
