// Power and directivity comparisons of sampled radiated fields (see radiation_metrics.h).
#include "tools/bake/transfer/high_frequency/radiation_metrics.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "tools/bake/common/physical_constants.h"
#include "tools/bake/transfer/bem/bem_solve.h"

namespace {

// RMS over the samples of 10 log10(a_i / b_i), each normalised by its mean and floored.
double rmsDbDifference(const Eigen::VectorXd& a, const Eigen::VectorXd& b, double floorDb) {
    const double floor = std::pow(10.0, floorDb / 10);
    const double meanA = a.mean(), meanB = b.mean();
    double sum = 0;
    for (Eigen::Index i = 0; i < a.size(); ++i) {
        const double ratioA = std::max(a[i] / meanA, floor), ratioB = std::max(b[i] / meanB, floor);
        const double db = 10 * std::log10(ratioA / ratioB);
        sum += db * db;
    }
    return std::sqrt(sum / static_cast<double>(a.size()));
}

}  // namespace

std::vector<Eigen::Vector3d> fibonacciSphere(int count, double radius,
                                             const Eigen::Vector3d& centre) {
    const double goldenAngle = kPi * (3 - std::sqrt(5.0));
    std::vector<Eigen::Vector3d> points(count);
    for (int i = 0; i < count; ++i) {
        const double z = 1 - (2.0 * i + 1) / count;
        const double rho = std::sqrt(std::max(0.0, 1 - z * z));
        const double phi = goldenAngle * i;
        points[i] = centre + radius * Eigen::Vector3d(rho * std::cos(phi), rho * std::sin(phi), z);
    }
    return points;
}

double radiatedPower(const Eigen::VectorXcd& pressure, double radius) {
    const double meanEnergy = pressure.cwiseAbs2().mean();
    return 4 * kPi * radius * radius * meanEnergy /
           (2 * kAirDensity_kgm3 * kSpeedOfSound_ms);  // W = int |p|^2 / (2 rho c) dS
}

Eigen::VectorXd capAveragedEnergy(const std::vector<Eigen::Vector3d>& samples,
                                  const Eigen::Vector3d& centre, const Eigen::VectorXcd& pressure,
                                  double capHalfAngle) {
    // Each sample lies in its own cap, so no cap is empty.
    return capAveragedEnergyAt(samples, samples, centre, pressure, capHalfAngle);
}

RadiationComparison compareRadiation(const std::vector<Eigen::Vector3d>& samples,
                                     const Eigen::Vector3d& centre, const Eigen::VectorXcd& model,
                                     const Eigen::VectorXcd& reference, double capHalfAngle,
                                     double floorDb) {
    if (model.size() != static_cast<Eigen::Index>(samples.size()) ||
        reference.size() != model.size())
        throw std::invalid_argument("compareRadiation: " + std::to_string(model.size()) +
                                    " model and " + std::to_string(reference.size()) +
                                    " reference pressures for " + std::to_string(samples.size()) +
                                    " samples");
    RadiationComparison comparison;
    // The power ratio is the ratio of mean energies on the common sphere.
    comparison.powerErrorDb =
        10 * std::log10(model.cwiseAbs2().mean() / reference.cwiseAbs2().mean());
    comparison.smoothedDirectivityDb =
        rmsDbDifference(capAveragedEnergy(samples, centre, model, capHalfAngle),
                        capAveragedEnergy(samples, centre, reference, capHalfAngle), floorDb);
    comparison.pointwiseDirectivityDb =
        rmsDbDifference(model.cwiseAbs2(), reference.cwiseAbs2(), floorDb);
    return comparison;
}

Eigen::VectorXd capAveragedEnergyAt(const std::vector<Eigen::Vector3d>& at,
                                    const std::vector<Eigen::Vector3d>& samples,
                                    const Eigen::Vector3d& centre, const Eigen::VectorXcd& pressure,
                                    double capHalfAngle) {
    const int count = static_cast<int>(samples.size());
    if (pressure.size() != count)
        throw std::invalid_argument("capAveragedEnergyAt: " + std::to_string(pressure.size()) +
                                    " pressures for " + std::to_string(count) + " samples");
    std::vector<Eigen::Vector3d> directions(count);
    for (int j = 0; j < count; ++j) directions[j] = (samples[j] - centre).normalized();
    const Eigen::VectorXd energy = pressure.cwiseAbs2();
    const double cosCap = std::cos(capHalfAngle);
    Eigen::VectorXd averaged(static_cast<Eigen::Index>(at.size()));
    for (size_t i = 0; i < at.size(); ++i) {
        const Eigen::Vector3d d = (at[i] - centre).normalized();
        double sum = 0;
        int inside = 0;
        for (int j = 0; j < count; ++j)
            if (d.dot(directions[j]) >= cosCap) {
                sum += energy[j];
                ++inside;
            }
        if (inside == 0) throw std::invalid_argument("capAveragedEnergyAt: a cap holds no sample");
        averaged[static_cast<Eigen::Index>(i)] = sum / inside;
    }
    return averaged;
}
