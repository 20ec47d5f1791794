// The element integrals of a whole surface seen from one point at once: one row of the boundary
// element matrices (or the weights of the radiated field at a point in the air), for the elements
// far enough from the point that a fixed rule per triangle is accurate. Four elements are
// integrated side by side in vector lanes (sound/vector_lanes.h), the innermost loop of the
// baker's boundary element assembly; elements near the point are left to the adaptive, scalar
// integrateOffElement of bem_quadrature.h, which the caller applies to the indices listed in the
// near-field table.
//
// Kernels and conventions as in bem_quadrature.h: G = e^{-ikr} / (4 pi r), e^{+iwt}.
#pragma once

#include <Eigen/Core>
#include <complex>
#include <vector>

#include "tools/bake/transfer/bem/bem_surface.h"

// The rule points of every element in structure-of-arrays form: point q of element j sits at
// index q * elementCount + j. Degree 2 (three points) while k h stays below about 1.6 for the
// largest element of diameter h, degree 5 (seven points) above.
struct BemRulePoints {
    int elementCount = 0, pointsPerElement = 0;
    std::vector<double> x, y, z, weight;  // positions (m) and weight x element area (m^2)
    std::vector<double> nx, ny, nz;       // the element's outward normal, per element
};

// The rule points for wave number k (1/m): the degree-2 rule when k * (largest element diameter)
// <= kMaxPhaseForDegree2, else degree 5.
constexpr double kMaxPhaseForDegree2 = 1.6;
BemRulePoints makeRulePoints(const BemSurface& surface, double waveNumber);

// Elements near each collocation point (the element centroids): those whose centroid lies
// within kNearFieldReach of their own diameter from it, the point's own element excluded. The
// fixed rules are not accurate there. Independent of the frequency.
constexpr double kNearFieldReach = 4.0;
std::vector<std::vector<int>> nearElementsOfCentroids(const BemSurface& surface);
// The same for arbitrary points in the air.
std::vector<int> nearElementsOf(const BemSurface& surface, const Eigen::Vector3d& point);

// One row of integrals. Arrays of elementCount complex values.
struct BemRow {
    std::vector<std::complex<double>> single, doubleLayer, adjointDoubleLayer, hypersingular;
    void resize(int n);
};

// Integrals of every element over the fixed rule, seen from x with normal nx (unit; zero for a
// point in the air, when only `single` and `doubleLayer` are filled). Entries of elements near x
// (and x's own element) are computed too, but are not accurate: overwrite them.
void integrateRow(const BemRulePoints& rule, const Eigen::Vector3d& x, const Eigen::Vector3d& nx,
                  double waveNumber, BemRow* row);
