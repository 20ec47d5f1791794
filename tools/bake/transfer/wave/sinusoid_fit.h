// Least-squares fit of known sinusoids to sampled signals: how a run of the wave tier separates
// the modes it drove together (mode_conflation.h). Every point's pressure p(t), sampled at the
// same times t_n over the window after the transient, is fitted by
//   p(t) ~ sum_j (a_j cos w_j t + b_j sin w_j t),
// and since p(t) = Re{P_j e^{i w_j t}} = Re P_j cos w_j t - Im P_j sin w_j t for each mode's part,
// the complex amplitude of mode j is P_j = a_j - i b_j (time dependence e^{+iwt}).
//
// The samples are accumulated as they come (no time series is kept): the Gram matrix
// G = sum_n phi(t_n) phi(t_n)^T of the basis phi = (cos w_1 t, sin w_1 t, ..., sin w_M t), the
// products sum_n phi(t_n) p(t_n) for every point and sum_n p(t_n)^2. The coefficients solve
// G c = B; the squared residual is sum p^2 - c . B.
//
// Conditioning: over a window T two sinusoids whose frequencies differ by df are correlated by
// about sinc(pi df T) (sin x / x); with df T >= 1 no pair is correlated by more than 0.22, and the
// condition number of the least-squares matrix stays near 1 (conditionNumber reports it).
#pragma once

#include <Eigen/Core>
#include <vector>

class SinusoidFit {
  public:
    // omegas: the angular frequencies (rad/s) of the sinusoids, distinct and positive;
    // points: the number of signals sampled together.
    SinusoidFit(const std::vector<double>& omegas, int points);

    // One sample of every signal at time t (s): values holds `points` values.
    void add(double t, const double* values);

    // Solves the fit; call after the last add, before the results below.
    void solve();

    // P_j = a_j - i b_j: points x sinusoids.
    const Eigen::MatrixXcd& amplitudes() const { return amplitudes_; }
    // Condition number of the least-squares matrix (samples x 2 sinusoids, the rows phi(t_n)):
    // sqrt of the ratio of G's extreme eigenvalues.
    double conditionNumber() const { return conditionNumber_; }
    // Each point's residual sum of squares sum_n (p - fit)^2.
    const Eigen::VectorXd& residualSquares() const { return residualSquares_; }
    // Each point's relative residual, sqrt(residual sum of squares / sum_n p^2) (0 for a signal
    // that is zero).
    Eigen::VectorXd relativeResiduals() const;
    // How large the unexplained part is against sinusoid j's own: over all points,
    // sqrt(sum residual squares / sum_n sum_points |P_j|^2 / 2) (the mean square of
    // Re{P_j e^{iwt}} is |P_j|^2 / 2); infinite when P_j is zero everywhere.
    Eigen::VectorXd residualAgainst() const;
    int sampleCount() const { return samples_; }

  private:
    std::vector<double> omegas_;
    int points_ = 0, samples_ = 0;
    Eigen::MatrixXd gram_, products_;  // 2M x 2M, 2M x points
    Eigen::VectorXd squares_, phi_;
    Eigen::MatrixXcd amplitudes_;
    Eigen::VectorXd residualSquares_;
    double conditionNumber_ = 0;
};
