// The modal analysis against independent answers: the torsional modes of a free elastic sphere
// (closed form), CalculiX on the same tetrahedra, and the invariants of the basis (mass
// normalisation, rigid modes dropped), plus the failures it must report.
#include "tools/bake/modes/solve_modes.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/bake/bake_test_support.h"
#include "tests/support/temp_dir.h"
#include "tools/bake/common/bake_error.h"
#include "tools/bake/modes/assemble_mass.h"
#include "tools/bake/modes/assemble_stiffness.h"
#include "tools/bake/modes/sparse_ldlt.h"

namespace {

constexpr double kTwoPi = 6.283185307179586;
const Material kSteel{200e9, 0.3, 7800.0};

ModalBasis modesOf(const TetMesh& mesh, const Material& material, int count,
                   MassKind kind = MassKind::consistent) {
    ModeSolveOptions options;
    options.modeCount = count;
    return solveModes(assembleStiffness(mesh, material), assembleMass(mesh, material, kind),
                      mesh.nodes, options, "test");
}

// Root of x j_n'(x) = j_n(x) in [low, high] by bisection; with j_n' = j_{n-1} - (n+1) j_n / x
// the condition is x j_{n-1}(x) - (n + 2) j_n(x) = 0.
double torsionalRoot(unsigned n, double low, double high) {
    auto f = [n](double x) {
        return x * std::sph_bessel(n - 1, x) - (n + 2.0) * std::sph_bessel(n, x);
    };
    for (int i = 0; i < 200; ++i) {
        const double mid = 0.5 * (low + high);
        if ((f(low) < 0.0) == (f(mid) < 0.0))
            low = mid;
        else
            high = mid;
    }
    return 0.5 * (low + high);
}

TEST(TorsionalRoots, MatchTabulatedValues) {
    // Lamb's torsional roots of the free sphere: n = 2: 2.5011, n = 3: 3.8647.
    EXPECT_NEAR(torsionalRoot(2, 2.0, 3.0), 2.5011, 1e-4);
    EXPECT_NEAR(torsionalRoot(3, 3.2, 4.5), 3.8647, 1e-4);
}

TEST(SolveModes, FreeSphereTorsionalModesMatchClosedForm) {
    const double radius = 0.1;
    const TetMesh mesh = sphereTets(4, radius, 3e-7);
    const Eigen::SparseMatrix<double> mass = assembleMass(mesh, kSteel);
    const ModalBasis basis = modesOf(mesh, kSteel, 20);
    // Torsional modes move the sphere tangentially: pick the modes whose radial share of the
    // kinetic energy (lumped by rows of M) is small.
    const Eigen::VectorXd lumped = mass * Eigen::VectorXd::Ones(mass.rows());
    std::vector<double> torsional;
    for (int j = 0; j < basis.shapes.cols(); ++j) {
        double radial = 0.0, total = 0.0;
        for (size_t i = 0; i < mesh.nodes.size(); ++i) {
            const Eigen::Vector3d u = basis.shapes.block<3, 1>(3 * i, j);
            const double norm = mesh.nodes[i].norm();
            const double ur = norm > 0.0 ? u.dot(mesh.nodes[i]) / norm : 0.0;
            radial += lumped(3 * i) * ur * ur;
            total += lumped(3 * i) * u.squaredNorm();
        }
        if (radial < 0.02 * total) torsional.push_back(basis.frequencies(j));
    }
    ASSERT_GE(torsional.size(), 12u) << "expected the 5 n = 2 and 7 n = 3 torsional modes";
    const double shearSpeed = std::sqrt(shearModulus(kSteel) / kSteel.density);
    const double f2 = torsionalRoot(2, 2.0, 3.0) * shearSpeed / (kTwoPi * radius);
    const double f3 = torsionalRoot(3, 3.2, 4.5) * shearSpeed / (kTwoPi * radius);
    // Linear tetrahedra are slightly too stiff and converge as h^2: about 1 % high for n = 2
    // and 2 % for the shorter waves of n = 3 at this resolution (about 6,000 nodes).
    for (int j = 0; j < 5; ++j) {
        EXPECT_GT(torsional[j], f2) << "n = 2, mode " << j;
        EXPECT_NEAR(torsional[j] / f2, 1.0, 0.01) << "n = 2, mode " << j;
    }
    for (int j = 5; j < 12; ++j) {
        EXPECT_GT(torsional[j], f3) << "n = 3, mode " << j;
        EXPECT_NEAR(torsional[j] / f3, 1.0, 0.025) << "n = 3, mode " << j;
    }
}

TEST(SolveModes, QuadraticTetrahedraConvergeOnTheSphereAndBendThinBeams) {
    // Quadratic tetrahedra on a much coarser sphere than above come closer to Lamb's roots.
    const double radius = 0.1;
    const TetMesh sphere = addEdgeNodes(sphereTets(3, radius, 1e-5));
    const Eigen::SparseMatrix<double> mass = assembleMass(sphere, kSteel);
    const ModalBasis basis = modesOf(sphere, kSteel, 12);
    const double shearSpeed = std::sqrt(shearModulus(kSteel) / kSteel.density);
    const double f2 = torsionalRoot(2, 2.0, 3.0) * shearSpeed / (kTwoPi * radius);
    // The lowest five modes of a free sphere are its n = 2 torsional ones: all within 0.5 %, most
    // of it the flat facets (the inscribed polyhedron is smaller than the sphere).
    for (int j = 0; j < 5; ++j) EXPECT_NEAR(basis.frequencies(j) / f2, 1.0, 0.005) << j;

    // A free-free slender beam 0.3 x 0.03 x 0.01 m bending across its 1 cm: Euler-Bernoulli gives
    // f = (4.7300^2 / 2 pi) sqrt(E I / (rho A L^4)) with I / A = h^2 / 12; shear and rotary inertia
    // lower it by about (pi h / L)^2 ~ 0.3 % here. Two quadratic elements through the thickness
    // come within 1 % (seen: 0.3 % low); linear ones on the same tetrahedra lock in shear and come
    // out far too stiff (seen: 92 % high).
    const double length = 0.3, width = 0.03, height = 0.01;
    const TetMesh beam = boxTets({0, 0, 0}, {length, width, height}, 0.005, 1e-6);
    const double beamHz = 4.7300 * 4.7300 / kTwoPi *
                          std::sqrt(kSteel.youngsModulus * height * height / 12.0 /
                                    (kSteel.density * std::pow(length, 4)));
    const double quadratic = modesOf(addEdgeNodes(beam), kSteel, 1).frequencies(0);
    const double linear = modesOf(beam, kSteel, 1).frequencies(0);
    EXPECT_NEAR(quadratic / beamHz, 1.0, 0.01);
    EXPECT_GT(linear / beamHz, 1.5);
}

TEST(SolveModes, BasisIsMassNormalisedAndRigidModesAreDropped) {
    const TetMesh mesh = boxTets({0, 0, 0}, {0.3, 0.1, 0.05}, 0.025, 2e-6);
    const Eigen::SparseMatrix<double> mass = assembleMass(mesh, kSteel);
    const ModalBasis basis = modesOf(mesh, kSteel, 12);
    ASSERT_EQ(basis.shapes.cols(), 12);
    const Eigen::MatrixXd gram = basis.shapes.transpose() * (mass * basis.shapes);
    EXPECT_LT((gram - Eigen::MatrixXd::Identity(12, 12)).cwiseAbs().maxCoeff(), 1e-10);
    // Rigid modes at (numerically) zero frequency, every kept mode far above them and sorted.
    const double largestRigidHz = std::sqrt(basis.rigidEigenvalues.cwiseAbs().maxCoeff()) / kTwoPi;
    EXPECT_LT(largestRigidHz, 1e-3);
    EXPECT_LT(basis.rigidResidual, 1e-6);
    EXPECT_GT(basis.frequencies(0), 100.0);
    for (int j = 1; j < 12; ++j) EXPECT_LE(basis.frequencies(j - 1), basis.frequencies(j));
    // Kept modes carry no rigid motion: they are M-orthogonal to every rigid-body motion.
    const Eigen::MatrixXd rigid = rigidBodyMotions(mesh.nodes);
    EXPECT_LT((rigid.transpose() * (mass * basis.shapes)).cwiseAbs().maxCoeff(), 1e-8);
    // Each pair satisfies K u = lambda M u.
    const Eigen::SparseMatrix<double> stiffness = assembleStiffness(mesh, kSteel);
    for (int j = 0; j < 12; ++j) {
        const Eigen::VectorXd residual =
            stiffness * basis.shapes.col(j) - basis.eigenvalues(j) * (mass * basis.shapes.col(j));
        EXPECT_LT(residual.norm(),
                  1e-6 * basis.eigenvalues(j) * (mass * basis.shapes.col(j)).norm());
    }
}

TEST(SolveModes, FrequenciesScaleInverselyWithSize) {
    // Elastic frequencies of geometrically similar solids scale as 1/L: the same mesh scaled by
    // 1e3 and 1e-3 must give the same frequencies times 1e-3 and 1e3.
    const TetMesh mesh = boxTets({0, 0, 0}, {0.3, 0.1, 0.05}, 0.025, 1e-5);
    const ModalBasis reference = modesOf(mesh, kSteel, 6);
    for (double scale : {1e3, 1e-3}) {
        TetMesh scaled = mesh;
        for (auto& x : scaled.nodes) x *= scale;
        const ModalBasis basis = modesOf(scaled, kSteel, 6);
        for (int j = 0; j < 6; ++j)
            EXPECT_NEAR(basis.frequencies(j) * scale / reference.frequencies(j), 1.0, 1e-8)
                << scale;
    }
}

TEST(SolveModes, AgreesWithCalculixOnTheSameTetrahedra) {
    if (calculixPath().empty()) GTEST_SKIP() << "CalculiX (ccx) is not installed";
    const TetMesh mesh = boxTets({0, 0, 0}, {0.3, 0.12, 0.05}, 0.025, 4e-6);
    // CalculiX's C3D4 mass is the one-point rule (every entry rho V / 16): with the same mass
    // matrix the frequencies must agree to CalculiX's printed digits.
    const ModalBasis basis = modesOf(mesh, kSteel, 20, MassKind::stiffnessRule);
    TempDir folder;
    const std::vector<double> ccx = calculixFrequencies(mesh, kSteel, 26, folder.path());
    ASSERT_EQ(ccx.size(), 26u) << "CalculiX did not report 26 frequencies";
    for (int j = 0; j < 6; ++j) EXPECT_LT(std::abs(ccx[j]), 1e-2 * ccx[6]) << "rigid mode " << j;
    for (int j = 0; j < 20; ++j)
        EXPECT_NEAR(basis.frequencies(j) / ccx[6 + j], 1.0, 1e-6) << "elastic mode " << j;
    // The consistent mass, which the baker uses, resists the high gradients the one-point rule
    // does not see: its frequencies come out a few per cent lower on this coarse mesh.
    const ModalBasis consistent = modesOf(mesh, kSteel, 20);
    for (int j = 0; j < 20; ++j) {
        EXPECT_LT(consistent.frequencies(j), basis.frequencies(j));
        EXPECT_GT(consistent.frequencies(j), 0.95 * basis.frequencies(j));
    }
}

TEST(SolveModes, QuadraticTetrahedraAgreeWithCalculix) {
    if (calculixPath().empty()) GTEST_SKIP() << "CalculiX (ccx) is not installed";
    // The same check on C3D10: CalculiX integrates its mass with the stiffness's four-point rule.
    const TetMesh mesh = addEdgeNodes(boxTets({0, 0, 0}, {0.3, 0.12, 0.05}, 0.05, 4e-5));
    const ModalBasis basis = modesOf(mesh, kSteel, 20, MassKind::stiffnessRule);
    TempDir folder;
    const std::vector<double> ccx = calculixFrequencies(mesh, kSteel, 26, folder.path());
    ASSERT_EQ(ccx.size(), 26u) << "CalculiX did not report 26 frequencies";
    for (int j = 0; j < 20; ++j)
        EXPECT_NEAR(basis.frequencies(j) / ccx[6 + j], 1.0, 1e-6) << "elastic mode " << j;
}

TEST(SolveModes, SolidInTwoPiecesIsRefused) {
    // Two separate balls have twelve rigid-body modes: the seventh mode is rigid, not elastic.
    SurfaceMesh twoBalls = makeIcosphere(1, 0.05, {-0.1, 0, 0});
    appendMesh(twoBalls, makeIcosphere(1, 0.05, {0.1, 0, 0}));
    const TetMesh mesh = tetrahedralize(twoBalls, {1e-5, 1.4}, "two balls");
    EXPECT_THROW(modesOf(mesh, kSteel, 4), BakeError);
}

TEST(SolveModes, IterationThatCannotConvergeIsReported) {
    const TetMesh mesh = boxTets({0, 0, 0}, {0.3, 0.1, 0.05}, 0.025, 1e-5);
    ModeSolveOptions options;
    options.modeCount = 10;
    options.maxIterations = 1;
    options.tolerance = 1e-300;
    try {
        solveModes(assembleStiffness(mesh, kSteel), assembleMass(mesh, kSteel), mesh.nodes, options,
                   "box.json");
        FAIL() << "expected the solve to fail";
    } catch (const BakeError& e) {
        EXPECT_NE(std::string(e.what()).find("box.json: the eigen solve did not converge"),
                  std::string::npos)
            << e.what();
    }
}

TEST(SolveModes, FrequencyCapDropsHigherModes) {
    const TetMesh mesh = boxTets({0, 0, 0}, {0.3, 0.1, 0.05}, 0.025, 1e-5);
    ModeSolveOptions options;
    options.modeCount = 10;
    const ModalBasis all = solveModes(assembleStiffness(mesh, kSteel), assembleMass(mesh, kSteel),
                                      mesh.nodes, options, "test");
    options.maxFrequency = 0.5 * (all.frequencies(3) + all.frequencies(4));
    const ModalBasis capped = solveModes(assembleStiffness(mesh, kSteel),
                                         assembleMass(mesh, kSteel), mesh.nodes, options, "test");
    ASSERT_EQ(capped.frequencies.size(), 4);
    EXPECT_EQ(capped.shapes.cols(), 4);
}

}  // namespace

namespace {

TEST(SparseLdlt, CountsNegativeEigenvaluesAndSolvesIndefiniteSystems) {
    // A symmetric matrix with a zero diagonal needs pivoting; its eigenvalues are +-1 and the
    // diagonal block's -3 and 5.
    Eigen::SparseMatrix<double> a(4, 4);
    a.insert(0, 1) = 1;
    a.insert(1, 0) = 1;
    a.insert(2, 2) = -3;
    a.insert(3, 3) = 5;
    SparseLdlt factor(a);
    EXPECT_EQ(factor.negativeEigenvalueCount(), 2);
    double x[4] = {2, 7, -6, 10};  // A^{-1} b = (7, 2, 2, 2)
    factor.solveInPlace(x);
    EXPECT_NEAR(x[0], 7, 1e-14);
    EXPECT_NEAR(x[1], 2, 1e-14);
    EXPECT_NEAR(x[2], 2, 1e-14);
    EXPECT_NEAR(x[3], 2, 1e-14);
}

TEST(SolveModes, SlicesFindEveryModeBelowTheLimitAndNoOther) {
    // The same modes from one slice (the lowest 40) and from a band cut into slices of about
    // eight modes each, solved in worker processes: the band's count comes from the inertia, so a
    // mode missed between two slices would fail the solve or show here.
    const TetMesh mesh = boxTets({0, 0, 0}, {0.3, 0.1, 0.05}, 0.025, 1e-5);
    const Eigen::SparseMatrix<double> stiffness = assembleStiffness(mesh, kSteel);
    const Eigen::SparseMatrix<double> mass = assembleMass(mesh, kSteel);
    ModeSolveOptions one;
    one.modeCount = 40;
    const ModalBasis reference = solveModes(stiffness, mass, mesh.nodes, one, "test");
    ModeSolveOptions sliced;
    sliced.maxFrequency = 0.5 * (reference.frequencies(29) + reference.frequencies(30));
    sliced.modesPerSlice = 8;
    sliced.workerCount = 2;
    const ModalBasis basis = solveModes(stiffness, mass, mesh.nodes, sliced, "test");
    EXPECT_GE(basis.iterations, 3) << "the band was cut into slices";
    ASSERT_EQ(basis.frequencies.size(), 30);
    for (int j = 0; j < 30; ++j)
        EXPECT_NEAR(basis.frequencies(j) / reference.frequencies(j), 1.0, 1e-9) << j;
    const Eigen::MatrixXd gram = basis.shapes.transpose() * (mass * basis.shapes);
    EXPECT_LT((gram - Eigen::MatrixXd::Identity(30, 30)).cwiseAbs().maxCoeff(), 1e-10);
    EXPECT_LT(basis.largestResidual, 1e-6);
}

}  // namespace
