// Shared fixtures of the baker's tests: small solids with known answers (an icosphere, a box),
// their tetrahedral meshes, and running CalculiX on a mesh for an independent modal analysis.
#pragma once

#include <Eigen/Core>
#include <complex>
#include <string>
#include <vector>

#include "tools/bake/modes/material.h"
#include "tools/bake/surface/surface_mesh.h"
#include "tools/bake/surface/tet_mesh.h"

// Icosahedron subdivided `levels` times and projected on the sphere of `radius` about `center`.
SurfaceMesh makeIcosphere(int levels, double radius,
                          const Eigen::Vector3d& center = Eigen::Vector3d::Zero());

// Tetrahedral mesh of the sphere and of a box, through the baker's TetGen step.
TetMesh sphereTets(int levels, double radius, double maxVolume);
// The box's surface is a grid of squares about `spacing` wide (TetGen keeps the surface as given).
TetMesh boxTets(const Eigen::Vector3d& lower, const Eigen::Vector3d& upper, double spacing,
                double maxVolume);

// Path of the CalculiX program, or "" when it is not installed.
std::string calculixPath();

// Runs CalculiX on `mesh` with C3D4 elements and `material` in `folder` and returns the first
// `count` eigenfrequencies it prints (Hz, rigid modes included). Empty on failure.
std::vector<double> calculixFrequencies(const TetMesh& mesh, const Material& material, int count,
                                        const std::string& folder);

// Runs `command` through the shell; returns its exit status and appends its output to `output`.
int runCommand(const std::string& command, std::string* output);

// The force unit (N per unit of the program's force) a baked scene folder's ".U" carries, read
// from the "force unit:" line of its report.txt; NaN when the report has none.
double reportedForceUnit(const std::string& folder);

// The tier of every mode ('A', 'B', 'C' or 'W'), in mode order, from the table of the baked
// folder's report.txt.
std::string reportedTiers(const std::string& folder);

// The exterior field of a rigid sphere whose normal velocity is a spherical harmonic:
// spherical Hankel functions of the second kind, h_l = j_l - i y_l (outgoing for e^{+iwt}), for
// l = 0..L by the upward recurrence h_{l+1} = (2l+1)/x h_l - h_{l-1}, which is stable for h (its
// magnitude grows with l, carried by y_l), from h_0 = i e^{-ix} / x and h_1 = (i/x - 1) e^{-ix}/x;
std::vector<std::complex<double>> sphericalHankels(int L, double x);
// h_l'(x) = h_{l-1}(x) - (l + 1)/x h_l(x), and h_0' = -h_1;
std::complex<double> sphericalHankelDerivative(int l, double x);
// and the real spherical harmonic (unnormalised) P_l^m(cos theta) cos(m phi) of a direction.
double harmonic(int l, int m, const Eigen::Vector3d& direction);
