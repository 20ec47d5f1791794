// Least-squares separation of known sinusoids (see sinusoid_fit.h).
#include "tools/bake/transfer/wave/sinusoid_fit.h"

#include <Eigen/Cholesky>
#include <Eigen/Eigenvalues>
#include <cmath>
#include <limits>

SinusoidFit::SinusoidFit(const std::vector<double>& omegas, int points)
    : omegas_(omegas), points_(points) {
    const int m = 2 * int(omegas.size());
    gram_ = Eigen::MatrixXd::Zero(m, m);
    products_ = Eigen::MatrixXd::Zero(m, points);
    squares_ = Eigen::VectorXd::Zero(points);
    phi_.resize(m);
}

void SinusoidFit::add(double t, const double* values) {
    for (size_t j = 0; j < omegas_.size(); ++j) {
        phi_[Eigen::Index(2 * j)] = std::cos(omegas_[j] * t);
        phi_[Eigen::Index(2 * j + 1)] = std::sin(omegas_[j] * t);
    }
    gram_.selfadjointView<Eigen::Lower>().rankUpdate(phi_);
    const Eigen::Map<const Eigen::VectorXd> p(values, points_);
    products_.noalias() += phi_ * p.transpose();
    squares_ += p.cwiseAbs2();
    ++samples_;
}

void SinusoidFit::solve() {
    const Eigen::MatrixXd gram = gram_.selfadjointView<Eigen::Lower>();
    const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eigen(gram, Eigen::EigenvaluesOnly);
    const double lowest = eigen.eigenvalues().minCoeff(), highest = eigen.eigenvalues().maxCoeff();
    conditionNumber_ =
        lowest > 0 ? std::sqrt(highest / lowest) : std::numeric_limits<double>::infinity();
    const Eigen::MatrixXd coefficients = gram.ldlt().solve(products_);
    const int modes = int(omegas_.size());
    amplitudes_.resize(points_, modes);
    for (int j = 0; j < modes; ++j)
        for (int q = 0; q < points_; ++q)
            amplitudes_(q, j) = {coefficients(2 * j, q), -coefficients(2 * j + 1, q)};
    // At the least-squares solution G c = B: |p - Phi c|^2 = p . p - c . B.
    residualSquares_ =
        (squares_ - coefficients.cwiseProduct(products_).colwise().sum().transpose()).cwiseMax(0.0);
}

Eigen::VectorXd SinusoidFit::relativeResiduals() const {
    Eigen::VectorXd relative(points_);
    for (int q = 0; q < points_; ++q)
        relative[q] = squares_[q] > 0 ? std::sqrt(residualSquares_[q] / squares_[q]) : 0.0;
    return relative;
}

Eigen::VectorXd SinusoidFit::residualAgainst() const {
    const int modes = int(omegas_.size());
    Eigen::VectorXd against(modes);
    const double residual = residualSquares_.sum();
    for (int j = 0; j < modes; ++j) {
        const double signal = samples_ * 0.5 * amplitudes_.col(j).squaredNorm();
        against[j] =
            signal > 0 ? std::sqrt(residual / signal) : std::numeric_limits<double>::infinity();
    }
    return against;
}
