// The last step of every transfer tier: a mode's radiated field, sampled on a surface just
// outside the object, fitted by a few point sources (multipole_fit.h) in the form the program
// evaluates, and checked on held-out samples farther out. The boundary element tiers
// (transfer/bem/bem_transfer.h), the high-frequency tier and the wave tier sample their fields
// differently and all end here.
//
// Sampling: the fit uses points on a box-shaped surface just outside the object (its bounding box
// grown by fitMargin times its half-diagonal), the held-out check points on a larger one
// (heldOutMargin); candidate source positions fill a grid inside the bounding box, where no
// listener is expected. The fit stops at the tolerance on the fit surface; if the held-out error
// is above it, the mode is fitted again to a tighter target.
#pragma once

#include <Eigen/Core>
#include <vector>

#include "tools/bake/transfer/multipole/multipole_basis.h"
#include "tools/bake/transfer/multipole/transfer_settings.h"

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
    double heldOutError = 0;      // relative, fitted sources against the sampled field farther out
    bool reachedCap = false;      // the fit used maxSources sources
    bool aboveTolerance = false;  // fit or held-out error above the tolerance after the refits
    bool bemConverged = true;
    int gmresIterations = 0;
    double bemSeconds = 0;  // field solve + sampling, shared by a group's modes
    double fitSeconds = 0;
};

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

// Where the fit samples the field of an object whose bounding box is [boxMin, boxMax], at wave
// number k (1/m): the fit and held-out points and the candidate source positions.
struct FieldSamples {
    FitSizes sizes;
    std::vector<Eigen::Vector3d> fitPoints, heldOutPoints, candidates;
};
FieldSamples fieldSamplesFor(const Eigen::Vector3d& boxMin, const Eigen::Vector3d& boxMax,
                             double waveNumber, const TransferSettings& settings);

// Fits sources to each sampled field: fitPressure (fit points x modes) and heldOutPressure
// (held-out points x modes), complex pressures in pascals (e^{+i omega t}) at wave number k,
// one result per column with sources, errors and fitSeconds set (omega and waveNumber too; the
// caller fills in the solver's own figures).
std::vector<ModeTransfer> fitSampledFields(const FieldSamples& samples,
                                           const Eigen::MatrixXcd& fitPressure,
                                           const Eigen::MatrixXcd& heldOutPressure, double omega,
                                           double waveNumber, const TransferSettings& settings);
