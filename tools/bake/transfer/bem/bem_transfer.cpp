// Boundary element solve, sampling and multipole fit of each mode (see bem_transfer.h).
#include "tools/bake/transfer/bem/bem_transfer.h"

#include <chrono>

#include "tools/bake/common/stopwatch.h"

std::vector<ModeTransfer> fitRadiatedFields(const BemSurface& surface, const BemSolution& solution,
                                            const TransferSettings& settings,
                                            const BemOptions& bem) {
    const auto samplingStart = std::chrono::steady_clock::now();
    const FieldSamples samples =
        fieldSamplesFor(surface.boxMin, surface.boxMax, solution.waveNumber, settings);
    const Eigen::MatrixXcd fitPressure =
        radiatedPressure(surface, solution, samples.fitPoints, bem);
    const Eigen::MatrixXcd heldOutPressure =
        radiatedPressure(surface, solution, samples.heldOutPoints, bem);
    const double bemSeconds =
        solution.assemblySeconds + solution.solveSeconds + secondsSince(samplingStart);
    std::vector<ModeTransfer> results = fitSampledFields(
        samples, fitPressure, heldOutPressure, solution.omega, solution.waveNumber, settings);
    for (size_t mode = 0; mode < results.size(); ++mode) {
        results[mode].bemConverged = solution.converged;
        results[mode].gmresIterations = solution.iterations[mode];
        results[mode].bemSeconds = bemSeconds;
    }
    return results;
}

std::vector<ModeTransfer> computeModeTransfers(const BemSurface& surface,
                                               const BemNearField& nearField,
                                               const Eigen::MatrixXd& normalVelocity, double omega,
                                               const TransferSettings& settings,
                                               const BemOptions& bem) {
    const BemSolution solution =
        solveExteriorNeumann(surface, nearField, omega, normalVelocity, bem);
    return fitRadiatedFields(surface, solution, settings, bem);
}

std::vector<ModeTransfer> computeModeTransfers(const BemSurface& surface,
                                               const Eigen::MatrixXd& normalVelocity, double omega,
                                               const TransferSettings& settings,
                                               const BemOptions& bem) {
    const BemNearField nearField = makeNearField(surface, bem.nearFieldDepth, bem.threadCount);
    return computeModeTransfers(surface, nearField, normalVelocity, omega, settings, bem);
}

ModeTransfer computeModeTransfer(const BemSurface& surface, const Eigen::VectorXd& normalVelocity,
                                 double omega, const TransferSettings& settings,
                                 const BemOptions& bem) {
    return computeModeTransfers(surface, normalVelocity, omega, settings, bem).front();
}
