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
#pragma once

#include <Eigen/Core>
#include <vector>

#include "tools/bake/kirchhoff_radiation.h"
#include "tools/bake/radiation_metrics.h"
#include "tools/bake/ray_visibility.h"
#include "tools/bake/surface_mesh.h"
#include "tools/bake/transfer_stage.h"

// The sample spheres of tier C, about the centre of the object's bounding box: the fit sphere at
// twice the box's half-diagonal, the held-out sphere at three times, and which triangles of the
// surface each sample sees.
struct HighFrequencySamples {
    Eigen::Vector3d centre = Eigen::Vector3d::Zero();
    double fitRadius = 0, heldOutRadius = 0;  // m
    std::vector<Eigen::Vector3d> fitPoints, heldOutPoints;
    PointVisibility fitVisibility, heldOutVisibility;
};

constexpr int kHighFrequencyFitPoints = 2000;
constexpr int kHighFrequencyHeldOutPoints = 600;

// The samples for the closed surface `fine` (threadCount threads for the visibility; 0: all).
HighFrequencySamples makeHighFrequencySamples(const SurfaceMesh& fine, int threadCount);

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
