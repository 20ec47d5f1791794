// The wave tier's chords of a scene: planned, run, fitted and compared (see scene_wave_chords.h).
#include "tools/bake/transfer/scene_wave_chords.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <set>

#include "tools/bake/common/physical_constants.h"
#include "tools/bake/parallel/byte_packing.h"
#include "tools/bake/transfer/multipole/multipole_basis.h"
#include "tools/bake/transfer/wave/wave_grid.h"

namespace {

// Seconds of one core per cell update of the solver, and per sample point and step of the
// probes and the sinusoid fit, measured on the development machine (tonwell_wave_bench): the
// chords' order and the time left are estimated from them.
constexpr double kSecondsPerCellUpdate = 2.5e-9;
constexpr double kSecondsPerProbeStep = 5e-8;

// The wave tier's bounds on the fit's growth with k R (TransferSettings::maxFitPoints).
constexpr int kWaveMaxFitPoints = 2400;
constexpr int kWaveMaxCandidatesPerAxis = 8;
// At most this many candidate positions on the surface (surfaceCandidates).
constexpr int kMaxSurfaceCandidates = 1000;
// Each refit starts the greedy fit again; at the wave tier's sizes one costs as much as the run.
constexpr int kWaveMaxRefits = 1;
// Sources per greedy step: half the fit's time at the chair's top (tonwell_fit_bench), with as
// many sources and the same errors.
constexpr int kWaveFitBlocksPerStep = 8;

// The wave tier's settings from the recipe's: its grid, one thread per run.
WaveSettings waveSettingsFor(const TransferSettings& settings) {
    WaveSettings wave;
    wave.cellsPerWavelength = settings.waveCellsPerWavelength;
    wave.spatialOrder = settings.waveSpatialOrder;
    wave.cutCells = settings.waveCutCells;
    wave.threads = 1;
    return wave;
}

// The fit's settings for the wave tier: the recipe's, with the held-out surface closer in
// (TransferSettings::waveHeldOutMargin), the fit's growth with k R bounded, one refit at most and
// several sources per greedy step.
TransferSettings waveFitSettings(const TransferSettings& settings) {
    TransferSettings fit = settings;
    fit.heldOutMargin = settings.waveHeldOutMargin;
    fit.maxFitPoints = kWaveMaxFitPoints;
    fit.maxCandidatesPerAxis = kWaveMaxCandidatesPerAxis;
    fit.maxRefits = kWaveMaxRefits;
    fit.fitBlocksPerStep = kWaveFitBlocksPerStep;
    return fit;
}

// The object's bounding box.
struct ObjectBox {
    Eigen::Vector3d lower, upper;
    double halfDiagonal() const { return 0.5 * (upper - lower).norm(); }
};

ObjectBox objectBox(const SurfaceMesh& fine) {
    ObjectBox box;
    boundingBox(fine, box.lower, box.upper);
    return box;
}

double waveNumberOf(double frequency) { return 2 * kPi * frequency / kSpeedOfSound_ms; }

// Tier A's modes within `octaves` below its highest frequency.
std::vector<int> overlapModes(const TransferPlan& plan, const Eigen::VectorXd& frequencies,
                              double octaves) {
    double top = 0;
    for (const TransferGroupPlan& g : plan.groups)
        if (g.tier == TransferTier::dense) top = std::max(top, g.frequency);
    std::vector<int> modes;
    if (octaves <= 0 || top <= 0) return modes;
    for (const TransferGroupPlan& g : plan.groups)
        if (g.tier == TransferTier::dense)
            for (int m : g.modes)
                if (frequencies(m) >= top / std::exp2(octaves)) modes.push_back(m);
    return modes;
}

// Up to `count` of the wave tier's highest modes, each at least five times the chords' separation
// from the others, so that they share one short run (its window is 1 / the smallest gap): the run
// on the finer grid is the costliest of the bake.
std::vector<int> finerModes(const std::vector<int>& waveModes, const Eigen::VectorXd& frequencies,
                            int count, double separation) {
    std::vector<int> modes;
    for (auto m = waveModes.rbegin(); m != waveModes.rend() && int(modes.size()) < count; ++m) {
        const bool apart = std::all_of(modes.begin(), modes.end(), [&](int other) {
            return std::abs(frequencies(other) - frequencies(*m)) >= 5 * separation;
        });
        if (apart) modes.push_back(*m);
    }
    std::sort(modes.begin(), modes.end());
    return modes;
}

// Candidate source positions on the object's surface: one vertex of `surface` per cube of side
// half a wavelength, the cubes grown until at most kMaxSurfaceCandidates remain. A grid filling
// the bounding box puts most of its candidates in the air between a chair's legs and slats, a
// wavelength or more from what radiates; the field of an extended object many wavelengths across
// is pinned down by sources where its surface is.
std::vector<Eigen::Vector3d> surfaceCandidates(const SurfaceMesh& surface, double frequency) {
    double side = 0.5 * kSpeedOfSound_ms / frequency;
    for (;;) {
        std::set<std::array<int64_t, 3>> taken;
        std::vector<Eigen::Vector3d> candidates;
        for (const Eigen::Vector3d& x : surface.positions) {
            const std::array<int64_t, 3> cube = {int64_t(std::floor(x.x() / side)),
                                                 int64_t(std::floor(x.y() / side)),
                                                 int64_t(std::floor(x.z() / side))};
            if (taken.insert(cube).second) candidates.push_back(x);
        }
        if (int(candidates.size()) <= kMaxSurfaceCandidates) return candidates;
        side *= 1.2;
    }
}

// The sample points of one mode's fit (the fit surface's, then the held-out surface's) and its
// candidate source positions: the bounding box's grid and the surface's.
FieldSamples samplesFor(const SurfaceMesh& surface, const ObjectBox& box, double frequency,
                        const TransferSettings& fit) {
    FieldSamples samples = fieldSamplesFor(box.lower, box.upper, waveNumberOf(frequency), fit);
    const std::vector<Eigen::Vector3d> onSurface = surfaceCandidates(surface, frequency);
    samples.candidates.insert(samples.candidates.end(), onSurface.begin(), onSurface.end());
    return samples;
}

// The box a chord's grid covers: the object's grown by the held-out surface's margin.
void chordBox(const ObjectBox& box, const TransferSettings& fit, Eigen::Vector3d& boxMin,
              Eigen::Vector3d& boxMax) {
    const double margin = fit.heldOutMargin * box.halfDiagonal();
    boxMin = box.lower - Eigen::Vector3d::Constant(margin);
    boxMax = box.upper + Eigen::Vector3d::Constant(margin);
}

// The chords of `modes` (scene indices) for one role, costed.
void addChords(ChordRole role, const std::vector<int>& modes, const Eigen::VectorXd& frequencies,
               const ObjectBox& box, const WaveSettings& wave, const TransferSettings& fit,
               std::vector<WaveChordUnit>& units) {
    if (modes.empty()) return;
    Eigen::Vector3d boxMin, boxMax;
    chordBox(box, fit, boxMin, boxMax);
    const double longestSide = (box.upper - box.lower).maxCoeff();
    std::vector<double> hz;
    for (int m : modes) hz.push_back(frequencies(m));
    for (const Chord& chord : planChords(hz, boxMin, boxMax, longestSide, wave)) {
        WaveChordUnit unit;
        unit.role = role;
        unit.settings = wave;
        std::vector<double> chordHz;
        double points = 0;
        for (int j : chord.modes) {
            unit.modes.push_back(modes[size_t(j)]);
            chordHz.push_back(hz[size_t(j)]);
            const FitSizes sizes =
                fitSizesFor(fit, waveNumberOf(hz[size_t(j)]), box.halfDiagonal(), longestSide);
            points += sizes.fitPoints + sizes.heldOutPoints;
        }
        const WaveGrid grid =
            makeWaveGrid(boxMin, boxMax, gridFrequency(chordHz, longestSide, wave), wave);
        const double steps =
            std::ceil(chordTiming(chordHz, (boxMax - boxMin).norm(), wave).end() / grid.dt);
        unit.cost = double(grid.cellCount()) * steps * kSecondsPerCellUpdate +
                    points * steps * kSecondsPerProbeStep;
        units.push_back(unit);
    }
}

}  // namespace

std::vector<WaveChordUnit> planWaveChords(const TransferPlan& plan,
                                          const Eigen::VectorXd& frequencies,
                                          const SurfaceMesh& fine,
                                          const TransferSettings& settings) {
    std::vector<int> waveModes;
    for (const TransferGroupPlan& g : plan.groups)
        if (g.tier == TransferTier::wave)
            waveModes.insert(waveModes.end(), g.modes.begin(), g.modes.end());
    std::vector<WaveChordUnit> units;
    if (!settings.waveTier) return units;
    const ObjectBox box = objectBox(fine);
    const WaveSettings wave = waveSettingsFor(settings);
    const TransferSettings fit = waveFitSettings(settings);
    addChords(ChordRole::transfer, waveModes, frequencies, box, wave, fit, units);
    // The overlap runs on the cells of the stored chord whose cells are largest: what it
    // measures is the wave tier as it solves the modes it stores, at its coarsest. (On its own
    // band's grid at ten cells per wavelength the chair's 3 cm seat is 2.3 cells thick at
    // 1.5-2.7 kHz, and the power differs from tier A's by up to 2.6 dB; on the stored modes' 6 mm
    // cells within 0.74 dB.) The bell's lowest stored chords run on cells twice the size of its
    // highest: the overlap on the finest cells measured a grid the lower band never sees, at
    // sixteen times the cost.
    WaveSettings overlap = wave;
    const double longestSide = (box.upper - box.lower).maxCoeff();
    double coarsestCell = 0.0;
    for (const WaveChordUnit& unit : units) {
        std::vector<double> hz;
        for (int m : unit.modes) hz.push_back(frequencies(m));
        const double h =
            kSpeedOfSound_ms / (gridFrequency(hz, longestSide, wave) * wave.cellsPerWavelength);
        coarsestCell = std::max(coarsestCell, h);
    }
    if (coarsestCell > 0.0) {
        overlap.minCellsAcross =
            std::max(overlap.minCellsAcross, int(std::ceil(longestSide / coarsestCell - 1e-9)));
    }
    addChords(ChordRole::overlap, overlapModes(plan, frequencies, settings.waveOverlapOctaves),
              frequencies, box, overlap, fit, units);
    WaveSettings finer = wave;
    finer.cellsPerWavelength *= std::sqrt(2.0);
    addChords(
        ChordRole::finer,
        finerModes(waveModes, frequencies, settings.waveConvergenceModes, wave.minSeparation_Hz),
        frequencies, box, finer, fit, units);
    return units;
}

double largestWaveRunBytes(const SurfaceMesh& fine, double topFrequency_Hz,
                           const TransferSettings& settings) {
    const ObjectBox box = objectBox(fine);
    WaveSettings wave = waveSettingsFor(settings);
    if (settings.waveConvergenceModes > 0) wave.cellsPerWavelength *= std::sqrt(2.0);
    Eigen::Vector3d boxMin, boxMax;
    chordBox(box, waveFitSettings(settings), boxMin, boxMax);
    const double longestSide = (box.upper - box.lower).maxCoeff();
    const WaveGrid grid =
        makeWaveGrid(boxMin, boxMax, gridFrequency({topFrequency_Hz}, longestSide, wave), wave);
    // Six float fields and the solid flags per cell (and the open flags at fourth order); the
    // absorbing layer's three split parts per layer cell.
    const double cells = double(grid.cellCount());
    double interior = 1;
    for (int axis = 0; axis < 3; ++axis)
        interior *= double(grid.interiorEnd(axis) - grid.interiorBegin());
    return cells * (25 + (wave.spatialOrder == 4 ? 1 : 0)) + 12 * (cells - interior);
}

WaveChordResult runWaveChord(const WaveChordUnit& unit, const SurfaceMesh& fine,
                             const Eigen::MatrixXd& surfaceShapes,
                             const Eigen::VectorXd& frequencies, const TransferSettings& settings) {
    const ObjectBox box = objectBox(fine);
    const TransferSettings fit = waveFitSettings(settings);
    std::vector<FieldSamples> samples;
    std::vector<Eigen::Vector3d> points;
    Eigen::MatrixXd shapes(surfaceShapes.rows(), Eigen::Index(unit.modes.size()));
    std::vector<double> omegas;
    for (size_t j = 0; j < unit.modes.size(); ++j) {
        const double f = frequencies(unit.modes[j]);
        samples.push_back(samplesFor(fine, box, f, fit));
        points.insert(points.end(), samples.back().fitPoints.begin(),
                      samples.back().fitPoints.end());
        points.insert(points.end(), samples.back().heldOutPoints.begin(),
                      samples.back().heldOutPoints.end());
        shapes.col(Eigen::Index(j)) = surfaceShapes.col(unit.modes[j]);
        omegas.push_back(2 * kPi * f);
    }
    WaveChordResult result;
    const Eigen::MatrixXcd pressure =
        runChord(fine, shapes, omegas, points, unit.settings, &result.statistics);
    result.statistics.modes = unit.modes;
    Eigen::Index row = 0;
    for (size_t j = 0; j < unit.modes.size(); ++j) {
        const FieldSamples& s = samples[j];
        const auto fitRows = Eigen::Index(s.fitPoints.size());
        const auto heldOutRows = Eigen::Index(s.heldOutPoints.size());
        const Eigen::MatrixXcd fitPressure = pressure.block(row, Eigen::Index(j), fitRows, 1);
        const Eigen::MatrixXcd heldOutPressure =
            pressure.block(row + fitRows, Eigen::Index(j), heldOutRows, 1);
        result.heldOutSamples.push_back(heldOutPressure.col(0));
        row += fitRows + heldOutRows;
        result.fits.push_back(fitSampledFields(s, fitPressure, heldOutPressure, omegas[j],
                                               waveNumberOf(frequencies(unit.modes[j])), fit)
                                  .front());
        result.fitSeconds += result.fits.back().fitSeconds;
    }
    return result;
}

std::string packWaveChordResult(const WaveChordResult& result) {
    ByteWriter out;
    const ChordStatistics& s = result.statistics;
    out.putInt(int64_t(s.modes.size()));
    for (int m : s.modes) out.putInt(m);
    for (int n : s.gridCells) out.putInt(n);
    out.putDouble(s.h);
    out.putDouble(s.dt);
    out.putInt(s.steps);
    out.putInt(s.windowSteps);
    out.putInt(s.boundaryFaces);
    out.putInt(s.linearProbes);
    out.putDouble(s.conditionNumber);
    for (double r : s.residuals) out.putDouble(r);
    out.putDouble(s.maxPointResidual);
    out.putDouble(s.seconds);
    out.putDouble(s.solverSeconds);
    out.putDouble(s.cellUpdatesPerSecond);
    out.putDouble(result.fitSeconds);
    for (const ModeTransfer& t : result.fits) {
        out.putMatrix(Eigen::MatrixXd(t.sources));
        out.putDouble(t.omega);
        out.putDouble(t.waveNumber);
        out.putDouble(t.fitError);
        out.putDouble(t.heldOutError);
        out.putInt(t.reachedCap);
        out.putInt(t.aboveTolerance);
        out.putDouble(t.fitSeconds);
    }
    for (const Eigen::VectorXcd& samples : result.heldOutSamples) {
        Eigen::MatrixXd parts(samples.size(), 2);
        parts << samples.real(), samples.imag();
        out.putMatrix(parts);
    }
    return out.take();
}

WaveChordResult unpackWaveChordResult(const std::string& bytes) {
    ByteReader in(bytes);
    WaveChordResult result;
    ChordStatistics& s = result.statistics;
    s.modes.resize(size_t(in.getInt()));
    for (int& m : s.modes) m = int(in.getInt());
    for (int& n : s.gridCells) n = int(in.getInt());
    s.h = in.getDouble();
    s.dt = in.getDouble();
    s.steps = in.getInt();
    s.windowSteps = in.getInt();
    s.boundaryFaces = int(in.getInt());
    s.linearProbes = int(in.getInt());
    s.conditionNumber = in.getDouble();
    s.residuals.resize(s.modes.size());
    for (double& r : s.residuals) r = in.getDouble();
    s.maxPointResidual = in.getDouble();
    s.seconds = in.getDouble();
    s.solverSeconds = in.getDouble();
    s.cellUpdatesPerSecond = in.getDouble();
    result.fitSeconds = in.getDouble();
    result.fits.resize(s.modes.size());
    for (ModeTransfer& t : result.fits) {
        t.sources = in.getMatrix();
        t.omega = in.getDouble();
        t.waveNumber = in.getDouble();
        t.fitError = in.getDouble();
        t.heldOutError = in.getDouble();
        t.reachedCap = in.getInt() != 0;
        t.aboveTolerance = in.getInt() != 0;
        t.fitSeconds = in.getDouble();
    }
    for (size_t j = 0; j < s.modes.size(); ++j) {
        const Eigen::MatrixXd parts = in.getMatrix();
        result.heldOutSamples.push_back(parts.col(0) + std::complex<double>(0, 1) * parts.col(1));
    }
    return result;
}

std::vector<Eigen::Vector3d> waveHeldOutPoints(const SurfaceMesh& fine, double frequency,
                                               const TransferSettings& settings) {
    const ObjectBox box = objectBox(fine);
    return fieldSamplesFor(box.lower, box.upper, waveNumberOf(frequency), waveFitSettings(settings))
        .heldOutPoints;
}

RadiationComparison compareSampledFields(const SurfaceMesh& fine, double frequency,
                                         const TransferSettings& settings,
                                         const Eigen::VectorXcd& model,
                                         const Eigen::VectorXcd& reference) {
    const ObjectBox box = objectBox(fine);
    const FieldSamples samples = samplesFor(fine, box, frequency, waveFitSettings(settings));
    return compareRadiation(samples.heldOutPoints, 0.5 * (box.lower + box.upper), model, reference);
}

RadiationComparison compareSamplesWithStoredField(const SurfaceMesh& fine, double frequency,
                                                  const TransferSettings& settings,
                                                  const Eigen::VectorXcd& samples,
                                                  const MultipoleSources& stored, double storedK) {
    const ObjectBox box = objectBox(fine);
    const FieldSamples points = samplesFor(fine, box, frequency, waveFitSettings(settings));
    Eigen::VectorXcd reference(Eigen::Index(points.heldOutPoints.size()));
    for (Eigen::Index i = 0; i < reference.size(); ++i)
        reference[i] = evaluateMultipoles(stored, storedK, points.heldOutPoints[size_t(i)]);
    return compareRadiation(points.heldOutPoints, 0.5 * (box.lower + box.upper), samples,
                            reference);
}

RadiationComparison compareStoredFields(const MultipoleSources& model, double modelK,
                                        const MultipoleSources& reference, double referenceK,
                                        const Eigen::Vector3d& centre, double radius, int count) {
    const std::vector<Eigen::Vector3d> points = fibonacciSphere(count, radius, centre);
    Eigen::VectorXcd a(count), b(count);
    for (int i = 0; i < count; ++i) {
        a[i] = evaluateMultipoles(model, modelK, points[size_t(i)]);
        b[i] = evaluateMultipoles(reference, referenceK, points[size_t(i)]);
    }
    return compareRadiation(points, centre, a, b);
}
