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
// model's visibility drops it. So each triangle's blocked rays (over its outward hemisphere,
// each an equal share of its plane-wave power 1/2 rho c |v_n|^2 A) are followed from wall to wall
// by specular reflection, and their power is added back in the directions where they leave, spread
// over a 25 degree cap (a bell's cavity radiates through its mouth).
//
// How far it is from a boundary element reference is measured, per scene, by the recipe's
// "check" (the report's tier C check lines) and tabled in docs/accuracy.md: figures live there,
// where they are measured again, not here.
#pragma once

#include <Eigen/Core>
#include <vector>

#include "tools/bake/surface/surface_mesh.h"
#include "tools/bake/transfer/high_frequency/kirchhoff_radiation.h"
#include "tools/bake/transfer/high_frequency/radiation_metrics.h"
#include "tools/bake/transfer/high_frequency/ray_visibility.h"
#include "tools/bake/transfer/multipole/field_fit.h"

// Where the radiation that the body blocks goes. Each triangle radiates along kBlockedRays fixed
// cosine-weighted directions over its outward hemisphere, each ray an equal share of its power;
// a ray that meets the body is reflected specularly (rigid walls: the blocked sound is not lost)
// until it leaves, at most kMaxReflections times. Per triangle, its blocked rays' escape
// directions as indices into the given escape directions, kTrapped for a ray still inside.
constexpr int kBlockedRays = 64;
constexpr int kMaxReflections = 8;
constexpr int kTrapped = -1;
struct BlockedRadiation {
    std::vector<double> share;   // per triangle: blocked rays / kBlockedRays, 0..1
    std::vector<int> rayStart;   // triangles + 1 offsets into escapeBin
    std::vector<int> escapeBin;  // per blocked ray: its escape direction, or kTrapped
};

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
    BlockedRadiation blocked;  // its escape directions are those of targetPoints
    // The spread of each escape direction over the target and the held-out points
    // (escapeKernel).
    Eigen::MatrixXd targetEscapeKernel, heldOutEscapeKernel;
};

constexpr int kHighFrequencyFitPoints = 2000;
constexpr int kHighFrequencyTargetPoints = 700;
constexpr int kHighFrequencyHeldOutPoints = 1000;

// The samples for the closed surface `fine` (threadCount threads for the visibility; 0: all).
HighFrequencySamples makeHighFrequencySamples(const SurfaceMesh& fine, int threadCount);

// The blocked radiation of the closed surface `mesh` as above, with escape directions
// `escapeBins` (unit vectors; the nearest one is taken). With no escape directions the rays are
// not followed past the first wall, and every blocked ray is kTrapped.
BlockedRadiation traceBlockedRadiation(const SurfaceMesh& mesh,
                                       const std::vector<Eigen::Vector3d>& escapeBins,
                                       int threadCount);

// The share of each triangle's radiation that the body blocks: the fraction of its rays (as
// above) that hit another triangle.
std::vector<double> blockedRadiationShare(const SurfaceMesh& mesh, int threadCount);

// How the power leaving in each escape direction spreads over `points` (on a sphere about
// `centre`, uniformly spread): points x escapeBins, column b a density per steradian about
// direction b (sum_i K_ib 4 pi / points = 1) whose mean square angle is that of a 25 degree cap.
Eigen::MatrixXd escapeKernel(const std::vector<Eigen::Vector3d>& points,
                             const Eigen::Vector3d& centre,
                             const std::vector<Eigen::Vector3d>& escapeBins);

// The power (W) of the radiation the body blocks for the surface velocity `vertexVelocity`
// (3N, one mode): sum over triangles of blockedShare x 1/2 rho c <v_n^2> A, with v_n linear over
// each triangle from its corners.
double blockedRadiationPower(const SurfaceMesh& mesh, const std::vector<double>& blockedShare,
                             const Eigen::VectorXd& vertexVelocity);

// The same power by where it leaves: adds each escaped ray's power (W) to (*perBin)[its escape
// direction] (perBin sized to the escape directions) and returns the trapped rays' power.
double blockedRadiationByDirection(const SurfaceMesh& mesh, const BlockedRadiation& blocked,
                                   const Eigen::VectorXd& vertexVelocity, Eigen::VectorXd* perBin);

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
