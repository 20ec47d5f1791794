// The boundary element solver against closed forms: the geometry of the test sphere, the Gauss
// identities of the element integrals, the solid angle of a triangle seen from very close, and
// the fields of pulsating and oscillating rigid spheres, including ka = pi, the first interior
// Dirichlet resonance of the sphere, where the conventional equation alone fails.
#include "tools/bake/transfer/bem/bem_solve.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <utility>
#include <vector>

#include "tools/bake/transfer/bem/bem_quadrature.h"
#include "tools/bake/transfer/multipole/multipole_basis.h"

namespace {

using Complex = std::complex<double>;

BemSurface sphere(int levels, double radius,
                  const Eigen::Vector3d& centre = Eigen::Vector3d::Zero()) {
    std::vector<Eigen::Vector3d> vertices;
    std::vector<std::array<int, 3>> triangles;
    makeIcosphere(levels, radius, centre, &vertices, &triangles);
    return makeBemSurface(vertices, triangles);
}

// Closed forms, e^{+iwt}, rigid sphere of radius a in air:
// pulsating with normal velocity v0: p = C e^{-ikr}/r, dp/dr(a) = -i w rho v0
//   => C = i w rho v0 a^2 e^{ika} / (1 + ika);
// oscillating along z with velocity U (v_n = U cos theta): p = B h1(kr) cos theta,
//   B k h1'(ka) = -i w rho U with h1' = h0 - 2 h1 / x.
struct SphereFields {
    double a, k, omega;
    Complex pulsating(const Eigen::Vector3d& x) const {
        const double r = x.norm();
        const Complex c = Complex(0, omega * kAirDensity_kgm3 * a * a) *
                          std::exp(Complex(0, k * a)) / Complex(1, k * a);
        return c * std::exp(Complex(0, -k * r)) / r;
    }
    Complex oscillating(const Eigen::Vector3d& x) const {
        const double r = x.norm();
        const double ka = k * a;
        const Complex derivative = sphericalHankel0(ka) - 2.0 * sphericalHankel1(ka) / ka;
        const Complex b = Complex(0, -omega * kAirDensity_kgm3) / (k * derivative);
        return b * sphericalHankel1(k * r) * x.z() / r;
    }
};

double relativeError(const Eigen::VectorXcd& computed, const Eigen::VectorXcd& exact) {
    return (computed - exact).norm() / exact.norm();
}

struct SphereErrors {
    double surfacePulsating, surfaceOscillating, exteriorPulsating, exteriorOscillating;
};

// Solves both sphere problems with one matrix and compares the surface pressure at the centroids
// and the field on a sphere of radius 2a with the closed forms.
SphereErrors sphereErrors(const BemSurface& surface, double radius, double ka,
                          const BemOptions& options = BemOptions()) {
    const double k = ka / radius;
    const SphereFields exact{radius, k, k * kSpeedOfSound_ms};
    const int n = static_cast<int>(surface.elements.size());
    Eigen::MatrixXd vn(n, 2);
    for (int j = 0; j < n; ++j) {
        vn(j, 0) = 1;
        vn(j, 1) = surface.elements[j].normal.z();
    }
    const BemSolution solution = solveExteriorNeumann(surface, exact.omega, vn, options);
    EXPECT_TRUE(solution.converged);
    Eigen::VectorXcd pulsating(n), oscillating(n);
    for (int j = 0; j < n; ++j) {
        pulsating[j] = exact.pulsating(surface.elements[j].centroid);
        oscillating[j] = exact.oscillating(surface.elements[j].centroid);
    }
    std::vector<Eigen::Vector3d> points;
    for (int i = 0; i < 60; ++i) {
        const double z = 1 - 2 * (i + 0.5) / 60, ring = std::sqrt(1 - z * z);
        points.push_back(2 * radius *
                         Eigen::Vector3d(ring * std::cos(2.4 * i), ring * std::sin(2.4 * i), z));
    }
    const Eigen::MatrixXcd field = radiatedPressure(surface, solution, points, options);
    Eigen::VectorXcd farPulsating(points.size()), farOscillating(points.size());
    for (size_t i = 0; i < points.size(); ++i) {
        farPulsating[i] = exact.pulsating(points[i]);
        farOscillating[i] = exact.oscillating(points[i]);
    }
    return {relativeError(solution.pressure.col(0), pulsating),
            relativeError(solution.pressure.col(1), oscillating),
            relativeError(field.col(0), farPulsating), relativeError(field.col(1), farOscillating)};
}

// Solid angle of triangle (a, b, c) seen from x (Van Oosterom and Strackee), positive when x lies
// on the side its normal points to.
double solidAngle(const Eigen::Vector3d& x, const BemElement& e) {
    const Eigen::Vector3d a = e.corners[0] - x, b = e.corners[1] - x, c = e.corners[2] - x;
    const double la = a.norm(), lb = b.norm(), lc = c.norm();
    const double numerator = a.dot(b.cross(c));
    const double denominator = la * lb * lc + a.dot(b) * lc + a.dot(c) * lb + b.dot(c) * la;
    return -2 * std::atan2(numerator, denominator);
}

// A closed box [lo, hi] with cells[a] elements along axis a on every face, two triangles per
// cell, counter-clockwise seen from outside.
BemSurface box(const Eigen::Vector3d& lo, const Eigen::Vector3d& hi, const int cells[3]) {
    std::vector<Eigen::Vector3d> vertices;
    std::vector<std::array<int, 3>> triangles;
    for (int axis = 0; axis < 3; ++axis)
        for (int side = 0; side < 2; ++side) {
            // In-face axes (b, c) with e_b x e_c along the outward normal.
            int b = (axis + 1) % 3, c = (axis + 2) % 3;
            if (side == 0) std::swap(b, c);
            const int base = static_cast<int>(vertices.size());
            for (int i = 0; i <= cells[b]; ++i)
                for (int j = 0; j <= cells[c]; ++j) {
                    Eigen::Vector3d p;
                    p[axis] = side ? hi[axis] : lo[axis];
                    p[b] = lo[b] + (hi[b] - lo[b]) * i / cells[b];
                    p[c] = lo[c] + (hi[c] - lo[c]) * j / cells[c];
                    vertices.push_back(p);
                }
            auto index = [&](int i, int j) { return base + i * (cells[c] + 1) + j; };
            for (int i = 0; i < cells[b]; ++i)
                for (int j = 0; j < cells[c]; ++j) {
                    triangles.push_back({index(i, j), index(i + 1, j), index(i + 1, j + 1)});
                    triangles.push_back({index(i, j), index(i + 1, j + 1), index(i, j + 1)});
                }
        }
    return makeBemSurface(vertices, triangles);
}

}  // namespace

TEST(BemSurface, IcosphereIsClosedOutwardAndNearlyRound) {
    const double radius = 0.3;
    const BemSurface s = sphere(3, radius, Eigen::Vector3d(1, -2, 0.5));
    ASSERT_EQ(s.elements.size(), 1280u);
    Eigen::Vector3d vectorArea = Eigen::Vector3d::Zero();
    double volume = 0;
    for (const BemElement& e : s.elements) {
        vectorArea += e.area * e.normal;                  // zero on a closed surface
        volume += e.area * e.normal.dot(e.centroid) / 3;  // divergence theorem, > 0 if outward
    }
    EXPECT_LT(vectorArea.norm(), 1e-12);
    EXPECT_NEAR(volume / (4 * kPi * std::pow(radius, 3) / 3), 1, 0.01);
}

TEST(BemSurface, RejectsBadTriangles) {
    const std::vector<Eigen::Vector3d> v = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
    EXPECT_THROW(makeBemSurface(v, {{0, 1, 2}}), std::invalid_argument);  // zero area
    EXPECT_THROW(makeBemSurface(v, {{0, 1, 3}}), std::invalid_argument);  // index out of range
}

TEST(BemSurface, MeanCurvatureOfFacetsIsTheSurfaces) {
    // Sphere: H = 1/a on every element (the facets' estimate scatters by a few per cent, its
    // area-weighted mean is exact up to the facets' own O(h^2)). Box: flat faces and sharp edges,
    // H = 0 everywhere.
    const double radius = 0.05;
    const BemSurface s = sphere(3, radius);
    double weighted = 0, area = 0;
    for (const BemElement& e : s.elements) {
        EXPECT_NEAR(e.meanCurvature * radius, 1, 0.15);
        weighted += e.meanCurvature * e.area;
        area += e.area;
    }
    EXPECT_NEAR(weighted / area * radius, 1, 0.01);
    // The same facets wound the other way bound a spherical void: the air sees a concave wall.
    std::vector<Eigen::Vector3d> vertices;
    std::vector<std::array<int, 3>> triangles;
    makeIcosphere(2, radius, Eigen::Vector3d::Zero(), &vertices, &triangles);
    for (std::array<int, 3>& t : triangles) std::swap(t[1], t[2]);
    for (const BemElement& e : makeBemSurface(vertices, triangles).elements)
        EXPECT_NEAR(e.meanCurvature * radius, -1, 0.15);
    const int cells[3] = {3, 2, 4};
    for (const BemElement& e : box({0, 0, 0}, {1, 2, 3}, cells).elements)
        EXPECT_EQ(e.meanCurvature, 0);
    // A cube whose faces share their corner vertices: its 90 degree edges are features.
    const std::vector<Eigen::Vector3d> corners = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                                                  {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
    const std::vector<std::array<int, 3>> faces = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7},
                                                   {0, 1, 5}, {0, 5, 4}, {2, 3, 7}, {2, 7, 6},
                                                   {1, 2, 6}, {1, 6, 5}, {0, 4, 7}, {0, 7, 3}};
    for (const BemElement& e : makeBemSurface(corners, faces).elements) {
        EXPECT_EQ(e.meanCurvature, 0);
        EXPECT_GT(e.normal.dot(e.centroid - Eigen::Vector3d(0.5, 0.5, 0.5)), 0);  // outward
    }
}

TEST(BemQuadrature, GaussIdentitiesHoldOnAClosedSurface) {
    // Static limit: the double layer of a unit density is -1/2 on the surface (exterior normal),
    // and its normal derivative, the hypersingular operator on a constant, vanishes.
    const BemSurface s = sphere(2, 1.0);
    const double k = 1e-6;
    for (int i : {0, 101, 250}) {
        const BemElement& ei = s.elements[i];
        const BemIntegrals self = integrateSelf(ei, k);
        Complex d = self.doubleLayer, h = self.hypersingular;
        for (size_t j = 0; j < s.elements.size(); ++j) {
            if (static_cast<int>(j) == i) continue;
            const BemIntegrals m = integrateOffElement(ei.centroid, ei.normal, s.elements[j], k);
            d += m.doubleLayer;
            h += m.hypersingular;
        }
        EXPECT_NEAR(d.real(), -0.5, 1e-4) << "element " << i;
        EXPECT_LT(std::abs(h), 1e-4 * std::abs(self.hypersingular)) << "element " << i;
    }
}

TEST(BemQuadrature, DoubleLayerNearAnElementIsItsSolidAngle) {
    // A point a hundredth of the element's size above it, over the interior and near an edge: the
    // static double layer is the solid angle / 4 pi. Without splitting the element it is off by
    // more than 2 %.
    const BemSurface s = makeBemSurface({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}});
    const BemElement& e = s.elements[0];
    for (const Eigen::Vector3d& x :
         {Eigen::Vector3d(0.3, 0.3, 0.01), Eigen::Vector3d(0.5, 0.02, 0.01),
          Eigen::Vector3d(0.4, 0.4, -0.02)}) {
        const double exact = solidAngle(x, e) / (4 * kPi);
        const BemIntegrals m = integrateOffElement(x, Eigen::Vector3d::Zero(), e, 1e-9, 8);
        EXPECT_NEAR(m.doubleLayer.real(), exact, 2e-3 * std::abs(exact)) << x.transpose();
        const BemIntegrals coarse = integrateOffElement(x, Eigen::Vector3d::Zero(), e, 1e-9, 0);
        EXPECT_GT(std::abs(coarse.doubleLayer.real() - exact), 0.02 * std::abs(exact));
    }
}

TEST(BemSolve, SpheresMatchClosedFormsFromLowFrequencyToTheFirstResonance) {
    // 1280 triangles: at ka = pi about 12 elements per wavelength.
    const double radius = 0.2;
    const BemSurface s = sphere(3, radius);
    for (double ka : {0.5, 2.0, kPi}) {
        const SphereErrors e = sphereErrors(s, radius, ka);
        SCOPED_TRACE(ka);
        EXPECT_LT(e.exteriorPulsating, 0.012);
        EXPECT_LT(e.exteriorOscillating, 0.01);
        EXPECT_LT(e.surfacePulsating, 0.02);
        EXPECT_LT(e.surfaceOscillating, 0.02);
    }
}

TEST(BemSolve, CompactSphereStaysAccurateAtVeryLowFrequency) {
    // ka = 0.05: far below the first resonance; the surface pressure stays within 2 %.
    const double radius = 0.2;
    const SphereErrors e = sphereErrors(sphere(3, radius), radius, 0.05);
    EXPECT_LT(e.surfacePulsating, 0.02);
    EXPECT_LT(e.surfaceOscillating, 0.02);
    EXPECT_LT(e.exteriorPulsating, 0.01);
    EXPECT_LT(e.exteriorOscillating, 0.01);
}

TEST(BemSolve, ConventionalEquationFailsAtTheInteriorResonance) {
    // The same sphere at ka = pi without the hypersingular part: the pulsating solution is lost.
    const double radius = 0.2;
    const BemSurface s = sphere(3, radius);
    BemOptions conventional;
    conventional.burtonMiller = false;
    const SphereErrors plain = sphereErrors(s, radius, kPi, conventional);
    EXPECT_GT(plain.exteriorPulsating, 0.1);
    // Away from the resonance it is fine.
    const SphereErrors low = sphereErrors(s, radius, 1.0, conventional);
    EXPECT_LT(low.exteriorPulsating, 0.01);
}

TEST(BemSolve, FinerSphereIsWithinAPercentAtTheResonanceAndAbove) {
    // 5120 triangles, longest edge 0.081 a: 25 elements per wavelength at ka = pi, 13 at ka = 6.
    const double radius = 0.1;
    const BemSurface s = sphere(4, radius);
    for (double ka : {kPi, 6.0}) {
        const SphereErrors e = sphereErrors(s, radius, ka);
        SCOPED_TRACE(ka);
        EXPECT_LT(e.exteriorPulsating, 0.01);
        EXPECT_LT(e.exteriorOscillating, 0.01);
        EXPECT_LT(e.surfacePulsating, 0.01);
        EXPECT_LT(e.surfaceOscillating, 0.01);
    }
}

TEST(BemSolve, AnswerDoesNotDependOnScale) {
    // The same sphere scaled by 1e3 at the same ka gives the same pressure (the pressure of a
    // pulsating sphere depends on ka and the velocity only).
    const double ka = 1.5;
    const BemSurface small = sphere(2, 0.01), large = sphere(2, 10.0);
    const Eigen::MatrixXd vn = Eigen::MatrixXd::Ones(small.elements.size(), 1);
    const BemSolution a = solveExteriorNeumann(small, ka / 0.01 * kSpeedOfSound_ms, vn);
    const BemSolution b = solveExteriorNeumann(large, ka / 10.0 * kSpeedOfSound_ms, vn);
    EXPECT_LT((a.pressure - b.pressure).norm(), 1e-6 * a.pressure.norm());
}

TEST(BemSolve, ThinPlateNeedsItsNearElementsSplit) {
    // A closed plate 0.5 x 0.5 x 0.01 m, elements 0.0625 m wide: its two faces are a sixth of an
    // element apart. Moving rigidly across its thickness (v_n = n_z), its radiation rests on the
    // pressure difference between the faces. The field converges as nearby elements are split
    // (depth 4 agrees with depth 7); integrated whole they are far off.
    const int cells[3] = {8, 8, 1};
    const BemSurface plate = box({-0.25, -0.25, -0.005}, {0.25, 0.25, 0.005}, cells);
    Eigen::MatrixXd vn(plate.elements.size(), 1);
    for (size_t j = 0; j < plate.elements.size(); ++j) vn(j, 0) = plate.elements[j].normal.z();
    const double omega = 2.0 * kSpeedOfSound_ms;  // k = 2 /m
    const std::vector<Eigen::Vector3d> points = {{0, 0, 1.0}, {0.6, 0, 0.8}, {0.2, -0.3, 0.05}};
    auto fieldAtDepth = [&](int depth) {
        BemOptions options;
        options.nearFieldDepth = depth;
        const BemSolution solution = solveExteriorNeumann(plate, omega, vn, options);
        return Eigen::VectorXcd(radiatedPressure(plate, solution, points, options).col(0));
    };
    const Eigen::VectorXcd reference = fieldAtDepth(7);
    EXPECT_LT(relativeError(fieldAtDepth(4), reference), 1e-3);
    EXPECT_GT(relativeError(fieldAtDepth(0), reference), 0.3);
}
