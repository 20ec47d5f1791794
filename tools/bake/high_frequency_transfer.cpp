// Smoothed high-frequency fields and their fit (see high_frequency_transfer.h).
#include "tools/bake/high_frequency_transfer.h"

#include <array>
#include <chrono>
#include <cmath>
#include <complex>

#include "tools/bake/bem_solve.h"
#include "tools/bake/multipole_fit.h"
#include "tools/bake/parallel_for.h"

namespace {

using Complex = std::complex<double>;

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The degree of the spherical harmonics that the cap-averaged energy still holds: averaging over
// a cap of angular radius beta suppresses degrees beyond about 3.8 / beta (the first zero of the
// cap's Legendre transform), 17 for 12.5 degrees.
constexpr double kSmoothedDegree = 17;

// Candidate sources: a grid over the ball about the centre in which sources of order 0 and 1 can
// make the smoothed field's harmonics (radius about degree / k), cut to the object's bounding
// box, where no listener is expected.
std::vector<Eigen::Vector3d> ballCandidates(const Eigen::Vector3d& centre, double radius,
                                            int perAxis, const Eigen::Vector3d& lower,
                                            const Eigen::Vector3d& upper) {
    std::vector<Eigen::Vector3d> candidates{centre};
    for (int i = 0; i < perAxis; ++i)
        for (int j = 0; j < perAxis; ++j)
            for (int l = 0; l < perAxis; ++l) {
                const Eigen::Vector3d unit((i + 0.5) / perAxis * 2 - 1, (j + 0.5) / perAxis * 2 - 1,
                                           (l + 0.5) / perAxis * 2 - 1);
                const Eigen::Vector3d p = centre + radius * unit;
                if (unit.norm() <= 1.0 && (p.array() >= lower.array()).all() &&
                    (p.array() <= upper.array()).all())
                    candidates.push_back(p);
            }
    return candidates;
}

}  // namespace

HighFrequencySamples makeHighFrequencySamples(const SurfaceMesh& fine, int threadCount) {
    Eigen::Vector3d lower, upper;
    boundingBox(fine, lower, upper);
    HighFrequencySamples samples;
    samples.centre = 0.5 * (lower + upper);
    const double halfDiagonal = 0.5 * (upper - lower).norm();
    samples.fitRadius = 2 * halfDiagonal;
    samples.heldOutRadius = 3 * halfDiagonal;
    samples.fitPoints = fibonacciSphere(kHighFrequencyFitPoints, samples.fitRadius, samples.centre);
    samples.heldOutPoints =
        fibonacciSphere(kHighFrequencyHeldOutPoints, samples.heldOutRadius, samples.centre);
    samples.targetPoints =
        fibonacciSphere(kHighFrequencyTargetPoints, samples.fitRadius, samples.centre);
    samples.fitVisibility = computeVisibility(fine, samples.fitPoints, threadCount);
    samples.heldOutVisibility = computeVisibility(fine, samples.heldOutPoints, threadCount);
    samples.blockedShare = blockedRadiationShare(fine, threadCount);
    return samples;
}

std::vector<double> blockedRadiationShare(const SurfaceMesh& mesh, int threadCount) {
    // Fixed cosine-weighted directions over the hemisphere about +z: a Fibonacci spiral in the
    // unit disc (uniform in area), lifted onto the hemisphere (Malley's method).
    constexpr int kRays = 64;
    std::array<Eigen::Vector3d, kRays> local;
    const double goldenAngle = 3.14159265358979323846 * (3 - std::sqrt(5.0));
    for (int i = 0; i < kRays; ++i) {
        const double radius = std::sqrt((i + 0.5) / kRays);
        local[i] = {radius * std::cos(goldenAngle * i), radius * std::sin(goldenAngle * i),
                    std::sqrt(std::max(0.0, 1 - radius * radius))};
    }
    const TriangleBvh bvh(mesh.positions, mesh.triangles);
    Eigen::Vector3d lower, upper;
    boundingBox(mesh, lower, upper);
    const double reach = 2 * (upper - lower).norm();
    std::vector<double> share(mesh.triangles.size());
    parallelFor(static_cast<int>(mesh.triangles.size()), threadCount, [&](int t) {
        const auto& tri = mesh.triangles[t];
        const Eigen::Vector3d& a = mesh.positions[tri[0]];
        const Eigen::Vector3d& b = mesh.positions[tri[1]];
        const Eigen::Vector3d& c = mesh.positions[tri[2]];
        const Eigen::Vector3d normal = (b - a).cross(c - a).normalized();
        const Eigen::Vector3d e1 =
            (std::abs(normal.x()) < 0.9 ? Eigen::Vector3d::UnitX() : Eigen::Vector3d::UnitY())
                .cross(normal)
                .normalized();
        const Eigen::Vector3d e2 = normal.cross(e1);
        const double size = std::max({(b - a).norm(), (c - b).norm(), (a - c).norm()});
        const Eigen::Vector3d from = (a + b + c) / 3.0 + kVisibilityLift * size * normal;
        int blocked = 0;
        for (const Eigen::Vector3d& d : local) {
            const Eigen::Vector3d direction = d.x() * e1 + d.y() * e2 + d.z() * normal;
            if (bvh.segmentBlocked(from, from + reach * direction, t)) ++blocked;
        }
        share[t] = double(blocked) / kRays;
    });
    return share;
}

double blockedRadiationPower(const SurfaceMesh& mesh, const std::vector<double>& blockedShare,
                             const Eigen::VectorXd& vertexVelocity) {
    double power = 0;
    for (size_t t = 0; t < mesh.triangles.size(); ++t) {
        if (blockedShare[t] == 0) continue;
        const auto& tri = mesh.triangles[t];
        const Eigen::Vector3d& a = mesh.positions[tri[0]];
        const Eigen::Vector3d cross =
            (mesh.positions[tri[1]] - a).cross(mesh.positions[tri[2]] - a);
        const Eigen::Vector3d normal = cross.normalized();
        double v[3];
        for (int j = 0; j < 3; ++j) v[j] = vertexVelocity.segment<3>(3 * tri[j]).dot(normal);
        // The mean of v^2 over the triangle for v linear: (v0^2 + v1^2 + v2^2 + v0 v1 + v1 v2 +
        // v2 v0) / 6.
        const double meanSquare =
            (v[0] * v[0] + v[1] * v[1] + v[2] * v[2] + v[0] * v[1] + v[1] * v[2] + v[2] * v[0]) / 6;
        power += blockedShare[t] * 0.5 * kAirDensity_kgm3 * kSpeedOfSound_ms * meanSquare * 0.5 *
                 cross.norm();
    }
    return power;
}

std::vector<HighFrequencyTransfer> computeHighFrequencyTransfers(
    const SurfaceMesh& fine, const HighFrequencySamples& samples,
    const Eigen::MatrixXd& vertexVelocity, double omega, const TransferSettings& settings) {
    const auto start = std::chrono::steady_clock::now();
    const double k = omega / kSpeedOfSound_ms;
    const KirchhoffOptions model;
    const Eigen::MatrixXcd fitField = kirchhoffPressure(
        fine, samples.fitVisibility, samples.fitPoints, vertexVelocity, omega, model, 1);
    const Eigen::MatrixXcd heldOutField = kirchhoffPressure(
        fine, samples.heldOutVisibility, samples.heldOutPoints, vertexVelocity, omega, model, 1);
    const double modelSeconds = secondsSince(start);

    Eigen::Vector3d lower, upper;
    boundingBox(fine, lower, upper);
    const double reach = std::min(kSmoothedDegree / k, 0.5 * (upper - lower).maxCoeff());
    const std::vector<Eigen::Vector3d> candidates =
        ballCandidates(samples.centre, reach, 8, lower, upper);
    const int maxSources = std::max(settings.maxSources, 120);

    std::vector<HighFrequencyTransfer> results;
    for (Eigen::Index mode = 0; mode < vertexVelocity.cols(); ++mode) {
        const auto fitStart = std::chrono::steady_clock::now();
        HighFrequencyTransfer result;
        ModeTransfer& t = result.transfer;
        t.omega = omega;
        t.waveNumber = k;
        t.bemSeconds = modelSeconds;
        result.modelAtFitPoints = fitField.col(mode);
        // The smoothed field: the cap-averaged energy, with the blocked radiation given back as
        // a diffuse field of its power (|p|^2 = 2 rho c W / (4 pi r^2) on a sphere of radius r),
        // as an outgoing wave from the centre.
        const double blocked =
            blockedRadiationPower(fine, samples.blockedShare, vertexVelocity.col(mode));
        auto diffuse = [&](double radius) {
            return 2 * kAirDensity_kgm3 * kSpeedOfSound_ms * blocked /
                   (4 * 3.14159265358979323846 * radius * radius);
        };
        const Eigen::VectorXd targetEnergy =
            capAveragedEnergyAt(samples.targetPoints, samples.fitPoints, samples.centre,
                                fitField.col(mode))
                .array() +
            diffuse(samples.fitRadius);
        const Eigen::VectorXd heldOutEnergy =
            capAveragedEnergy(samples.heldOutPoints, samples.centre, heldOutField.col(mode))
                .array() +
            diffuse(samples.heldOutRadius);
        Eigen::VectorXcd target(samples.targetPoints.size());
        for (size_t i = 0; i < samples.targetPoints.size(); ++i) {
            const double r = (samples.targetPoints[i] - samples.centre).norm();
            target[i] =
                std::sqrt(targetEnergy[i]) * std::exp(Complex(0, -k * (r - samples.fitRadius)));
        }
        const MultipoleFit fit = fitMultipoles(samples.targetPoints, target, k, candidates,
                                               settings.tolerance, maxSources);
        t.sources = fit.sources;
        t.fitError = fit.relativeError;
        t.reachedCap = t.sources.cols() >= maxSources;
        // Held out: the magnitudes, which are what the program plays.
        double difference = 0, norm = 0;
        for (size_t i = 0; i < samples.heldOutPoints.size(); ++i) {
            const double fitted =
                std::abs(evaluateMultipoles(t.sources, k, samples.heldOutPoints[i]));
            const double expected = std::sqrt(heldOutEnergy[i]);
            difference += (fitted - expected) * (fitted - expected);
            norm += expected * expected;
        }
        t.heldOutError = norm > 0 ? std::sqrt(difference / norm) : 0;
        // The held-out sphere checks the smoothed field's consistency between two distances in
        // the Fresnel region, where its pattern still changes: twice the tolerance there.
        t.aboveTolerance =
            t.fitError > settings.tolerance || t.heldOutError > 2 * settings.tolerance;
        result.storedAtFitPoints.resize(samples.fitPoints.size());
        for (size_t i = 0; i < samples.fitPoints.size(); ++i)
            result.storedAtFitPoints[i] = evaluateMultipoles(t.sources, k, samples.fitPoints[i]);
        t.fitSeconds = secondsSince(fitStart);
        results.push_back(result);
    }
    return results;
}

bool highFrequencyCheckPasses(const RadiationComparison& comparison) {
    return std::abs(comparison.powerErrorDb) <= 3.0 && comparison.smoothedDirectivityDb <= 3.0;
}
