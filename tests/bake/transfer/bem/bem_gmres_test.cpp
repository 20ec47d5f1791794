// Restarted GMRES on dense complex systems: it reaches the requested residual through restarts,
// reports honestly when the budget runs out, and returns zero for a zero right-hand side.
#include "tools/bake/transfer/bem/bem_gmres.h"

#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <complex>
#include <cstdlib>

namespace {

// A non-normal complex matrix with a badly scaled diagonal (as Burton-Miller rows are) whose
// spectrum, after diagonal scaling, stays away from zero.
Eigen::MatrixXcd testMatrix(int n) {
    std::srand(11);
    Eigen::MatrixXcd a = 0.3 * Eigen::MatrixXcd::Random(n, n) / std::sqrt(double(n));
    for (int i = 0; i < n; ++i) a(i, i) += std::complex<double>(1 + 50.0 * i / n, 0.5);
    return a;
}

}  // namespace

TEST(BemGmres, SolvesThroughRestartsToTheTolerance) {
    const int n = 120;
    const Eigen::MatrixXcd a = testMatrix(n);
    const Eigen::VectorXcd b = Eigen::VectorXcd::Random(n);
    auto multiply = [&](const Eigen::VectorXcd& v, Eigen::VectorXcd& out) { out = a * v; };
    Eigen::VectorXcd x = Eigen::VectorXcd::Zero(n);
    const GmresResult r = solveGmres(multiply, a.diagonal(), b, x, 1e-10, 500, 5);
    EXPECT_TRUE(r.converged);
    EXPECT_GT(r.iterations, 5);  // needed more than one cycle
    EXPECT_LE((b - a * x).norm(), 1e-10 * b.norm() * 1.0001);
    EXPECT_NEAR(r.relativeResidual, (b - a * x).norm() / b.norm(), 1e-12);
    const Eigen::VectorXcd direct = a.partialPivLu().solve(b);
    EXPECT_LT((x - direct).norm(), 1e-8 * direct.norm());
}

TEST(BemGmres, ReportsAnExhaustedBudget) {
    const int n = 120;
    const Eigen::MatrixXcd a = testMatrix(n);
    const Eigen::VectorXcd b = Eigen::VectorXcd::Random(n);
    auto multiply = [&](const Eigen::VectorXcd& v, Eigen::VectorXcd& out) { out = a * v; };
    Eigen::VectorXcd x = Eigen::VectorXcd::Zero(n);
    const GmresResult r = solveGmres(multiply, a.diagonal(), b, x, 1e-14, 3, 80);
    EXPECT_FALSE(r.converged);
    EXPECT_EQ(r.iterations, 3);
    EXPECT_GT(r.relativeResidual, 1e-14);
    EXPECT_LT(r.relativeResidual, 1.0);  // three steps still help
}

TEST(BemGmres, ZeroRightHandSideGivesZero) {
    const Eigen::MatrixXcd a = testMatrix(10);
    auto multiply = [&](const Eigen::VectorXcd& v, Eigen::VectorXcd& out) { out = a * v; };
    Eigen::VectorXcd x = Eigen::VectorXcd::Ones(10);
    const GmresResult r =
        solveGmres(multiply, a.diagonal(), Eigen::VectorXcd::Zero(10), x, 1e-8, 50);
    EXPECT_TRUE(r.converged);
    EXPECT_EQ(r.iterations, 0);
    EXPECT_EQ(x.norm(), 0);
}
