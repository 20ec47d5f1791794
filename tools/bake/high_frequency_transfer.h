// The acoustic transfer of modes whose object is many wavelengths across (tier C of
// transfer_plan.h): the high-frequency model's field (kirchhoff_radiation.h) sampled on a sphere
// around the object, its energy averaged over 25 degree caps, and a few sources fitted to that
// smoothed field.
//
// Why smoothed: at k D of 20 and more a mode's field is a fine interference pattern (lobes a few
// degrees wide) that the model gets wrong point by point (5-6 dB RMS against a boundary element
// reference), while its radiated power and its directivity averaged over caps are right to a
// decibel or two. So the stored field carries what the model knows: the smoothed energy, as an
// outgoing wave sqrt(E(x)) e^{-ik|x - c|} from the object's centre c; its magnitude is what the
// program plays, and it needs tens of sources where the raw pattern would need hundreds. A
// listener orbiting the object hears the mode's loudness change with direction, not flicker.
//
// What the model leaves out: radiation that the body itself blocks (into a bell's cavity, between
// a dragon's coils) is not absorbed there but reflected, and leaves the object in the end. The
// model's visibility drops it. So each element's blocked share of its radiation (rays over its
// outward hemisphere that hit the body), radiated at the plane-wave rate 1/2 rho c |v_n|^2 A, is
// added back as a diffuse field of that power. Measured against reference boundary element solves
// on nine checked modes of the dragon and the bell (k D 26-62), the model alone read 0.1-3.9 dB
// low (two within 1.5 dB); with the blocked energy added, 1.4 dB high to 1.2 dB low but for one
// mode at 2 dB high (seven within 1.5 dB).
#pragma once

#include <Eigen/Core>
#include <vector>

#include "tools/bake/kirchhoff_radiation.h"
#include "tools/bake/radiation_metrics.h"
#include "tools/bake/ray_visibility.h"
#include "tools/bake/surface_mesh.h"
#include "tools/bake/transfer_stage.h"

// The sample spheres of tier C, about the centre of the object's bounding box: the fit sphere at
// twice the box's half-diagonal, where the model is sampled densely (the cap averages need a few
// dozen samples each) and the smoothed field is fitted on fewer points (it is smooth), and the
// held-out sphere at three times; and which triangles of the surface each model sample sees.
struct HighFrequencySamples {
    Eigen::Vector3d centre = Eigen::Vector3d::Zero();
    double fitRadius = 0, heldOutRadius = 0;                // m
    std::vector<Eigen::Vector3d> fitPoints, heldOutPoints;  // the model's samples
    std::vector<Eigen::Vector3d> targetPoints;              // the fit's, on the fit sphere
    PointVisibility fitVisibility, heldOutVisibility;
    std::vector<double> blockedShare;  // per triangle: its radiation the body blocks, 0..1
};

constexpr int kHighFrequencyFitPoints = 2000;
constexpr int kHighFrequencyTargetPoints = 700;
constexpr int kHighFrequencyHeldOutPoints = 1000;

// The samples for the closed surface `fine` (threadCount threads for the visibility; 0: all).
HighFrequencySamples makeHighFrequencySamples(const SurfaceMesh& fine, int threadCount);

// The share of each triangle's radiation that the body blocks: the fraction of rays from its
// centroid over its outward hemisphere, cosine-weighted (as a small flat radiator's intensity),
// that hit another triangle. 64 fixed directions per triangle.
std::vector<double> blockedRadiationShare(const SurfaceMesh& mesh, int threadCount);

// The power (W) of the radiation the body blocks for the surface velocity `vertexVelocity`
// (3N, one mode): sum over triangles of blockedShare x 1/2 rho c <v_n^2> A, with v_n linear over
// each triangle from its corners.
double blockedRadiationPower(const SurfaceMesh& mesh, const std::vector<double>& blockedShare,
                             const Eigen::VectorXd& vertexVelocity);

struct HighFrequencyTransfer {
    ModeTransfer transfer;               // sources fitted to the smoothed field, errors against it
    Eigen::VectorXcd modelAtFitPoints;   // the model's own field at the fit points
    Eigen::VectorXcd storedAtFitPoints;  // the fitted sources' field there
};

// The transfer of the modes whose surface velocities are the columns of `vertexVelocity` (3N x
// modes, as kirchhoffPressure takes them) at angular frequency `omega` (rad/s), one result per
// column. settings.tolerance is the fit's target against the smoothed field; the held-out error
// compares magnitudes (what the program uses) on the held-out sphere, and is flagged above twice
// the tolerance (the smoothed pattern itself changes between the two spheres). Single-threaded.
std::vector<HighFrequencyTransfer> computeHighFrequencyTransfers(
    const SurfaceMesh& fine, const HighFrequencySamples& samples,
    const Eigen::MatrixXd& vertexVelocity, double omega, const TransferSettings& settings);

// Whether a checked mode may keep its high-frequency transfer: the radiated power and the
// cap-smoothed directivity of its stored field within 3 dB of the reference's.
bool highFrequencyCheckPasses(const RadiationComparison& comparison);
