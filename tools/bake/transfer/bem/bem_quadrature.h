// Integrals of the free-space Helmholtz Green's function and its normal derivatives over one flat
// triangle: the entries of the boundary element matrices. Called by the solver's assembly threads
// and by the evaluation of the radiated field; pure functions, safe to run in parallel.
//
// Time-harmonic convention e^{+iwt}, so outgoing waves go as e^{-ikr}:
//   G(x, y) = e^{-ikr} / (4 pi r),  r = |x - y|.
// With n_x the normal at the collocation point x and n_y the element's outward normal:
//   single            S  = int G dS_y
//   double layer      D  = int dG/dn_y dS_y
//   adjoint double    D' = int dG/dn_x dS_y
//   hypersingular     H  = int d2G/(dn_x dn_y) dS_y   (Hadamard finite part on the element itself)
#pragma once

#include <Eigen/Core>
#include <complex>

#include "tools/bake/transfer/bem/bem_surface.h"

struct BemIntegrals {
    std::complex<double> single, doubleLayer, adjointDoubleLayer, hypersingular;
};

// The four integrals over `element` for a collocation point x off the element (normal nx, unit;
// pass zero when only `single` and `doubleLayer` are wanted: the others are then left 0). Near the
// element (closer than about two element diameters) the triangle is split recursively into four, up
// to `maxDepth` levels, so that thin walls, whose two faces lie a fraction of an element apart,
// integrate accurately. Precondition: x does not lie on the element.
BemIntegrals integrateOffElement(const Eigen::Vector3d& x, const Eigen::Vector3d& nx,
                                 const BemElement& element, double waveNumber, int maxDepth = 4);

// The four integrals with x = the element's own centroid and nx = its normal. S is weakly
// singular (polar quadrature about x); H is the finite part: the Laplace part
// -1/(4 pi) * closed integral of d(theta) / R(theta) in closed form plus the regular remainder
// [(1 + ikr) e^{-ikr} - 1] / (4 pi r^3) by polar quadrature. On the flat element D = D' = 0, but
// the curved surface it stands for drops below its tangent plane, (x - y).n_x = Hm r^2 / 2 on
// average with Hm the mean curvature, so there
//   D' = -(Hm / 2) int (1 + ikr) e^{-ikr} / (4 pi r) dS,
// which this adds (the facets around collocate this part for D, by Gauss's identity, but not for
// D'; leaving it out costs an O(h / (ka R)) error in the Burton-Miller right-hand side).
BemIntegrals integrateSelf(const BemElement& element, double waveNumber);
