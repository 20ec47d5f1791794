// Smoothed high-frequency fields and their fit (see high_frequency_transfer.h).
#include "tools/bake/transfer/high_frequency/high_frequency_transfer.h"

#include <array>
#include <chrono>
#include <cmath>
#include <complex>

#include "tools/bake/common/parallel_for.h"
#include "tools/bake/common/physical_constants.h"
#include "tools/bake/common/stopwatch.h"
#include "tools/bake/transfer/bem/bem_solve.h"
#include "tools/bake/transfer/multipole/multipole_fit.h"

namespace {

using Complex = std::complex<double>;

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
    std::vector<Eigen::Vector3d> bins(samples.targetPoints.size());
    for (size_t b = 0; b < bins.size(); ++b)
        bins[b] = (samples.targetPoints[b] - samples.centre).normalized();
    samples.blocked = traceBlockedRadiation(fine, bins, threadCount);
    samples.targetEscapeKernel = escapeKernel(samples.targetPoints, samples.centre, bins);
    samples.heldOutEscapeKernel = escapeKernel(samples.heldOutPoints, samples.centre, bins);
    return samples;
}

BlockedRadiation traceBlockedRadiation(const SurfaceMesh& mesh,
                                       const std::vector<Eigen::Vector3d>& escapeBins,
                                       int threadCount) {
    // Fixed cosine-weighted directions over the hemisphere about +z: a Fibonacci spiral in the
    // unit disc (uniform in area), lifted onto the hemisphere (Malley's method). Each carries an
    // equal share of a small flat radiator's power.
    std::array<Eigen::Vector3d, kBlockedRays> local;
    const double goldenAngle = kPi * (3 - std::sqrt(5.0));
    for (int i = 0; i < kBlockedRays; ++i) {
        const double radius = std::sqrt((i + 0.5) / kBlockedRays);
        local[i] = {radius * std::cos(goldenAngle * i), radius * std::sin(goldenAngle * i),
                    std::sqrt(std::max(0.0, 1 - radius * radius))};
    }
    const TriangleBvh bvh(mesh.positions, mesh.triangles);
    Eigen::Vector3d lower, upper;
    boundingBox(mesh, lower, upper);
    const double reach = 2 * (upper - lower).norm();
    const int triangleCount = static_cast<int>(mesh.triangles.size());
    std::vector<Eigen::Vector3d> normals(triangleCount);
    for (int t = 0; t < triangleCount; ++t) {
        const auto& tri = mesh.triangles[t];
        normals[t] = (mesh.positions[tri[1]] - mesh.positions[tri[0]])
                         .cross(mesh.positions[tri[2]] - mesh.positions[tri[0]])
                         .normalized();
    }
    // Per triangle, the escape bins of its blocked rays (kTrapped for a ray still inside after
    // the last reflection).
    std::vector<std::vector<int>> bins(triangleCount);
    parallelFor(triangleCount, threadCount, [&](int t) {
        const auto& tri = mesh.triangles[t];
        const Eigen::Vector3d& a = mesh.positions[tri[0]];
        const Eigen::Vector3d& b = mesh.positions[tri[1]];
        const Eigen::Vector3d& c = mesh.positions[tri[2]];
        const Eigen::Vector3d& normal = normals[t];
        const Eigen::Vector3d e1 =
            (std::abs(normal.x()) < 0.9 ? Eigen::Vector3d::UnitX() : Eigen::Vector3d::UnitY())
                .cross(normal)
                .normalized();
        const Eigen::Vector3d e2 = normal.cross(e1);
        const double size = std::max({(b - a).norm(), (c - b).norm(), (a - c).norm()});
        const Eigen::Vector3d start = (a + b + c) / 3.0 + kVisibilityLift * size * normal;
        for (const Eigen::Vector3d& d : local) {
            Eigen::Vector3d direction = d.x() * e1 + d.y() * e2 + d.z() * normal;
            Eigen::Vector3d from = start;
            int ignored = t;
            double s = 1;
            int hit = bvh.firstCrossing(from, from + reach * direction, ignored, &s);
            if (hit < 0) continue;
            if (escapeBins.empty()) {
                bins[t].push_back(kTrapped);
                continue;
            }
            // Specular reflection, r = d - 2 (d . n) n, at each wall met, until the ray leaves.
            int bin = kTrapped;
            for (int reflection = 0; reflection < kMaxReflections; ++reflection) {
                const Eigen::Vector3d point = from + s * reach * direction;
                direction -= 2 * direction.dot(normals[hit]) * normals[hit];
                from = point;
                ignored = hit;
                hit = bvh.firstCrossing(from, from + reach * direction, ignored, &s);
                if (hit >= 0) continue;
                double best = -2;
                for (size_t e = 0; e < escapeBins.size(); ++e) {
                    const double cosine = escapeBins[e].dot(direction);
                    if (cosine > best) {
                        best = cosine;
                        bin = static_cast<int>(e);
                    }
                }
                break;
            }
            bins[t].push_back(bin);
        }
    });
    BlockedRadiation blocked;
    blocked.share.resize(triangleCount);
    blocked.rayStart.assign(1, 0);
    for (int t = 0; t < triangleCount; ++t) {
        blocked.share[t] = double(bins[t].size()) / kBlockedRays;
        blocked.escapeBin.insert(blocked.escapeBin.end(), bins[t].begin(), bins[t].end());
        blocked.rayStart.push_back(static_cast<int>(blocked.escapeBin.size()));
    }
    return blocked;
}

std::vector<double> blockedRadiationShare(const SurfaceMesh& mesh, int threadCount) {
    return traceBlockedRadiation(mesh, {}, threadCount).share;
}

Eigen::MatrixXd escapeKernel(const std::vector<Eigen::Vector3d>& points,
                             const Eigen::Vector3d& centre,
                             const std::vector<Eigen::Vector3d>& escapeBins) {
    // A von Mises-Fisher spread exp(kappa (u . d - 1)) whose mean square angle 2 / kappa is the
    // 25 degree cap's, beta^2 / 2: kappa = 4 / beta^2.
    const double kappa = 4 / (kDefaultCapHalfAngle * kDefaultCapHalfAngle);
    Eigen::MatrixXd kernel(points.size(), escapeBins.size());
    for (size_t i = 0; i < points.size(); ++i) {
        const Eigen::Vector3d u = (points[i] - centre).normalized();
        for (size_t b = 0; b < escapeBins.size(); ++b)
            kernel(i, b) = std::exp(kappa * (u.dot(escapeBins[b]) - 1));
    }
    // Each column a density over the sphere: sum_i K_ib 4 pi / n = 1 on the n (uniform) points.
    const double solidAngle = 4 * kPi / points.size();
    for (Eigen::Index b = 0; b < kernel.cols(); ++b)
        kernel.col(b) /= kernel.col(b).sum() * solidAngle;
    return kernel;
}

namespace {

// The plane-wave rate of triangle t's radiation, 1/2 rho c <v_n^2> A (W), with v_n linear over the
// triangle from its corners' velocities.
double planeWavePower(const SurfaceMesh& mesh, size_t t, const Eigen::VectorXd& vertexVelocity) {
    const auto& tri = mesh.triangles[t];
    const Eigen::Vector3d& a = mesh.positions[tri[0]];
    const Eigen::Vector3d cross = (mesh.positions[tri[1]] - a).cross(mesh.positions[tri[2]] - a);
    const Eigen::Vector3d normal = cross.normalized();
    double v[3];
    for (int j = 0; j < 3; ++j) v[j] = vertexVelocity.segment<3>(3 * tri[j]).dot(normal);
    // The mean of v^2 over the triangle for v linear: (v0^2 + v1^2 + v2^2 + v0 v1 + v1 v2 +
    // v2 v0) / 6.
    const double meanSquare =
        (v[0] * v[0] + v[1] * v[1] + v[2] * v[2] + v[0] * v[1] + v[1] * v[2] + v[2] * v[0]) / 6;
    return 0.5 * kAirDensity_kgm3 * kSpeedOfSound_ms * meanSquare * 0.5 * cross.norm();
}

}  // namespace

double blockedRadiationPower(const SurfaceMesh& mesh, const std::vector<double>& blockedShare,
                             const Eigen::VectorXd& vertexVelocity) {
    double power = 0;
    for (size_t t = 0; t < mesh.triangles.size(); ++t)
        if (blockedShare[t] != 0)
            power += blockedShare[t] * planeWavePower(mesh, t, vertexVelocity);
    return power;
}

double blockedRadiationByDirection(const SurfaceMesh& mesh, const BlockedRadiation& blocked,
                                   const Eigen::VectorXd& vertexVelocity, Eigen::VectorXd* perBin) {
    double trapped = 0;
    for (size_t t = 0; t + 1 < blocked.rayStart.size(); ++t) {
        if (blocked.rayStart[t] == blocked.rayStart[t + 1]) continue;
        const double perRay = planeWavePower(mesh, t, vertexVelocity) / kBlockedRays;
        for (int r = blocked.rayStart[t]; r < blocked.rayStart[t + 1]; ++r) {
            const int bin = blocked.escapeBin[r];
            if (bin == kTrapped)
                trapped += perRay;
            else
                (*perBin)[bin] += perRay;
        }
    }
    return trapped;
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
        // The smoothed field: the cap-averaged energy, with the blocked radiation given back
        // where it leaves the object: |p|^2 = 2 rho c W(u) / r^2 on a sphere of radius r, W(u)
        // its power per steradian (escaped rays spread over their directions, trapped ones
        // evenly), as an outgoing wave from the centre.
        Eigen::VectorXd escaped = Eigen::VectorXd::Zero(samples.targetPoints.size());
        const double trapped =
            blockedRadiationByDirection(fine, samples.blocked, vertexVelocity.col(mode), &escaped);
        auto blockedEnergy = [&](const Eigen::MatrixXd& kernel, double radius) {
            const Eigen::VectorXd perSteradian = (kernel * escaped).array() + trapped / (4 * kPi);
            return Eigen::VectorXd(2 * kAirDensity_kgm3 * kSpeedOfSound_ms * perSteradian /
                                   (radius * radius));
        };
        const Eigen::VectorXd targetEnergy =
            capAveragedEnergyAt(samples.targetPoints, samples.fitPoints, samples.centre,
                                fitField.col(mode)) +
            blockedEnergy(samples.targetEscapeKernel, samples.fitRadius);
        const Eigen::VectorXd heldOutEnergy =
            capAveragedEnergy(samples.heldOutPoints, samples.centre, heldOutField.col(mode)) +
            blockedEnergy(samples.heldOutEscapeKernel, samples.heldOutRadius);
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
