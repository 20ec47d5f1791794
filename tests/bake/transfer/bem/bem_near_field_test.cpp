// The near field split by frequency: the static integrals stored once plus the smooth remainder
// by a fixed rule must give the integrals that the adaptive subdivision gives directly, for
// neighbouring elements of a curved surface and for the two faces of a thin wall, from low
// frequency to two radians per element; and every row the dense solver assembles must agree
// with the entries a compressed solver asks for one by one.
#include "tools/bake/transfer/bem/bem_near_field.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

#include "tools/bake/transfer/bem/bem_matrix_entries.h"

namespace {

// A thin closed plate: two faces 4 mm apart, split into squares of 2 cm, with its rim.
BemSurface thinPlate() {
    std::vector<Eigen::Vector3d> vertices;
    std::vector<std::array<int, 3>> triangles;
    const int n = 5;
    const double side = 0.02, gap = 0.004;
    auto grid = [&](double z) {
        const int first = static_cast<int>(vertices.size());
        for (int i = 0; i <= n; ++i)
            for (int j = 0; j <= n; ++j) vertices.push_back({i * side, j * side, z});
        return first;
    };
    const int bottom = grid(0), top = grid(gap);
    auto at = [&](int first, int i, int j) { return first + i * (n + 1) + j; };
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            // Top faces up, bottom faces down (counter-clockwise seen from outside).
            triangles.push_back({at(top, i, j), at(top, i + 1, j), at(top, i + 1, j + 1)});
            triangles.push_back({at(top, i, j), at(top, i + 1, j + 1), at(top, i, j + 1)});
            triangles.push_back({at(bottom, i, j), at(bottom, i + 1, j + 1), at(bottom, i + 1, j)});
            triangles.push_back({at(bottom, i, j), at(bottom, i, j + 1), at(bottom, i + 1, j + 1)});
        }
    // The rim: four sides joining the two grids.
    for (int e = 0; e < n; ++e) {
        const int sides[4][4] = {
            {at(bottom, e, 0), at(bottom, e + 1, 0), at(top, e + 1, 0), at(top, e, 0)},
            {at(bottom, n, e), at(bottom, n, e + 1), at(top, n, e + 1), at(top, n, e)},
            {at(bottom, e + 1, n), at(bottom, e, n), at(top, e, n), at(top, e + 1, n)},
            {at(bottom, 0, e + 1), at(bottom, 0, e), at(top, 0, e), at(top, 0, e + 1)}};
        for (const auto& q : sides) {
            triangles.push_back({q[0], q[1], q[2]});
            triangles.push_back({q[0], q[2], q[3]});
        }
    }
    return makeBemSurface(vertices, triangles);
}

BemSurface sphere() {
    std::vector<Eigen::Vector3d> vertices;
    std::vector<std::array<int, 3>> triangles;
    makeIcosphere(2, 0.1, Eigen::Vector3d::Zero(), &vertices, &triangles);
    return makeBemSurface(vertices, triangles);
}

double relative(std::complex<double> a, std::complex<double> b, double scale) {
    return std::abs(a - b) / scale;
}

}  // namespace

TEST(BemNearField, StaticPartPlusRemainderEqualsTheDirectIntegrals) {
    for (const BemSurface& surface : {sphere(), thinPlate()}) {
        const BemNearField near = makeNearField(surface, 4, 1);
        double largest = 0;
        for (const BemElement& e : surface.elements) largest = std::max(largest, e.diameter);
        int pairs = 0;
        for (double kh : {0.05, 1.0, 2.0}) {
            const double k = kh / largest;
            for (size_t i = 0; i < surface.elements.size(); ++i) {
                const BemElement& ei = surface.elements[i];
                for (const BemNearPair& pair : near.rows[i]) {
                    const BemElement& ej = surface.elements[pair.element];
                    const BemIntegrals split =
                        integrateNearPair(pair, ei.centroid, ei.normal, ej, k);
                    const BemIntegrals direct =
                        integrateOffElement(ei.centroid, ei.normal, ej, k, 6);
                    // Scales: S ~ A / r, D and D' ~ A / r^2, H ~ A / r^3 at the pair's distance.
                    const double r =
                        std::max((ei.centroid - ej.centroid).norm(), 0.2 * ej.diameter);
                    const double s = ej.area / r;
                    EXPECT_LT(relative(split.single, direct.single, s), 2e-3) << kh;
                    EXPECT_LT(relative(split.doubleLayer, direct.doubleLayer, s / r), 2e-3) << kh;
                    EXPECT_LT(relative(split.adjointDoubleLayer, direct.adjointDoubleLayer, s / r),
                              2e-3)
                        << kh;
                    EXPECT_LT(relative(split.hypersingular, direct.hypersingular, s / (r * r)),
                              2e-3)
                        << kh;
                    ++pairs;
                }
            }
        }
        EXPECT_GT(pairs, 300);
    }
}

TEST(BemNearField, RowsAndSingleEntriesAgree) {
    const BemSurface surface = thinPlate();
    const BemNearField near = makeNearField(surface, 4, 1);
    for (double k : {5.0, 200.0}) {  // below and above the degree-2 rule's limit
        const BemMatrixEntries entries(surface, near, k);
        BemRow row;
        for (int i : {0, 17, static_cast<int>(surface.elements.size()) - 1}) {
            entries.row(i, &row);
            for (int j = 0; j < static_cast<int>(surface.elements.size()); ++j) {
                const BemIntegrals e = entries.entry(i, j);
                const double scale = std::abs(row.hypersingular[j]) + 1e-300;
                EXPECT_LT(std::abs(e.hypersingular - row.hypersingular[j]), 1e-9 * scale)
                    << i << " " << j;
                EXPECT_LT(std::abs(e.single - row.single[j]), 1e-9 * std::abs(row.single[j]))
                    << i << " " << j;
            }
        }
    }
}
