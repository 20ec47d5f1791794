// Comparisons of two radiated pressure fields sampled on a sphere around the object: how far an
// approximate radiation model (kirchhoff_radiation.h) is from a reference (the boundary element
// solve or a closed form), in the terms the baker cares about: the radiated power, which sets a
// mode's loudness, and the directivity smoothed over spherical caps, the detail of the field the
// baker keeps (it fits its smoothed field to the cap-averaged energy); the point-by-point error is
// reported too.
//
// The samples are Fibonacci points (fibonacciSphere), which cover the sphere evenly, so plain means
// over them stand for area means. Energies are |p|^2 (Pa^2). Directivity errors compare the shapes
// of the fields: each energy is divided by its own field's mean first, so a field and its scaled
// copy have the same directivity. Differences in dB are model over reference, 10 log10(E_m / E_r).
#pragma once

#include <Eigen/Core>
#include <vector>

#include "tools/bake/common/physical_constants.h"

constexpr double kDefaultCapHalfAngle = 12.5 * kPi / 180;  // 25 degrees across

// `count` points spread evenly over the sphere of `radius` (m) about `centre`: point i at height
// z = 1 - (2i + 1) / count and azimuth i times the golden angle. Precondition: count >= 1.
std::vector<Eigen::Vector3d> fibonacciSphere(int count, double radius,
                                             const Eigen::Vector3d& centre);

// Radiated power (W) through the sphere of `radius` (m) of the pressure samples at Fibonacci
// points on it: W = 1/(2 rho c) int |p|^2 dS = 4 pi R^2 mean|p|^2 / (2 rho c) (far-field intensity
// |p|^2 / (2 rho c), so the sphere should be a few wavelengths out).
double radiatedPower(const Eigen::VectorXcd& pressure, double radius);

// The energy |p|^2 averaged over the spherical cap of angular radius `capHalfAngle` (radians;
// default 12.5 degrees, a cap 25 degrees across) about each sample: mean of |p_j|^2 over the
// samples j whose direction from `centre` is within capHalfAngle of sample i's (i itself
// included). samples: points (m) evenly spread on a sphere about `centre` (fibonacciSphere);
// pressure: one complex value (Pa) per sample. Output: one value per sample, Pa^2. Cost:
// samples^2 dot products.
Eigen::VectorXd capAveragedEnergy(const std::vector<Eigen::Vector3d>& samples,
                                  const Eigen::Vector3d& centre, const Eigen::VectorXcd& pressure,
                                  double capHalfAngle = kDefaultCapHalfAngle);

// The same average about other directions: for each point of `at` (on the same sphere about
// `centre`), the mean |p|^2 of the samples within capHalfAngle of its direction. Throws
// std::invalid_argument when a cap holds no sample (the samples are too sparse for the cap).
Eigen::VectorXd capAveragedEnergyAt(const std::vector<Eigen::Vector3d>& at,
                                    const std::vector<Eigen::Vector3d>& samples,
                                    const Eigen::Vector3d& centre, const Eigen::VectorXcd& pressure,
                                    double capHalfAngle = kDefaultCapHalfAngle);

struct RadiationComparison {
    double powerErrorDb = 0;            // 10 log10(W_model / W_reference)
    double smoothedDirectivityDb = 0;   // RMS over samples of the dB difference of cap averages
    double pointwiseDirectivityDb = 0;  // RMS over samples of the dB difference of |p|^2
};

// Compares `model` with `reference`, both sampled at `samples` (Fibonacci points on the sphere of
// radius |sample - centre|): the power difference, and the RMS over the samples of the dB
// differences of the normalised energies E / mean(E), cap-averaged (capHalfAngle as above) and
// point by point. Normalised energies below `floorDb` (default -40 dB, i.e. 1e-4 of the mean) are
// raised to it, so that the nulls of either field do not dominate the point-by-point RMS.
// Preconditions: both vectors have samples.size() entries; the reference is not zero.
RadiationComparison compareRadiation(const std::vector<Eigen::Vector3d>& samples,
                                     const Eigen::Vector3d& centre, const Eigen::VectorXcd& model,
                                     const Eigen::VectorXcd& reference,
                                     double capHalfAngle = kDefaultCapHalfAngle,
                                     double floorDb = -40);
