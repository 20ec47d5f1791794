// The high-frequency radiation model of the acoustic transfer: the pressure a vibrating surface
// radiates into free space when the object is many wavelengths across (k D above about 20), where
// the boundary element solve (bem_solve.h) is out of reach. The surface pressure comes from a local
// impedance instead of a solve, and is radiated by the Kirchhoff-Helmholtz integral over the
// elements each point sees (ray_visibility.h). The baker's transfer stage calls it once per mode,
// single-threaded, in its worker processes.
//
// Physics, as in bem_solve.h: SI units, air density kAirDensity_kgm3 and sound speed
// kSpeedOfSound_ms, time dependence e^{+iwt}, outgoing G = e^{-ikr} / (4 pi r) with k = w / c, and
// Neumann data q = dp/dn = -i w rho v_n with n out of the solid into the air.
//
// Model: the surface pressure of a locally plane (or locally spherical) wave leaving the surface,
//   p_s = rho c v_n                      (SurfaceImpedance::RhoC)
//   p_s = rho c v_n ik / (ik + H)        (SurfaceImpedance::CurvatureCorrected)
// with H the element's mean curvature (bem_surface.h): the second is the exact impedance of a
// pulsating sphere of radius 1/H, p / v = rho c ika / (1 + ika), and tends to the first as kH -> 0.
// Then in the air, Green's formula restricted to the elements visible from x,
//   p(x) = sum over visible elements of int [p_s dG/dn_y - G q] dS_y,
//   dG/dn_y = (1 + ikr) G (x - y).n_y / r^2,
// which far away is the obliquity form i w rho v_n G (1 + cos theta) for the rho c impedance.
// Each contribution is weighted by a taper that fades it out towards grazing (shadowTaper below).
// Without the double layer term the model is the Rayleigh integral, p(x) = -2 int G q dS_y, exact
// for a baffled plane.
#pragma once

#include <Eigen/Core>
#include <vector>

#include "tools/bake/surface/surface_mesh.h"
#include "tools/bake/transfer/high_frequency/ray_visibility.h"

enum class SurfaceImpedance {
    RhoC,                // p_s = rho c v_n
    CurvatureCorrected,  // p_s = rho c v_n ik / (ik + H)
};

struct KirchhoffOptions {
    SurfaceImpedance impedance = SurfaceImpedance::CurvatureCorrected;
    // true: Kirchhoff-Helmholtz, int [p_s dG/dn - G q]; false: Rayleigh, -2 int G q (impedance
    // unused).
    bool doubleLayer = true;
    // false: every element radiates to every point; the visibility table is not read (and may be
    // empty).
    bool useVisibility = true;
    // Each element is cut into m^2 similar pieces, m = ceil(k * longest edge / maxPieceKh), and
    // each piece is integrated by its centroid. For a plane wave across a piece of size h the
    // centroid rule loses at most about (kh)^2 / 48 of the amplitude (0.18 dB at kh = 1); on the
    // sphere harmonics kh = 1 and kh = 0.35 differ by less than 0.05 dB.
    double maxPieceKh = 1.0;
    // Shadow boundary taper on curved surfaces: each node's contribution is weighted by
    // w = 3t^2 - 2t^3 with t = cos(psi) / shadowTaper clamped to [0, 1], psi the angle between the
    // element's normal and the direction to the point, so that a smooth surface fades out towards
    // its shadow boundary instead of ending at a sharp rim, whose edge wave a sphere focuses on
    // every point (+-3 dB on a pulsating sphere). Flat elements (|H| D < 0.1, D the bounding box
    // diagonal) end at true edges and keep w = 1: tapered, a box's faces lose their radiation
    // towards grazing. Back-facing nodes get w = 0. 0: no taper anywhere.
    double shadowTaper = 0.5;
};

// Complex pressure (Pa) at each of `points` radiated by the surface velocity `vertexVelocity` of
// `mesh` at angular frequency `omega` (rad/s, > 0): points x fields.
// mesh: closed, outward-oriented triangle surface in metres (closedManifoldProblem(mesh) == "").
// visibility: computeVisibility(mesh, points) (points x triangles); ignored when
//   options.useVisibility is false.
// points: in the air, off the surface (metres); the kernels are exact at any distance, but the
//   quadrature assumes each point is many pieces away from the surface.
// vertexVelocity: 3N x fields (N = mesh.positions.size()), row 3v + axis: the velocity of vertex v
//   (m/s), e.g. the mass-normalised mode shape for unit modal velocity. The normal velocity at a
//   triangle's corner is that vertex's vector dotted with the triangle's normal, linear over the
//   triangle.
// threadCount: threads over the points (0: all hardware threads).
// Throws std::invalid_argument when the sizes disagree or omega <= 0.
Eigen::MatrixXcd kirchhoffPressure(const SurfaceMesh& mesh, const PointVisibility& visibility,
                                   const std::vector<Eigen::Vector3d>& points,
                                   const Eigen::MatrixXd& vertexVelocity, double omega,
                                   const KirchhoffOptions& options, int threadCount = 1);

// sin(x) and cos(x) for 0 <= x < 1e5, to about 1e-9 absolute, without branches, so that loops
// over arrays of x vectorise (the model's inner loop computes it for every kr). Requires the
// default rounding mode (round to nearest).
void sinCos(double x, double* sine, double* cosine);
