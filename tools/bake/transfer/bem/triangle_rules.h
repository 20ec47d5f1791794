// Symmetric quadrature rules on a triangle, shared by the boundary element integrals: points in
// barycentric coordinates (a, b, c) of the corners, weights summing to 1 (multiply by the area).
#pragma once

#include <array>

struct TrianglePoint {
    double a, b, c, weight;
};

// The centroid, exact for degree 1.
inline constexpr std::array<TrianglePoint, 1> kCentroidRule = {{{1.0 / 3, 1.0 / 3, 1.0 / 3, 1.0}}};

// Three interior points, exact for degree 2.
inline constexpr std::array<TrianglePoint, 3> kDegree2Rule = {
    {{2.0 / 3, 1.0 / 6, 1.0 / 6, 1.0 / 3},
     {1.0 / 6, 2.0 / 3, 1.0 / 6, 1.0 / 3},
     {1.0 / 6, 1.0 / 6, 2.0 / 3, 1.0 / 3}}};

// Radon's seven points, exact for degree 5.
namespace radon {
constexpr double kA1 = 0.059715871789770, kB1 = 0.470142064105115, kW1 = 0.132394152788506;
constexpr double kA2 = 0.797426985353087, kB2 = 0.101286507323456, kW2 = 0.125939180544827;
}  // namespace radon
inline constexpr std::array<TrianglePoint, 7> kDegree5Rule = {
    {{1.0 / 3, 1.0 / 3, 1.0 / 3, 0.225},
     {radon::kA1, radon::kB1, radon::kB1, radon::kW1},
     {radon::kB1, radon::kA1, radon::kB1, radon::kW1},
     {radon::kB1, radon::kB1, radon::kA1, radon::kW1},
     {radon::kA2, radon::kB2, radon::kB2, radon::kW2},
     {radon::kB2, radon::kA2, radon::kB2, radon::kW2},
     {radon::kB2, radon::kB2, radon::kA2, radon::kW2}}};
