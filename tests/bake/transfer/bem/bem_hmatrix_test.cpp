// The hierarchical-matrix solve against the dense one on the same surfaces: the surface pressure
// and the radiated field agree within a few GMRES tolerances, on a sphere (where the closed form
// of the pulsating sphere holds too, up to ka = pi, the first interior resonance that only
// Burton-Miller survives) and on a thin-walled cup, whose walls' two faces lie under a quarter of
// an element apart so that their couplings must be integrated as the dense solver does.
// Also: the solve works again in a forked child of a process that already used it, as the
// baker's workers do.
#include "tools/bake/transfer/bem/bem_hmatrix.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <complex>
#include <functional>
#include <vector>

namespace {

using Complex = std::complex<double>;

double relativeError(const Eigen::MatrixXcd& computed, const Eigen::MatrixXcd& reference) {
    return (computed - reference).norm() / reference.norm();
}

// `count` points spread evenly over the sphere of `radius` about `centre`.
std::vector<Eigen::Vector3d> pointsOnSphere(const Eigen::Vector3d& centre, double radius,
                                            int count) {
    std::vector<Eigen::Vector3d> points;
    for (int i = 0; i < count; ++i) {
        const double z = 1 - 2 * (i + 0.5) / count, ring = std::sqrt(1 - z * z);
        points.push_back(centre + radius * Eigen::Vector3d(ring * std::cos(2.4 * i),
                                                           ring * std::sin(2.4 * i), z));
    }
    return points;
}

BemSurface sphere(int levels, double radius) {
    std::vector<Eigen::Vector3d> vertices;
    std::vector<std::array<int, 3>> triangles;
    makeIcosphere(levels, radius, Eigen::Vector3d::Zero(), &vertices, &triangles);
    return makeBemSurface(vertices, triangles);
}

// The closed surface of a union of cells of the grid x[0] x x[1] x x[2] (cell (i, j, l) spans
// [x[0][i], x[0][i + 1]] x ...): every cell face between a cell inside and one outside, as two
// triangles counter-clockwise seen from the outside one.
BemSurface cellUnionSurface(const std::array<std::vector<double>, 3>& x,
                            const std::function<bool(int, int, int)>& inside) {
    const std::array<int, 3> cells = {static_cast<int>(x[0].size()) - 1,
                                      static_cast<int>(x[1].size()) - 1,
                                      static_cast<int>(x[2].size()) - 1};
    auto isInside = [&](std::array<int, 3> c) {
        for (int a = 0; a < 3; ++a)
            if (c[a] < 0 || c[a] >= cells[a]) return false;
        return inside(c[0], c[1], c[2]);
    };
    std::vector<Eigen::Vector3d> vertices;
    std::vector<int> vertexOfNode((cells[0] + 1) * (cells[1] + 1) * (cells[2] + 1), -1);
    auto vertex = [&](std::array<int, 3> node) {
        int& v = vertexOfNode[(node[0] * (cells[1] + 1) + node[1]) * (cells[2] + 1) + node[2]];
        if (v < 0) {
            v = static_cast<int>(vertices.size());
            vertices.emplace_back(x[0][node[0]], x[1][node[1]], x[2][node[2]]);
        }
        return v;
    };
    std::vector<std::array<int, 3>> triangles;
    for (int i = 0; i < cells[0]; ++i)
        for (int j = 0; j < cells[1]; ++j)
            for (int l = 0; l < cells[2]; ++l) {
                if (!inside(i, j, l)) continue;
                for (int a = 0; a < 3; ++a)
                    for (int side = 0; side < 2; ++side) {
                        std::array<int, 3> neighbour = {i, j, l};
                        neighbour[a] += side ? 1 : -1;
                        if (isInside(neighbour)) continue;
                        // In-face axes (b, c) with e_b x e_c along the outward normal.
                        int b = (a + 1) % 3, c = (a + 2) % 3;
                        if (!side) std::swap(b, c);
                        std::array<int, 4> corner;
                        for (int q = 0; q < 4; ++q) {
                            std::array<int, 3> node = {i, j, l};
                            node[a] += side;
                            node[b] += (q == 1 || q == 2);
                            node[c] += (q >= 2);
                            corner[q] = vertex(node);
                        }
                        triangles.push_back({corner[0], corner[1], corner[2]});
                        triangles.push_back({corner[0], corner[2], corner[3]});
                    }
            }
    return makeBemSurface(vertices, triangles);
}

// Solves with both solvers and expects the same surface pressure and radiated field at
// `points` within `tolerance` (relative, over all fields).
HMatrixStatistics expectSameAsDense(const BemSurface& surface, double omega,
                                    const Eigen::MatrixXd& vn,
                                    const std::vector<Eigen::Vector3d>& points,
                                    const BemOptions& options, const HMatrixOptions& hOptions,
                                    double tolerance, Eigen::MatrixXcd* field = nullptr) {
    HMatrixStatistics statistics;
    const BemSolution dense = solveExteriorNeumann(surface, omega, vn, options);
    const BemSolution compressed =
        solveExteriorNeumannHMatrix(surface, omega, vn, options, hOptions, &statistics);
    EXPECT_TRUE(dense.converged);
    EXPECT_TRUE(compressed.converged);
    EXPECT_EQ(compressed.normalGradient, dense.normalGradient);
    EXPECT_LT(relativeError(compressed.pressure, dense.pressure), tolerance);
    const Eigen::MatrixXcd denseField = radiatedPressure(surface, dense, points, options);
    const Eigen::MatrixXcd compressedField = radiatedPressure(surface, compressed, points, options);
    EXPECT_LT(relativeError(compressedField, denseField), tolerance);
    if (field) *field = compressedField;
    return statistics;
}

}  // namespace

TEST(HMatrixSolve, SphereMatchesDenseSolveAndClosedFormUpToTheFirstResonance) {
    // 1280 triangles, pulsating (v_n = 1) and oscillating (v_n = n_z). The compression tolerance
    // is the GMRES tolerance, so the two solutions may differ by a few GMRES tolerances.
    const double a = 0.2;
    const BemSurface s = sphere(3, a);
    const int n = static_cast<int>(s.elements.size());
    Eigen::MatrixXd vn(n, 2);
    for (int j = 0; j < n; ++j) vn.row(j) << 1, s.elements[j].normal.z();
    const std::vector<Eigen::Vector3d> points = pointsOnSphere(Eigen::Vector3d::Zero(), 2 * a, 40);
    BemOptions options;
    HMatrixOptions hOptions;
    hOptions.compressionTolerance = options.gmresTolerance;
    for (double ka : {2.0, kPi}) {
        SCOPED_TRACE(ka);
        const double k = ka / a, omega = k * kSpeedOfSound_ms;
        Eigen::MatrixXcd field;
        expectSameAsDense(s, omega, vn, points, options, hOptions, 10 * options.gmresTolerance,
                          &field);
        // Pulsating sphere, e^{+iwt}: p = C e^{-ikr} / r, C = i w rho v0 a^2 e^{ika} / (1 + ika).
        const Complex c = Complex(0, omega * kAirDensity_kgm3 * a * a) * std::exp(Complex(0, ka)) /
                          Complex(1, ka);
        Eigen::VectorXcd exact(points.size());
        for (size_t i = 0; i < points.size(); ++i) {
            const double r = points[i].norm();
            exact[i] = c * std::exp(Complex(0, -k * r)) / r;
        }
        EXPECT_LT(relativeError(field.col(0), exact), 0.012);
    }
}

TEST(HMatrixSolve, ThinWalledCupMatchesDenseSolveWithCompressedStorage) {
    // An open cup 0.3 m wide and deep (a non-convex solid): walls and floor 8 mm thick, elements
    // 35 mm wide, so the inner and outer faces of a wall are under a quarter of an element apart
    // (1776 elements). Moving rigidly up (v_n = n_z) and sideways (v_n = n_x) at k = 10 /m, with
    // the field checked around the cup, inside it and just outside a wall. The default
    // compression tolerance (1e-4) is used, so the agreement is looser here, and the matrix must
    // be stored in less than the dense size.
    const double width = 0.3, wall = 0.008;
    std::vector<double> across = {0}, up = {0};
    for (int i = 0; i <= 8; ++i) across.push_back(wall + (width - 2 * wall) * i / 8);
    across.push_back(width);
    for (int i = 0; i <= 9; ++i) up.push_back(wall + (width - wall) * i / 9);
    const int last = static_cast<int>(across.size()) - 2;
    const BemSurface cup = cellUnionSurface({across, across, up}, [&](int i, int j, int l) {
        return i == 0 || i == last || j == 0 || j == last || l == 0;
    });
    const int n = static_cast<int>(cup.elements.size());
    ASSERT_GT(n, 1500);
    Eigen::MatrixXd vn(n, 2);
    for (int j = 0; j < n; ++j) vn.row(j) << cup.elements[j].normal.z(), cup.elements[j].normal.x();
    const Eigen::Vector3d centre(0.5 * width, 0.5 * width, 0.5 * width);
    std::vector<Eigen::Vector3d> points = pointsOnSphere(centre, 0.5, 30);
    points.insert(points.end(), {centre, centre + Eigen::Vector3d(0, 0, -0.1),
                                 Eigen::Vector3d(-0.005, 0.1, 0.2)});
    const BemOptions options;
    const HMatrixStatistics statistics =
        expectSameAsDense(cup, 10 * kSpeedOfSound_ms, vn, points, options, HMatrixOptions(), 1e-4);
    EXPECT_LT(statistics.storedBytes, 0.8 * statistics.denseBytes);
    EXPECT_DOUBLE_EQ(statistics.denseBytes, 16.0 * n * n);
    EXPECT_GT(statistics.secondsPerProduct, 0);
}

TEST(HMatrixSolve, ForkedWorkerSolvesAfterTheParentDid) {
    // The baker forks its workers from a process that may have solved already: the child's
    // library state is the parent's copy and no thread of the parent is missing in it.
    const BemSurface s = sphere(2, 0.1);
    const Eigen::MatrixXd vn = Eigen::MatrixXd::Ones(s.elements.size(), 1);
    const double omega = 10 * kSpeedOfSound_ms;
    const BemSolution parent = solveExteriorNeumannHMatrix(s, omega, vn);
    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(channel[0]);
        const BemSolution solution = solveExteriorNeumannHMatrix(s, omega, vn);
        const size_t bytes = solution.pressure.size() * sizeof(Complex);
        const bool sent =
            write(channel[1], solution.pressure.data(), bytes) == static_cast<ssize_t>(bytes);
        _exit(sent && solution.converged ? 0 : 1);
    }
    close(channel[1]);
    Eigen::MatrixXcd received(parent.pressure.rows(), parent.pressure.cols());
    char* cursor = reinterpret_cast<char*>(received.data());
    size_t left = received.size() * sizeof(Complex);
    pollfd ready = {channel[0], POLLIN, 0};
    while (left > 0 && poll(&ready, 1, 60000) == 1) {
        const ssize_t got = read(channel[0], cursor, left);
        if (got <= 0) break;
        cursor += got;
        left -= got;
    }
    close(channel[0]);
    if (left > 0) kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_EQ(left, 0u) << "the child sent no complete solution within a minute";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_LT(relativeError(received, parent.pressure), 1e-12);
}
