// The preset strike's loudness and the force unit that calibrates it (see loudness_calibration.h).
#include "tools/bake/output/loudness_calibration.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "geometry/mode_shape_matrix.h"
#include "geometry/scene_presets.h"
#include "sound/impact.h"
#include "sound/synthesis_state.h"
#include "tools/bake/common/bake_error.h"
#include "tools/bake/common/statistics.h"
#include "tools/bake/transfer/multipole/multipole_basis.h"

namespace {

// Vertices struck by the calibration, and the longest time the response is followed.
constexpr int kStruckVertexCount = 10;
constexpr double kLongestResponse_s = 30.0;
// Samples per block of the response: the envelope test runs once per block.
constexpr int kBlockSamples = 2048;

}  // namespace

namespace {

// calibrateLoudness for a scene with computed presets (see loudness_calibration.h).
LoudnessCalibration calibratePresets(const Recipe& recipe,
                                     const std::vector<Eigen::Vector3d>& positions,
                                     const Eigen::MatrixXd& surfaceShapes,
                                     const Eigen::VectorXd& frequencies,
                                     const std::vector<TransferFileMode>& transfer,
                                     ObjectPresets& presets) {
    LoudnessCalibration calibration;
    calibration.automatic = false;
    calibration.presetsCalibrated = true;
    calibration.forceUnit = recipe.loudness.automatic ? 1.0 : recipe.loudness.forceUnit;
    calibration.target_dBFS = recipe.loudness.strikePeak_dBFS;
    // Measured at magnitude 1 and the presets' first "Modal" gain.
    presets.impactMagnitude = 1.0;
    presetStrikeForScene(recipe.name, &presets, &calibration.strike);
    const int count = std::min<int>(kStruckVertexCount, static_cast<int>(positions.size()));
    StrikeLoudness& l = calibration.atUnitForce;
    l = presetStrikeLoudness(positions, surfaceShapes, frequencies, transfer, calibration.strike,
                             spreadVertices(positions, count));
    calibration.calibrated = true;
    const double zepAtUnit = calibration.forceUnit * l.zepMedian;
    if (!(zepAtUnit > 0.0 && std::isfinite(zepAtUnit) && l.modalMedian > 0.0))
        throw BakeError(recipe.path +
                        ": the preset strike is silent at the start camera, so no impact "
                        "magnitude can make it heard");
    // Peaks are linear in the magnitude M ("ZEP": peak(M) = M peak(1)) and, for "Modal", in its
    // gain G too.
    const double magnitude = std::pow(10.0, calibration.target_dBFS / 20.0) / zepAtUnit;
    const double gainRatio = l.zepMedian / l.modalMedian;
    presets.impactMagnitude = magnitude;
    presets.impactMagnitudeMin = magnitude / 25.0;
    presets.impactMagnitudeMax = 4.0 * magnitude;
    presets.modalRendererGain *= gainRatio;
    calibration.strike.magnitude = magnitude;
    calibration.strike.modalRendererGain = presets.modalRendererGain;
    for (double& peak : l.zepPeaks) peak *= magnitude;
    for (double& peak : l.modalPeaks) peak *= magnitude * gainRatio;
    l.zepMedian *= magnitude;
    l.modalMedian *= magnitude * gainRatio;
    return calibration;
}

}  // namespace

bool presetStrikeForScene(const std::string& sceneName, PresetStrike* strike) {
    int selector = -1;
    if (sceneName == "bell") selector = kBellScene;
    if (sceneName == "chair") selector = kChairScene;
    if (sceneName == "dragon") selector = kDragonScene;
    const SceneParameters* preset = scenePreset(selector);
    if (preset == nullptr) return false;
    PresetStrike s;
    s.magnitude = preset->impactMagnitude;
    s.durationSamples = 10;
    s.forceGain = modalForceGain;
    s.massDamping = preset->massDamping;
    s.stiffnessDamping = preset->stiffnessDamping;
    s.timeStep = audioTimeStep;
    s.modalRendererGain = preset->modalRendererGain;
    // The orbit camera's eye: focus + r (cos el cos az, sin el, -cos el sin az).
    const double r = preset->initialCameraRadius;
    const double azimuth = preset->cameraPhi * degreesToRadians;
    const double elevation = preset->cameraTheta * degreesToRadians;
    const Eigen::Vector3d focus(preset->cameraFocus[0], preset->cameraFocus[1],
                                preset->cameraFocus[2]);
    s.eye =
        focus + r * Eigen::Vector3d(std::cos(elevation) * std::cos(azimuth), std::sin(elevation),
                                    -std::cos(elevation) * std::sin(azimuth));
    // The bell hangs at rest below its pivot: T = (0, pivot height - pivot offset, 0).
    s.objectOrigin = Eigen::Vector3d::Zero();
    if (selector == kBellScene) s.objectOrigin.y() = kSwingPivotHeight - kSwingPivotOffset;
    *strike = s;
    return true;
}

bool presetStrikeForScene(const std::string& sceneName, const ObjectPresets* computed,
                          PresetStrike* strike) {
    if (isBuiltInScene(sceneName) || computed == nullptr)
        return presetStrikeForScene(sceneName, strike);
    const ObjectPresets& p = *computed;
    PresetStrike s;
    s.magnitude = p.impactMagnitude;
    s.durationSamples = 10;
    s.forceGain = modalForceGain;
    s.massDamping = p.massDamping;
    s.stiffnessDamping = p.stiffnessDamping;
    s.timeStep = audioTimeStep;
    s.modalRendererGain = p.modalRendererGain;
    // The orbit camera's eye: focus + r (cos el cos az, sin el, -cos el sin az).
    const double azimuth = p.cameraAzimuth_deg * degreesToRadians;
    const double elevation = p.cameraElevation_deg * degreesToRadians;
    s.eye =
        p.cameraFocus + p.cameraRadius * Eigen::Vector3d(std::cos(elevation) * std::cos(azimuth),
                                                         std::sin(elevation),
                                                         -std::cos(elevation) * std::sin(azimuth));
    s.objectOrigin = Eigen::Vector3d::Zero();
    *strike = s;
    return true;
}

std::vector<int> spreadVertices(const std::vector<Eigen::Vector3d>& positions, int count) {
    const int n = static_cast<int>(positions.size());
    Eigen::Vector3d centroid = Eigen::Vector3d::Zero();
    for (const Eigen::Vector3d& p : positions) centroid += p;
    centroid /= std::max(1, n);
    // distance[j]: from vertex j to the nearest chosen vertex (to the centroid before the first).
    std::vector<double> distance(n);
    for (int j = 0; j < n; ++j) distance[j] = (positions[j] - centroid).squaredNorm();
    std::vector<int> chosen;
    while (static_cast<int>(chosen.size()) < std::min(count, n)) {
        const int next =
            static_cast<int>(std::max_element(distance.begin(), distance.end()) - distance.begin());
        chosen.push_back(next);
        for (int j = 0; j < n; ++j)
            distance[j] = std::min(distance[j], (positions[j] - positions[next]).squaredNorm());
    }
    return chosen;
}

StrikeLoudness presetStrikeLoudness(const std::vector<Eigen::Vector3d>& positions,
                                    const Eigen::MatrixXd& surfaceShapes,
                                    const Eigen::VectorXd& frequencies,
                                    const std::vector<TransferFileMode>& transfer,
                                    const PresetStrike& strike, const std::vector<int>& vertices) {
    using Complex = std::complex<double>;
    const int modeCount = static_cast<int>(frequencies.size());
    if (static_cast<int>(transfer.size()) != modeCount || surfaceShapes.cols() != modeCount)
        throw std::logic_error("presetStrikeLoudness: " + std::to_string(modeCount) +
                               " frequencies, " + std::to_string(transfer.size()) +
                               " transfer entries and " + std::to_string(surfaceShapes.cols()) +
                               " mode shapes: one of each per mode is needed");
    const int vertexCount = static_cast<int>(vertices.size());
    const double dt = strike.timeStep;
    const Eigen::Vector3d listener = strike.eye - strike.objectOrigin;  // in the object's frame

    // Per mode: the pole lambda = -xi omega + i omega_d of m q'' + c q' + k q = f with m = 1,
    // c = alpha + beta omega^2, k = omega^2 (the program's resonator, sound/modal_resonator.h).
    std::vector<Complex> pole(modeCount), step(modeCount);
    std::vector<double> dampedOmega(modeCount), zepGain(modeCount);
    std::vector<bool> sounds(modeCount);
    for (int i = 0; i < modeCount; ++i) {
        const double omega = frequencies(i) * twoPi;
        const double c = strike.massDamping + strike.stiffnessDamping * omega * omega;
        const double xi = c / (2.0 * omega);
        sounds[i] = omega > 0.0 && xi < 1.0;
        if (!sounds[i]) continue;
        dampedOmega[i] = omega * std::sqrt(1.0 - xi * xi);
        pole[i] = Complex(-xi * omega, dampedOmega[i]);
        step[i] = std::exp(pole[i] * dt);
        // "ZEP" weight: omega_i |p_i(listener)|, the mode's pressure at unit modal velocity.
        zepGain[i] = omega * std::abs(evaluateMultipoles(transfer[i].sources,
                                                         transfer[i].waveNumber, listener));
    }
    const double modalGain = strike.modalRendererGain / (strike.eye - strike.objectOrigin).norm();

    // weights(i, v): the output per unit modal displacement of mode i for a strike on vertex v,
    // "ZEP" in columns 0 .. V-1 and "Modal" in V .. 2V-1. The modal force of the strike is
    // g M (u_i(v) . d), d the unit vector from the eye to the vertex (world = object + origin).
    // The projection is the program's own strike (sound/impact.h) on the program's own matrix:
    // one mode's 3N values after another, which is Eigen's column-major layout of the shapes.
    const ModeShapeMatrix shapes(static_cast<int>(surfaceShapes.rows() / 3), modeCount,
                                 surfaceShapes.data());
    std::vector<double> modalForces(modeCount);
    Eigen::MatrixXd weights = Eigen::MatrixXd::Zero(modeCount, 2 * vertexCount);
    for (int v = 0; v < vertexCount; ++v) {
        const Eigen::Vector3d& p = positions[vertices[v]];
        const Eigen::Vector3d direction = (p + strike.objectOrigin - strike.eye).normalized();
        std::fill(modalForces.begin(), modalForces.end(), 0.0);
        modalImpactForces(shapes, vertices[v], direction.data(), strike.magnitude,
                          modalForces.data());
        for (int i = 0; i < modeCount; ++i) {
            if (!sounds[i]) continue;
            const double modalForce = strike.forceGain * modalForces[i];
            weights(i, v) = zepGain[i] * modalForce;
            weights(i, vertexCount + v) = modalGain * modalForce;
        }
    }
    const Eigen::MatrixXd absWeights = weights.cwiseAbs();

    // The complex state z = s + i q of z' = lambda z + f / omega_d (unit mass, unit force from
    // t = 0 to T = D dt): z(t) = (e^{lambda t} - 1) / (lambda omega_d) while the force acts, and
    // z(t) = z(T) e^{lambda (t - T)} after it; q = Im z. Sample n of the output is taken at
    // t = (n + 1) dt (the program mixes each resonator after advancing it).
    const int D = std::max(1, strike.durationSamples);
    std::vector<Complex> z(modeCount, Complex(0.0, 0.0));
    auto stateAt = [&](int i, long sampleTime) {
        if (sampleTime <= D)
            return (std::exp(pole[i] * (sampleTime * dt)) - 1.0) / (pole[i] * dampedOmega[i]);
        return z[i] * step[i];  // one step on from sampleTime - 1
    };

    StrikeLoudness result;
    result.vertices = vertices;
    Eigen::VectorXd peaks = Eigen::VectorXd::Zero(2 * vertexCount);
    Eigen::MatrixXd displacement(kBlockSamples, modeCount);
    Eigen::VectorXd envelope(modeCount);
    const long lastSample = static_cast<long>(kLongestResponse_s / dt);
    for (long first = 0; first < lastSample; first += kBlockSamples) {
        // After the pulse |q_i(t)| <= |z_i(t)|, which only decays: once the envelope bound of
        // every column is below its peak, no later sample can reach the peak.
        if (first >= D) {
            for (int i = 0; i < modeCount; ++i) envelope(i) = sounds[i] ? std::abs(z[i]) : 0.0;
            const Eigen::VectorXd bound = absWeights.transpose() * envelope;
            if ((bound.array() <= peaks.array()).all()) break;
        }
        const int count = static_cast<int>(std::min<long>(kBlockSamples, lastSample - first));
        for (int i = 0; i < modeCount; ++i) {
            if (!sounds[i]) {
                displacement.col(i).head(count).setZero();
                continue;
            }
            for (int n = 0; n < count; ++n) {
                z[i] = stateAt(i, first + n + 1);
                displacement(n, i) = z[i].imag();
            }
        }
        const Eigen::MatrixXd output = displacement.topRows(count) * weights;
        peaks = peaks.cwiseMax(output.cwiseAbs().colwise().maxCoeff().transpose());
    }
    for (int v = 0; v < vertexCount; ++v) {
        result.zepPeaks.push_back(peaks(v));
        result.modalPeaks.push_back(peaks(vertexCount + v));
    }
    result.zepMedian = median(result.zepPeaks);
    result.modalMedian = median(result.modalPeaks);
    return result;
}

LoudnessCalibration calibrateLoudness(const Recipe& recipe,
                                      const std::vector<Eigen::Vector3d>& positions,
                                      const Eigen::MatrixXd& surfaceShapes,
                                      const Eigen::VectorXd& frequencies,
                                      const std::vector<TransferFileMode>& transfer,
                                      ObjectPresets* presets) {
    LoudnessCalibration calibration;
    calibration.automatic = recipe.loudness.automatic;
    calibration.forceUnit = recipe.loudness.forceUnit;
    calibration.target_dBFS = recipe.loudness.strikePeak_dBFS;
    if (presets != nullptr && !isBuiltInScene(recipe.name))
        return calibratePresets(recipe, positions, surfaceShapes, frequencies, transfer, *presets);
    if (!presetStrikeForScene(recipe.name, &calibration.strike)) {
        if (calibration.automatic)
            throw BakeError(recipe.path + ": \"forceUnit\": \"auto\" needs the program's preset");
        return calibration;
    }
    const int count = std::min<int>(kStruckVertexCount, static_cast<int>(positions.size()));
    calibration.atUnitForce =
        presetStrikeLoudness(positions, surfaceShapes, frequencies, transfer, calibration.strike,
                             spreadVertices(positions, count));
    calibration.calibrated = true;
    if (calibration.automatic) {
        const double median = calibration.atUnitForce.zepMedian;
        if (!(median > 0.0 && std::isfinite(median)))
            throw BakeError(recipe.path +
                            ": the preset strike is silent at the start camera, so no force unit "
                            "can make it heard");
        // Output is linear in the force: peak(F) = F peak(1 N).
        calibration.forceUnit = std::pow(10.0, calibration.target_dBFS / 20.0) / median;
    }
    return calibration;
}

double peakToDbfs(double peak) {
    return peak > 0.0 ? 20.0 * std::log10(peak) : -std::numeric_limits<double>::infinity();
}

std::string describeLoudness(const LoudnessCalibration& c) {
    char text[256];
    if (!c.calibrated) {
        std::snprintf(text, sizeof text, "force unit %.4g N (no preset strike to measure)",
                      c.forceUnit);
        return text;
    }
    const double zep = c.forceUnit * c.atUnitForce.zepMedian;
    const double modal = c.forceUnit * c.atUnitForce.modalMedian;
    if (c.presetsCalibrated) {
        std::snprintf(text, sizeof text,
                      "force unit %.4g N, preset impact magnitude %.4g and Modal gain %.4g (auto); "
                      "median preset strike %.1f dBFS (ZEP), %.1f dBFS (Modal)",
                      c.forceUnit, c.strike.magnitude, c.strike.modalRendererGain, peakToDbfs(zep),
                      peakToDbfs(modal));
        return text;
    }
    std::snprintf(text, sizeof text,
                  "force unit %.4g N%s; median preset strike %.1f dBFS (ZEP), %.1f dBFS (Modal)",
                  c.forceUnit, c.automatic ? " (auto)" : "", peakToDbfs(zep), peakToDbfs(modal));
    return text;
}
