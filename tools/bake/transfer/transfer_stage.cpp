// A whole scene's acoustic transfer, planned, prepared and run group by group in worker processes
// (see transfer_stage.h).
#include "tools/bake/transfer/transfer_stage.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <numeric>
#include <sstream>

#include "tools/bake/common/bake_error.h"
#include "tools/bake/common/physical_constants.h"
#include "tools/bake/common/stopwatch.h"
#include "tools/bake/transfer/acoustic_surface.h"
#include "tools/bake/transfer/bem/bem_hmatrix.h"
#include "tools/bake/transfer/bem/bem_near_field.h"
#include "tools/bake/transfer/bem/bem_solve.h"
#include "tools/bake/transfer/bem/bem_surface.h"
#include "tools/bake/transfer/bem/bem_transfer.h"
#include "tools/bake/transfer/high_frequency/high_frequency_transfer.h"
#include "tools/bake/transfer/transfer_plan.h"

namespace {

// One boundary element surface of the plan, with each mode's normal velocity on it (only the
// modes of the groups that use it) and its static near field.
struct AcousticMesh {
    BemSurface surface;
    BemNearField nearField;
    Eigen::MatrixXd velocity;  // elements x modes, columns by `column`
    std::vector<int> column;   // mode -> column of `velocity`, -1 when not carried over
};

Eigen::MatrixXd velocityOf(const AcousticMesh& mesh, const std::vector<int>& modes) {
    Eigen::MatrixXd v(mesh.velocity.rows(), static_cast<Eigen::Index>(modes.size()));
    for (size_t j = 0; j < modes.size(); ++j) v.col(j) = mesh.velocity.col(mesh.column[modes[j]]);
    return v;
}

// What a unit sends back for each of its group's modes; for a mode of the wave tier's overlap,
// also its boundary element field at the wave tier's held-out points.
struct UnitMode {
    TransferFileMode file;
    ModeTransferSummary summary;
    Eigen::VectorXcd waveCheckSamples;
};

void putSummary(ByteWriter& out, const ModeTransferSummary& s) {
    out.putInt(s.tier);
    out.putInt(s.elementCount);
    out.putInt(s.sourceCount);
    out.putDouble(s.fitError);
    out.putDouble(s.heldOutError);
    out.putDouble(s.tolerance);
    out.putInt(s.reachedCap);
    out.putInt(s.aboveTolerance);
    out.putInt(s.bemConverged);
    out.putInt(s.gmresIterations);
    out.putInt(s.checked);
    out.putInt(s.referenceElements);
    out.putDouble(s.checkPower_dB);
    out.putDouble(s.checkSmoothed_dB);
    out.putDouble(s.checkPoint_dB);
    out.putDouble(s.modelPower_dB);
    out.putDouble(s.modelSmoothed_dB);
    out.putDouble(s.modelPoint_dB);
    out.putInt(s.movedFromHighFrequency);
    out.putDouble(s.seconds);
}

ModeTransferSummary getSummary(ByteReader& in) {
    ModeTransferSummary s;
    s.tier = static_cast<char>(in.getInt());
    s.elementCount = static_cast<int>(in.getInt());
    s.sourceCount = static_cast<int>(in.getInt());
    s.fitError = in.getDouble();
    s.heldOutError = in.getDouble();
    s.tolerance = in.getDouble();
    s.reachedCap = in.getInt() != 0;
    s.aboveTolerance = in.getInt() != 0;
    s.bemConverged = in.getInt() != 0;
    s.gmresIterations = static_cast<int>(in.getInt());
    s.checked = in.getInt() != 0;
    s.referenceElements = static_cast<int>(in.getInt());
    s.checkPower_dB = in.getDouble();
    s.checkSmoothed_dB = in.getDouble();
    s.checkPoint_dB = in.getDouble();
    s.modelPower_dB = in.getDouble();
    s.modelSmoothed_dB = in.getDouble();
    s.modelPoint_dB = in.getDouble();
    s.movedFromHighFrequency = in.getInt() != 0;
    s.seconds = in.getDouble();
    return s;
}

std::string packUnit(const std::vector<UnitMode>& modes) {
    ByteWriter out;
    out.putInt(static_cast<int64_t>(modes.size()));
    for (const UnitMode& m : modes) {
        out.putMatrix(Eigen::MatrixXd(m.file.sources));
        out.putDouble(m.file.waveNumber);
        putSummary(out, m.summary);
        Eigen::MatrixXd parts(m.waveCheckSamples.size(), 2);
        parts << m.waveCheckSamples.real(), m.waveCheckSamples.imag();
        out.putMatrix(parts);
    }
    return out.take();
}

std::vector<UnitMode> unpackUnit(const std::string& bytes) {
    ByteReader in(bytes);
    std::vector<UnitMode> modes(static_cast<size_t>(in.getInt()));
    for (UnitMode& m : modes) {
        m.file.sources = in.getMatrix();
        m.file.waveNumber = in.getDouble();
        m.summary = getSummary(in);
        const Eigen::MatrixXd parts = in.getMatrix();
        m.waveCheckSamples = parts.col(0) + std::complex<double>(0, 1) * parts.col(1);
    }
    return modes;
}

ModeTransferSummary summarise(const ModeTransfer& t, char tier, int elements, double tolerance) {
    ModeTransferSummary s;
    s.tier = tier;
    s.elementCount = elements;
    s.sourceCount = static_cast<int>(t.sources.cols());
    s.fitError = t.fitError;
    s.heldOutError = t.heldOutError;
    s.tolerance = tolerance;
    s.reachedCap = t.reachedCap;
    s.aboveTolerance = t.aboveTolerance;
    s.bemConverged = t.bemConverged;
    s.gmresIterations = t.gmresIterations;
    return s;
}

// The boundary element solve of one group on `mesh`, by the dense or the compressed solver.
BemSolution solveGroup(const AcousticMesh& mesh, TransferTier tier, double omega,
                       const Eigen::MatrixXd& velocity, const BemOptions& options) {
    if (tier == TransferTier::hmatrix)
        return solveExteriorNeumannHMatrix(mesh.surface, mesh.nearField, omega, velocity, options);
    return solveExteriorNeumann(mesh.surface, mesh.nearField, omega, velocity, options);
}

// The boundary element surfaces of the plan, each with the velocities of the modes solved on it
// (also a checked group's reference surface) and its near field, made once for all workers.
std::vector<std::unique_ptr<AcousticMesh>> prepareAcousticMeshes(
    const Recipe& recipe, const SurfaceMesh& fine, const Eigen::MatrixXd& surfaceShapes,
    const TransferPlan& plan, int modeCount, const BemOptions& bem) {
    std::vector<std::vector<int>> modesOnMesh(plan.meshTargets.size());
    for (const TransferGroupPlan& g : plan.groups) {
        if (g.mesh >= 0)
            modesOnMesh[g.mesh].insert(modesOnMesh[g.mesh].end(), g.modes.begin(), g.modes.end());
        if (g.checked)
            modesOnMesh[g.referenceMesh].insert(modesOnMesh[g.referenceMesh].end(), g.modes.begin(),
                                                g.modes.end());
    }
    std::vector<std::unique_ptr<AcousticMesh>> meshes;
    for (size_t m = 0; m < plan.meshTargets.size(); ++m) {
        auto mesh = std::make_unique<AcousticMesh>();
        const SurfaceMesh acoustic = makeAcousticSurface(recipe, fine, plan.meshTargets[m]);
        mesh->surface = makeBemSurface(acoustic.positions, acoustic.triangles);
        std::vector<int>& modes = modesOnMesh[m];
        std::sort(modes.begin(), modes.end());
        modes.erase(std::unique(modes.begin(), modes.end()), modes.end());
        Eigen::MatrixXd shapes(surfaceShapes.rows(), static_cast<Eigen::Index>(modes.size()));
        mesh->column.assign(modeCount, -1);
        for (size_t j = 0; j < modes.size(); ++j) {
            shapes.col(j) = surfaceShapes.col(modes[j]);
            mesh->column[modes[j]] = static_cast<int>(j);
        }
        mesh->velocity = interpolateNormalVelocity(fine, shapes, acoustic);
        mesh->nearField = makeNearField(mesh->surface, bem.nearFieldDepth, 0);
        meshes.push_back(std::move(mesh));
    }
    return meshes;
}

// Everything a group's unit reads: made in the baker's process before the workers fork, so each
// worker inherits it.
struct GroupInputs {
    const TransferSettings& settings;
    const SurfaceMesh& fine;
    const Eigen::MatrixXd& surfaceShapes;
    std::vector<std::unique_ptr<AcousticMesh>> meshes;
    std::unique_ptr<HighFrequencySamples> samples;  // only when a group is of tier C
    BemOptions bem;  // one thread inside a unit: the workers are the parallelism
    const Eigen::VectorXd& frequencies;  // every mode's, Hz
    std::vector<char> waveOverlap;       // per mode: the wave tier solves it too (the overlap)
};

// Tiers A and B: one boundary element solve for the group, its field fitted per mode.
std::vector<UnitMode> runBoundaryElementGroup(const GroupInputs& in, const TransferGroupPlan& g,
                                              double omega) {
    std::vector<UnitMode> out(g.modes.size());
    const AcousticMesh& mesh = *in.meshes[g.mesh];
    const BemSolution solution = solveGroup(mesh, g.tier, omega, velocityOf(mesh, g.modes), in.bem);
    const std::vector<ModeTransfer> fits =
        fitRadiatedFields(mesh.surface, solution, in.settings, in.bem);
    for (size_t j = 0; j < g.modes.size(); ++j) {
        out[j].file = {fits[j].sources, fits[j].waveNumber};
        out[j].summary =
            summarise(fits[j], static_cast<char>(g.tier),
                      static_cast<int>(mesh.surface.elements.size()), in.settings.tolerance);
        if (!in.waveOverlap[size_t(g.modes[j])]) continue;
        const std::vector<Eigen::Vector3d> points =
            waveHeldOutPoints(in.fine, in.frequencies(g.modes[j]), in.settings);
        out[j].waveCheckSamples =
            radiatedPressure(mesh.surface, solution, points, in.bem).col(Eigen::Index(j));
    }
    return out;
}

// A tier C group checked against a reference boundary element solve, finer than the transfer's
// own, compared on the high-frequency tier's fit sphere: each mode's summary records the check,
// and a mode whose stored field fails it takes the reference's own field instead, fitted as the
// boundary element tiers are.
void checkHighFrequencyGroup(const GroupInputs& in, const TransferGroupPlan& g, double omega,
                             const std::vector<HighFrequencyTransfer>& fits,
                             std::vector<UnitMode>& out) {
    const AcousticMesh& mesh = *in.meshes[g.referenceMesh];
    const BemSolution reference =
        solveGroup(mesh, g.referenceTier, omega, velocityOf(mesh, g.modes), in.bem);
    const Eigen::MatrixXcd referenceField =
        radiatedPressure(mesh.surface, reference, in.samples->fitPoints, in.bem);
    std::vector<ModeTransfer> referenceFits;
    for (size_t j = 0; j < g.modes.size(); ++j) {
        ModeTransferSummary& s = out[j].summary;
        const RadiationComparison stored =
            compareRadiation(in.samples->fitPoints, in.samples->centre, fits[j].storedAtFitPoints,
                             referenceField.col(j));
        const RadiationComparison model =
            compareRadiation(in.samples->fitPoints, in.samples->centre, fits[j].modelAtFitPoints,
                             referenceField.col(j));
        auto recordCheck = [&](ModeTransferSummary& summary) {
            summary.checked = true;
            summary.referenceElements = static_cast<int>(mesh.surface.elements.size());
            summary.checkPower_dB = stored.powerErrorDb;
            summary.checkSmoothed_dB = stored.smoothedDirectivityDb;
            summary.checkPoint_dB = stored.pointwiseDirectivityDb;
            summary.modelPower_dB = model.powerErrorDb;
            summary.modelSmoothed_dB = model.smoothedDirectivityDb;
            summary.modelPoint_dB = model.pointwiseDirectivityDb;
        };
        recordCheck(s);
        if (highFrequencyCheckPasses(stored)) continue;
        if (referenceFits.empty())
            referenceFits = fitRadiatedFields(mesh.surface, reference, in.settings, in.bem);
        s = summarise(referenceFits[j], static_cast<char>(g.referenceTier),
                      static_cast<int>(mesh.surface.elements.size()), in.settings.tolerance);
        recordCheck(s);
        s.movedFromHighFrequency = true;
        out[j].file = {referenceFits[j].sources, referenceFits[j].waveNumber};
    }
}

// Tier C: the high-frequency model's smoothed field, fitted to its own tolerance; checked when
// the plan says so.
std::vector<UnitMode> runHighFrequencyGroup(const GroupInputs& in, const TransferGroupPlan& g,
                                            double omega) {
    std::vector<UnitMode> out(g.modes.size());
    Eigen::MatrixXd shapes(in.surfaceShapes.rows(), static_cast<Eigen::Index>(g.modes.size()));
    for (size_t j = 0; j < g.modes.size(); ++j) shapes.col(j) = in.surfaceShapes.col(g.modes[j]);
    TransferSettings highFrequencySettings = in.settings;
    highFrequencySettings.tolerance = in.settings.highFrequencyTolerance;
    const std::vector<HighFrequencyTransfer> fits =
        computeHighFrequencyTransfers(in.fine, *in.samples, shapes, omega, highFrequencySettings);
    for (size_t j = 0; j < g.modes.size(); ++j) {
        out[j].file = {fits[j].transfer.sources, fits[j].transfer.waveNumber};
        out[j].summary = summarise(fits[j].transfer, 'C', 0, in.settings.highFrequencyTolerance);
    }
    if (g.checked) checkHighFrequencyGroup(in, g, omega, fits, out);
    return out;
}

// One group's unit, by its tier; every mode's summary carries the unit's time.
std::vector<UnitMode> runGroup(const GroupInputs& in, const TransferGroupPlan& g) {
    const auto start = std::chrono::steady_clock::now();
    const double omega = 2 * kPi * g.frequency;
    std::vector<UnitMode> out = g.tier == TransferTier::highFrequency
                                    ? runHighFrequencyGroup(in, g, omega)
                                    : runBoundaryElementGroup(in, g, omega);
    const double seconds = secondsSince(start);
    for (UnitMode& m : out) m.summary.seconds = seconds;
    return out;
}

// A unit as its failure names it: the recipe, the modes (1-based), the frequency and the tier.
std::string describeModes(const Recipe& recipe, const std::vector<int>& modes) {
    std::ostringstream text;
    text << recipe.path << ": the acoustic transfer of mode" << (modes.size() > 1 ? "s " : " ");
    for (size_t j = 0; j < modes.size(); ++j) text << (j ? ", " : "") << modes[j] + 1;
    return text.str();
}

std::string describeGroup(const Recipe& recipe, const TransferGroupPlan& g) {
    return describeModes(recipe, g.modes) + " (" + std::to_string(std::lround(g.frequency)) +
           " Hz, tier " + static_cast<char>(g.tier) + ")";
}

std::string describeChord(const Recipe& recipe, const WaveChordUnit& c,
                          const Eigen::VectorXd& frequencies) {
    return describeModes(recipe, c.modes) + " (" +
           std::to_string(std::lround(frequencies(c.modes.front()))) + " to " +
           std::to_string(std::lround(frequencies(c.modes.back()))) + " Hz, a chord of tier W)";
}

// The units the workers run: the plan's groups but tier W's, then the wave tier's chords (which
// hold tier W's modes).
struct SceneUnits {
    const TransferPlan& plan;
    std::vector<int> groups;  // indices into plan.groups
    std::vector<WaveChordUnit> chords;

    SceneUnits(const TransferPlan& p, std::vector<WaveChordUnit> waveChords)
        : plan(p), chords(std::move(waveChords)) {
        for (size_t g = 0; g < plan.groups.size(); ++g)
            if (plan.groups[g].tier != TransferTier::wave) groups.push_back(int(g));
    }
    int count() const { return int(groups.size() + chords.size()); }
    bool isChord(int unit) const { return unit >= int(groups.size()); }
    const WaveChordUnit& chord(int unit) const { return chords[size_t(unit) - groups.size()]; }
    const TransferGroupPlan& group(int unit) const {
        return plan.groups[size_t(groups[size_t(unit)])];
    }
    double cost(int unit) const { return isChord(unit) ? chord(unit).cost : group(unit).cost; }
};

// A chord's modes into the scene: the stored modes' files and summaries, the other roles' fields
// kept for the comparisons.
void absorbChord(const WaveChordUnit& unit, const WaveChordResult& result,
                 const Eigen::VectorXd& frequencies, double tolerance, SceneTransfer& scene,
                 std::vector<ModeTransfer>& overlapFits, std::vector<ModeTransfer>& finerFits,
                 std::vector<Eigen::VectorXcd>& waveSamples,
                 std::vector<Eigen::VectorXcd>& finerSamples) {
    const int chord = int(scene.chords.size());
    scene.chords.push_back({unit.role, result.statistics, result.fitSeconds});
    for (size_t j = 0; j < unit.modes.size(); ++j) {
        const int mode = unit.modes[j];
        const ModeTransfer& fit = result.fits[j];
        if (unit.role == ChordRole::overlap) {
            overlapFits[size_t(mode)] = fit;
            waveSamples[size_t(mode)] = result.heldOutSamples[j];
        } else if (unit.role == ChordRole::finer) {
            finerFits[size_t(mode)] = fit;
            finerSamples[size_t(mode)] = result.heldOutSamples[j];
        } else {
            waveSamples[size_t(mode)] = result.heldOutSamples[j];
            scene.files[size_t(mode)] = {fit.sources, fit.waveNumber};
            ModeTransferSummary& s = scene.summaries[size_t(mode)];
            s = summarise(fit, 'W', 0, tolerance);
            s.chord = chord;
            s.seconds = result.statistics.seconds + result.fitSeconds;
            s.frequency = frequencies(mode);
            s.fitFrequency = frequencies(mode);
        }
    }
}

// The wave tier's checks: each mode solved twice (by tier A and the wave tier, or by the wave
// tier on two grids) compared on a sphere twice the object's half-diagonal about its centre,
// as many points as the field's harmonics need.
void compareWaveTier(const SurfaceMesh& fine, const TransferSettings& settings,
                     const std::vector<ModeTransfer>& overlapFits,
                     const std::vector<ModeTransfer>& finerFits,
                     const std::vector<Eigen::VectorXcd>& waveSamples,
                     const std::vector<Eigen::VectorXcd>& finerSamples,
                     const std::vector<Eigen::VectorXcd>& boundaryElementSamples,
                     SceneTransfer& scene) {
    Eigen::Vector3d lower, upper;
    boundingBox(fine, lower, upper);
    const Eigen::Vector3d centre = 0.5 * (lower + upper);
    scene.comparisonRadius = (upper - lower).norm();
    for (size_t mode = 0; mode < scene.files.size(); ++mode) {
        const TransferFileMode& stored = scene.files[mode];
        const double k = stored.waveNumber;
        const double degree = k * 0.5 * (upper - lower).norm() + 4;
        const int count = std::clamp(int(2 * degree * degree), 500, 6000);
        ModeTransferSummary& s = scene.summaries[mode];
        if (overlapFits[mode].sources.cols() > 0) {
            const RadiationComparison c =
                compareStoredFields(overlapFits[mode].sources, overlapFits[mode].waveNumber,
                                    stored.sources, k, centre, scene.comparisonRadius, count);
            s.overlapChecked = true;
            s.overlapPower_dB = c.powerErrorDb;
            s.overlapPoint_dB = c.pointwiseDirectivityDb;
            const RadiationComparison sampled = compareSamplesWithStoredField(
                fine, s.frequency, settings, waveSamples[mode], stored.sources, k);
            s.overlapSampledPower_dB = sampled.powerErrorDb;
            s.overlapSampledPoint_dB = sampled.pointwiseDirectivityDb;
            const Eigen::VectorXcd& reference = boundaryElementSamples[mode];
            if (reference.size() > 0 && reference.size() == waveSamples[mode].size()) {
                const RadiationComparison unfitted =
                    compareSampledFields(fine, s.frequency, settings, waveSamples[mode], reference);
                s.overlapUnfittedChecked = true;
                s.overlapUnfittedPower_dB = unfitted.powerErrorDb;
                s.overlapUnfittedPoint_dB = unfitted.pointwiseDirectivityDb;
            }
        }
        if (finerFits[mode].sources.cols() > 0) {
            const RadiationComparison c = compareStoredFields(
                stored.sources, k, finerFits[mode].sources, finerFits[mode].waveNumber, centre,
                scene.comparisonRadius, count);
            s.convergenceChecked = true;
            s.convergencePower_dB = c.powerErrorDb;
            s.convergencePoint_dB = c.pointwiseDirectivityDb;
            const RadiationComparison sampled = compareSampledFields(
                fine, s.frequency, settings, waveSamples[mode], finerSamples[mode]);
            s.sampledPower_dB = sampled.powerErrorDb;
            s.sampledPoint_dB = sampled.pointwiseDirectivityDb;
        }
    }
}

}  // namespace

SceneTransfer computeSceneTransfer(const Recipe& recipe, const SurfaceMesh& fine,
                                   const Eigen::MatrixXd& surfaceShapes,
                                   const Eigen::VectorXd& frequencies, const WorkerOptions& workers,
                                   const TransferProgress& progress) {
    const auto preparationStart = std::chrono::steady_clock::now();
    Eigen::Vector3d lower, upper;
    boundingBox(fine, lower, upper);
    SceneTransfer scene;
    scene.objectSize = (upper - lower).maxCoeff();
    const TransferPlan plan =
        planSceneTransfer(frequencies, surfaceArea(fine), scene.objectSize,
                          static_cast<int>(fine.triangles.size()), recipe.transfer, recipe.path);
    scene.plan = describeTransferPlan(plan);
    scene.groupCount = static_cast<int>(
        std::count_if(plan.groups.begin(), plan.groups.end(),
                      [](const TransferGroupPlan& g) { return g.tier != TransferTier::wave; }));

    const int modeCount = static_cast<int>(frequencies.size());
    GroupInputs inputs{recipe.transfer, fine, surfaceShapes, {}, {}, BemOptions{}, frequencies, {}};
    inputs.meshes = prepareAcousticMeshes(recipe, fine, surfaceShapes, plan, modeCount, inputs.bem);
    if (std::any_of(plan.groups.begin(), plan.groups.end(), [](const TransferGroupPlan& g) {
            return g.tier == TransferTier::highFrequency;
        }))
        inputs.samples = std::make_unique<HighFrequencySamples>(makeHighFrequencySamples(fine, 0));
    inputs.bem.threadCount = 1;

    const SceneUnits units(plan, planWaveChords(plan, frequencies, fine, recipe.transfer));
    inputs.waveOverlap.assign(size_t(modeCount), 0);
    for (const WaveChordUnit& chord : units.chords)
        if (chord.role == ChordRole::overlap)
            for (int mode : chord.modes) inputs.waveOverlap[size_t(mode)] = 1;
    scene.preparationSeconds = secondsSince(preparationStart);

    // The most expensive units first, so that no long one starts last.
    std::vector<int> order(size_t(units.count()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return units.cost(a) > units.cost(b); });
    double totalCost = 0;
    for (int u = 0; u < units.count(); ++u) totalCost += units.cost(u);

    scene.files.resize(modeCount);
    scene.summaries.resize(modeCount);
    std::vector<ModeTransfer> overlapFits(static_cast<size_t>(modeCount));
    std::vector<ModeTransfer> finerFits(static_cast<size_t>(modeCount));
    // The wave tier's samples at the held-out points of each mode it ran on its own grid (a mode
    // it stores, or a tier A mode of the overlap).
    std::vector<Eigen::VectorXcd> waveSamples(static_cast<size_t>(modeCount));
    std::vector<Eigen::VectorXcd> finerSamples(static_cast<size_t>(modeCount));
    // Tier A's boundary element field at the same points, for the modes of the overlap.
    std::vector<Eigen::VectorXcd> boundaryElementSamples(static_cast<size_t>(modeCount));
    int done = 0;
    double doneCost = 0;
    const auto unitsStart = std::chrono::steady_clock::now();
    auto absorb = [&](int u, const std::string& bytes) {
        const int unit = order[size_t(u)];
        if (units.isChord(unit)) {
            const WaveChordUnit& chord = units.chord(unit);
            const WaveChordResult result = unpackWaveChordResult(bytes);
            absorbChord(chord, result, frequencies, recipe.transfer.tolerance, scene, overlapFits,
                        finerFits, waveSamples, finerSamples);
            scene.unitSeconds += result.statistics.seconds + result.fitSeconds;
            if (chord.role == ChordRole::transfer) done += int(chord.modes.size());
        } else {
            const TransferGroupPlan& g = units.group(unit);
            const std::vector<UnitMode> modes = unpackUnit(bytes);
            for (size_t j = 0; j < g.modes.size(); ++j) {
                const int mode = g.modes[j];
                scene.files[mode] = modes[j].file;
                scene.summaries[mode] = modes[j].summary;
                scene.summaries[mode].frequency = frequencies(mode);
                scene.summaries[mode].fitFrequency = g.frequency;
                boundaryElementSamples[size_t(mode)] = modes[j].waveCheckSamples;
            }
            scene.unitSeconds += modes.empty() ? 0 : modes.front().summary.seconds;
            done += static_cast<int>(g.modes.size());
        }
        doneCost += units.cost(unit);
        // The time left, by the estimated costs, scaled by how long the done ones took.
        const double left =
            secondsSince(unitsStart) * (totalCost - doneCost) / std::max(doneCost, 1e-9);
        if (progress) progress(done, modeCount, left);
    };
    runInWorkerProcesses(
        units.count(),
        [&](int u) {
            const int unit = order[size_t(u)];
            if (!units.isChord(unit)) return packUnit(runGroup(inputs, units.group(unit)));
            return packWaveChordResult(
                runWaveChord(units.chord(unit), fine, surfaceShapes, frequencies, recipe.transfer));
        },
        absorb,
        [&](int u) {
            const int unit = order[size_t(u)];
            return units.isChord(unit) ? describeChord(recipe, units.chord(unit), frequencies)
                                       : describeGroup(recipe, units.group(unit));
        },
        workers);
    compareWaveTier(fine, recipe.transfer, overlapFits, finerFits, waveSamples, finerSamples,
                    boundaryElementSamples, scene);
    return scene;
}
