// The multipole fit of sampled fields, with held-out checks and refits (see field_fit.h).
#include "tools/bake/transfer/multipole/field_fit.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "tools/bake/common/physical_constants.h"
#include "tools/bake/common/stopwatch.h"
#include "tools/bake/transfer/multipole/multipole_fit.h"

namespace {

double relativeDifference(const Eigen::VectorXcd& approximate, const Eigen::VectorXcd& exact) {
    const double norm = exact.norm();
    return norm > 0 ? (approximate - exact).norm() / norm : approximate.norm();
}

}  // namespace

std::vector<Eigen::Vector3d> boxSurfacePoints(const Eigen::Vector3d& boxMin,
                                              const Eigen::Vector3d& boxMax, double margin,
                                              int count) {
    const Eigen::Vector3d centre = 0.5 * (boxMin + boxMax);
    const Eigen::Vector3d half = 0.5 * (boxMax - boxMin) + Eigen::Vector3d::Constant(margin);
    std::vector<Eigen::Vector3d> points;
    points.reserve(count);
    const double goldenAngle = kPi * (3 - std::sqrt(5.0));
    for (int i = 0; i < count; ++i) {
        // Fibonacci directions, pushed out along the ray to the box's surface.
        const double z = 1 - 2 * (i + 0.5) / count;
        const double ring = std::sqrt(std::max(0.0, 1 - z * z));
        const Eigen::Vector3d d(ring * std::cos(goldenAngle * i), ring * std::sin(goldenAngle * i),
                                z);
        const double reach = (d.cwiseAbs().array() / half.array()).maxCoeff();
        points.push_back(centre + d / reach);
    }
    return points;
}

std::vector<Eigen::Vector3d> candidateSourcePositions(const Eigen::Vector3d& boxMin,
                                                      const Eigen::Vector3d& boxMax,
                                                      int perLongestAxis) {
    const Eigen::Vector3d size = boxMax - boxMin;
    const double longest = size.maxCoeff();
    int cells[3];
    for (int a = 0; a < 3; ++a)
        cells[a] = std::max(1, static_cast<int>(std::lround(perLongestAxis * size[a] / longest)));
    std::vector<Eigen::Vector3d> candidates;
    candidates.push_back(0.5 * (boxMin + boxMax));
    for (int i = 0; i < cells[0]; ++i)
        for (int j = 0; j < cells[1]; ++j)
            for (int l = 0; l < cells[2]; ++l) {
                const Eigen::Vector3d p = boxMin + Eigen::Vector3d((i + 0.5) / cells[0] * size.x(),
                                                                   (j + 0.5) / cells[1] * size.y(),
                                                                   (l + 0.5) / cells[2] * size.z());
                if ((p - candidates[0]).norm() > 1e-9 * longest) candidates.push_back(p);
            }
    return candidates;
}

FitSizes fitSizesFor(const TransferSettings& settings, double k, double halfDiagonal,
                     double longestSide) {
    FitSizes sizes{settings.maxSources, settings.fitPointCount, settings.heldOutPointCount,
                   settings.candidatesPerAxis};
    if (!settings.growWithWaveNumber) return sizes;
    const double degree = k * halfDiagonal * (1 + settings.fitMargin) + 4;
    sizes.maxSources = std::max(sizes.maxSources, static_cast<int>(0.3 * degree * degree));
    sizes.fitPoints = std::max(sizes.fitPoints, 4 * sizes.maxSources + 200);
    if (settings.maxFitPoints > 0 && sizes.fitPoints > settings.maxFitPoints) {
        sizes.fitPoints = std::max(settings.fitPointCount, settings.maxFitPoints);
        sizes.maxSources = std::max(settings.maxSources, (sizes.fitPoints - 200) / 4);
    }
    sizes.heldOutPoints = std::max(sizes.heldOutPoints, sizes.fitPoints / 3);
    const double halfWavelength = kPi / k;
    sizes.candidatesPerAxis = std::clamp(
        static_cast<int>(std::lround(longestSide / halfWavelength)), sizes.candidatesPerAxis,
        std::max(sizes.candidatesPerAxis, settings.maxCandidatesPerAxis));
    return sizes;
}

FieldSamples fieldSamplesFor(const Eigen::Vector3d& boxMin, const Eigen::Vector3d& boxMax,
                             double waveNumber, const TransferSettings& settings) {
    FieldSamples samples;
    const double halfDiagonal = 0.5 * (boxMax - boxMin).norm();
    samples.sizes = fitSizesFor(settings, waveNumber, halfDiagonal, (boxMax - boxMin).maxCoeff());
    samples.fitPoints = boxSurfacePoints(boxMin, boxMax, settings.fitMargin * halfDiagonal,
                                         samples.sizes.fitPoints);
    samples.heldOutPoints = boxSurfacePoints(boxMin, boxMax, settings.heldOutMargin * halfDiagonal,
                                             samples.sizes.heldOutPoints);
    samples.candidates = candidateSourcePositions(boxMin, boxMax, samples.sizes.candidatesPerAxis);
    return samples;
}

std::vector<ModeTransfer> fitSampledFields(const FieldSamples& samples,
                                           const Eigen::MatrixXcd& fitPressure,
                                           const Eigen::MatrixXcd& heldOutPressure, double omega,
                                           double waveNumber, const TransferSettings& settings) {
    std::vector<ModeTransfer> results;
    for (Eigen::Index mode = 0; mode < fitPressure.cols(); ++mode) {
        const auto fitStart = std::chrono::steady_clock::now();
        ModeTransfer t;
        t.omega = omega;
        t.waveNumber = waveNumber;
        // A fit just within the tolerance on the fit surface can miss it farther out (the
        // residual is not spread evenly over directions): then fit on to a tighter target, a few
        // times at most, until the held-out points are within the tolerance too. Each target
        // carries on the previous one's greedy selection.
        std::vector<double> targets = {settings.tolerance};
        for (int refit = 0; refit < settings.maxRefits; ++refit)
            targets.push_back(targets.back() * settings.refitFactor);
        // The greedy selection also watches the held-out points, and stops where more sources
        // would only fit the samples' aliases (fitMultipolesUntil).
        const Eigen::VectorXcd heldOut = heldOutPressure.col(mode);
        const MultipoleFit fit = fitMultipolesUntil(
            samples.fitPoints, fitPressure.col(mode), t.waveNumber, samples.candidates, targets,
            samples.sizes.maxSources, settings.fitBlocksPerStep,
            [&](const MultipoleFit& f) {
                Eigen::VectorXcd fitted(samples.heldOutPoints.size());
                for (size_t i = 0; i < samples.heldOutPoints.size(); ++i)
                    fitted[i] =
                        evaluateMultipoles(f.sources, t.waveNumber, samples.heldOutPoints[i]);
                t.heldOutError = relativeDifference(fitted, heldOut);
                return t.heldOutError <= settings.tolerance || f.reachedCap;
            },
            HeldOutField{&samples.heldOutPoints, &heldOut});
        t.sources = fit.sources;
        t.fitError = fit.relativeError;
        t.reachedCap = t.sources.cols() >= samples.sizes.maxSources;
        t.aboveTolerance =
            !(t.fitError <= settings.tolerance) || !(t.heldOutError <= settings.tolerance);
        t.fitSeconds = secondsSince(fitStart);
        results.push_back(t);
    }
    return results;
}
