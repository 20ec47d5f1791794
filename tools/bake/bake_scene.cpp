// The baking pipeline (see bake_scene.h).
#include "tools/bake/bake_scene.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "tools/bake/common/bake_error.h"
#include "tools/bake/common/physical_constants.h"
#include "tools/bake/modes/assemble_mass.h"
#include "tools/bake/modes/assemble_stiffness.h"
#include "tools/bake/modes/solve_modes.h"
#include "tools/bake/output/bake_report.h"
#include "tools/bake/output/bell_fixtures.h"
#include "tools/bake/output/loudness_calibration.h"
#include "tools/bake/output/object_presets.h"
#include "tools/bake/output/scene_files.h"
#include "tools/bake/parallel/byte_packing.h"
#include "tools/bake/parallel/interrupt_cleanup.h"
#include "tools/bake/parallel/mpi_ranks.h"
#include "tools/bake/parallel/worker_processes.h"
#include "tools/bake/surface/chair_shape.h"
#include "tools/bake/surface/mesh_import.h"
#include "tools/bake/surface/tet_mesh.h"
#include "tools/bake/surface/wrap_surface.h"
#include "tools/bake/transfer/acoustic_surface.h"
#include "tools/bake/transfer/bem/bem_solve.h"
#include "tools/bake/transfer/bem/bem_surface.h"
#include "tools/bake/transfer/multipole/transfer_files.h"
#include "tools/bake/transfer/scene_wave_chords.h"
#include "tools/bake/transfer/transfer_plan.h"
#include "tools/bake/transfer/transfer_stage.h"

namespace fs = std::filesystem;

namespace {

uint64_t fnv1a(const std::string& bytes, uint64_t hash = 1469598103934665603ull) {
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

std::string hex(uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

// Prints one progress line per stage and keeps the stage times for the report.
class Progress {
  public:
    Progress(bool quiet, BakeReport& report) : quiet_(quiet), report_(report) {}

    void begin(const char* stage) {
        stage_ = stage;
        start_ = lastLine_ = std::chrono::steady_clock::now();
        if (!quiet_) {
            std::printf("  %-12s ... ", stage);
            std::fflush(stdout);
            lineOpen_ = true;
        }
    }

    // A running count inside a long stage, with the time left when known (negative: unknown):
    // on the same line where the output is a terminal, else a line every half minute.
    void update(int done, int total, double secondsLeft = -1) {
        if (quiet_) return;
        char left[64] = "";
        if (secondsLeft >= 0 && done < total) {
            if (secondsLeft < 90)
                std::snprintf(left, sizeof left, ", about %.0f s left", std::ceil(secondsLeft));
            else
                std::snprintf(left, sizeof left, ", about %.0f min left",
                              std::ceil(secondsLeft / 60));
        }
        if (isatty(fileno(stdout))) {
            std::printf("\r\033[K  %-12s ... %d/%d%s", stage_.c_str(), done, total, left);
        } else {
            const auto now = std::chrono::steady_clock::now();
            if (std::chrono::duration<double>(now - lastLine_).count() < 30 || done == total)
                return;
            lastLine_ = now;
            std::printf("%s  %-12s ... %d/%d%s\n", lineOpen_ ? "\n" : "", stage_.c_str(), done,
                        total, left);
            lineOpen_ = false;
        }
        std::fflush(stdout);
    }

    void end(const std::string& result) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        report_.stageSeconds.push_back({stage_, seconds});
        if (!quiet_) {
            if (isatty(fileno(stdout)))
                std::printf("\r\033[K  %-12s ... ", stage_.c_str());
            else if (!lineOpen_)
                std::printf("  %-12s ... ", stage_.c_str());
            std::printf("%s (%.2f s)\n", result.c_str(), seconds);
            lineOpen_ = false;
            std::fflush(stdout);
        }
    }

  private:
    bool quiet_;
    BakeReport& report_;
    std::string stage_;
    std::chrono::steady_clock::time_point start_, lastLine_;
    bool lineOpen_ = false;  // the stage's line is started and not ended
};

// Removes the temporary folder unless it was renamed into place.
struct TemporaryFolder {
    fs::path path;
    bool keep = false;
    ~TemporaryFolder() {
        setInterruptedFolder("");
        if (!keep && !path.empty()) {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    }
};

MtlMaterial objectMaterial(const Recipe& r) {
    return {r.materialName, r.ambient, r.diffuse, r.specular, r.shininess};
}

// The acoustic transfer stage: the transfer of every mode, with its report lines.
SceneTransfer bakeTransfer(const Recipe& recipe, const ModalSurface& modal,
                           const BakeOptions& options, Progress& progress, BakeReport& report) {
    progress.begin("transfer");
    WorkerOptions workers;
    workers.workerCount = options.workerCount;
    SceneTransfer transfer =
        computeSceneTransfer(recipe, modal.surface, modal.surfaceShapes, modal.frequencies, workers,
                             [&](int done, int total, double secondsLeft) {
                                 progress.update(done, total, secondsLeft);
                             });
    report.transfer = transfer.summaries;
    report.transferGroupCount = transfer.groupCount;
    report.transferPlan = transfer.plan;
    report.objectSize = transfer.objectSize;
    report.transferSettings = describeTransferSettings(recipe.transfer);
    report.transferTolerance = recipe.transfer.tolerance;
    report.preparationSeconds = transfer.preparationSeconds;
    report.unitSeconds = transfer.unitSeconds;
    report.chords = transfer.chords;
    report.comparisonRadius = transfer.comparisonRadius;
    int maxSources = 0, capped = 0, above = 0, totalSources = 0;
    std::map<char, int> tiers;
    for (const ModeTransferSummary& m : transfer.summaries) {
        maxSources = std::max(maxSources, m.sourceCount);
        totalSources += m.sourceCount;
        capped += m.reachedCap ? 1 : 0;
        above += m.aboveTolerance ? 1 : 0;
        tiers[m.tier] += 1;
    }
    char transferText[240];
    std::snprintf(transferText, sizeof transferText,
                  "%d modes (tier A %d, B %d, C %d, W %d) in %d groups and %zu chords, %.1f "
                  "sources per mode (max %d), %d at the cap, %d above the tolerance",
                  static_cast<int>(transfer.summaries.size()), tiers['A'], tiers['B'], tiers['C'],
                  tiers['W'], transfer.groupCount, transfer.chords.size(),
                  double(totalSources) / std::max<size_t>(1, transfer.summaries.size()), maxSources,
                  capped, above);
    progress.end(transferText);
    return transfer;
}

// Writes the scene's files into <folder>/<name>/ (the surface as OBJ/MTL, ".U", ".freq", the
// bell's fixtures) and, unless modes only, the transfer list beside it with its per-mode files.
// Returns the number of files written.
int writeSceneFiles(const Recipe& recipe, const ModalSurface& modal, const SceneTransfer& transfer,
                    const BakeOptions& options, const fs::path& folder) {
    const fs::path dir = folder / recipe.name;
    writeObj((dir / (recipe.name + ".obj")).string(),
             {ObjPart{recipe.name, recipe.materialName, modal.surface}}, recipe.name + ".mtl");
    writeMtl((dir / (recipe.name + ".mtl")).string(), {objectMaterial(recipe)});
    writeDenseMatrix((dir / (recipe.name + ".U")).string(), modal.surfaceShapes);
    writeDenseMatrix((dir / (recipe.name + ".freq")).string(), modal.frequencies);
    int fileCount = 4;
    if (recipe.shape == ShapeKind::bell && recipe.bellFixtures) {
        Eigen::Vector3d lower, upper;
        boundingBox(modal.surface, lower, upper);
        for (const BellFixture& fixture :
             makeBellFixtures(std::max(upper.x(), upper.z()), upper.y())) {
            writeObj((dir / (fixture.name + ".obj")).string(), {fixture.part},
                     fixture.name + ".mtl");
            writeMtl((dir / (fixture.name + ".mtl")).string(), {fixture.material});
            fileCount += 2;
        }
    }
    if (!options.modesOnly) {
        const int tolerancePercent =
            static_cast<int>(std::lround(recipe.transfer.tolerance * 100.0));
        writeSceneTransfer(folder.string(), recipe.name, tolerancePercent, transfer.files);
        fileCount += 1 + 2 * static_cast<int>(transfer.files.size());
    }
    return fileCount;
}

// Adds the report and the stamp to the baked folder `dir`, then puts it in the place of `output`
// in one step, so that `output` is either the previous bake or this one, whole.
void publishBake(const fs::path& dir, const fs::path& output, const BakeReport& report,
                 const std::string& stamp) {
    writeReportText((dir / "report.txt").string(), report);
    writeReportSvg((dir / "report.svg").string(), report);
    {
        std::ofstream stampFile(dir / kStampFileName);
        stampFile << stamp << "\n";
        if (!stampFile)
            throw BakeError((dir / kStampFileName).string() + ": cannot write the stamp");
    }
    std::error_code error;
    fs::remove_all(output, error);
    if (error)
        throw BakeError(output.string() + ": cannot remove the previous bake: " + error.message());
    fs::rename(dir, output, error);
    if (error)
        throw BakeError(output.string() +
                        ": cannot move the finished bake into place: " + error.message());
}

// Replaces `surfaceShapes` (3N x r) and `frequencies` (r) with rank 0's, so that every rank's
// transfer units start from the same modes to the last bit, even where ranks round differently
// (different processors). Collective; plain, it does nothing.
void shareModesFromRankZero(Eigen::MatrixXd& surfaceShapes, Eigen::VectorXd& frequencies) {
    if (rankCount() == 1) return;
    ByteWriter out;
    if (rankIndex() == 0) {
        out.putMatrix(surfaceShapes);
        out.putMatrix(Eigen::MatrixXd(frequencies));
    }
    const std::string bytes = broadcastFromRankZero(out.take());
    if (rankIndex() == 0) return;
    ByteReader in(bytes);
    surfaceShapes = in.getMatrix();
    frequencies = in.getMatrix().col(0);
}

}  // namespace

std::string executableIdentity(const std::string& path) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) return "";
    const long long nanoseconds =
        static_cast<long long>(status.st_mtim.tv_sec) * 1000000000LL + status.st_mtim.tv_nsec;
    return std::to_string(static_cast<long long>(status.st_size)) + "-" +
           std::to_string(nanoseconds);
}

std::string bakeStamp(const Recipe& recipe, const BakeOptions& options) {
    // A mesh source is part of the key by its size and time: an edited mesh is baked again.
    const std::string mesh =
        recipe.shape == ShapeKind::mesh ? " mesh " + executableIdentity(recipe.sourceMesh) : "";
    const std::string presets =
        isBuiltInScene(recipe.name) ? "" : std::string(" presets ") + kObjectPresetsFormat;
    return "recipe " + hex(fnv1a(recipe.text)) + " transfer " +
           hex(fnv1a(describeTransferSettings(recipe.transfer))) + mesh + presets + " baker " +
           options.bakerIdentity + (options.modesOnly ? " modes only" : "");
}

bool isUpToDate(const std::string& outputFolder, const std::string& stamp) {
    std::ifstream in(fs::path(outputFolder) / kStampFileName);
    std::string line;
    return in && std::getline(in, line) && line == stamp;
}

SurfaceMesh makeStruckSurface(const Recipe& recipe) {
    switch (recipe.shape) {
        case ShapeKind::bell:
            return makeBellSurface(recipe.bell);
        case ShapeKind::chair:
            return makeBoxUnionSurface(chairBoxes(), recipe.chairGrid, recipe.path);
        case ShapeKind::mesh:
            break;
    }
    SurfaceMesh soup = readTriangleSoup(recipe.sourceMesh);
    SurfaceMesh surface;
    if (recipe.wrapMesh) {
        surface = wrapSurface(soup, recipe.wrap, recipe.sourceMesh);
    } else {
        // Taken as it is: the mesh must already bound a solid (closedManifoldProblem also names
        // an inside-out surface and a degenerate triangle).
        const std::string& name = recipe.sourceMesh;
        std::string problem = closedManifoldProblem(soup);
        if (!problem.empty())
            throw BakeError(name + ": the mesh is not a closed manifold (\"shape.wrap\": false " +
                            "takes it as it is): " + problem);
        problem = selfIntersectionProblem(soup);
        if (!problem.empty()) throw BakeError(name + ": the mesh intersects itself: " + problem);
        surface = std::move(soup);
    }
    // Placement: scale the largest extent to the recipe's length, centre the bounding box.
    Eigen::Vector3d lower, upper;
    boundingBox(surface, lower, upper);
    const double scale =
        recipe.placementLength > 0.0 ? recipe.placementLength / (upper - lower).maxCoeff() : 1.0;
    const Eigen::Vector3d center = 0.5 * (lower + upper);
    for (auto& p : surface.positions) p = (p - center) * scale + recipe.placementCenter;
    return surface;
}

namespace {

// Makes `temporary` the empty folder <output's parent>/.<output>.baking-<pid>/<name> is baked into
// (laid out as the demo folder it will join, and moved to `output` at the end); an interrupted
// bake (Ctrl-C, or mpirun stopping the ranks) removes it too.
void prepareTemporaryFolder(const Recipe& recipe, const fs::path& output,
                            TemporaryFolder& temporary) {
    std::error_code error;
    fs::create_directories(output.parent_path(), error);
    temporary.path = output.parent_path() /
                     ("." + output.filename().string() + ".baking-" + std::to_string(getpid()));
    fs::remove_all(temporary.path, error);
    installInterruptCleanup();
    setInterruptedFolder(temporary.path.string());
    if (!fs::create_directory(temporary.path, error) ||
        !fs::create_directory(temporary.path / recipe.name, error))
        throw BakeError(temporary.path.string() + ": cannot create the folder to bake into");
}

// The struck object's closed surface, checked, and the report's figures of it. Refuses a volume
// bound that would fill the solid with more tetrahedra than the eigen solve can hold.
SurfaceMesh surfaceStage(const Recipe& recipe, Progress& progress, BakeReport& report) {
    progress.begin("surface");
    SurfaceMesh surface = makeStruckSurface(recipe);
    const std::string problem = closedManifoldProblem(surface);
    if (!problem.empty())
        throw BakeError(recipe.path + ": the surface is not a closed manifold: " + problem);
    report.surfaceVertexCount = static_cast<int>(surface.positions.size());
    report.surfaceTriangleCount = static_cast<int>(surface.triangles.size());
    report.volume = enclosedVolume(surface);
    // TetGen's volume bound alone puts at least volume / maxVolume tetrahedra in the solid.
    const double tetrahedra = report.volume / recipe.tetrahedra.maxVolume;
    if (tetrahedra > kMaxTetrahedra) {
        char text[256];
        std::snprintf(text, sizeof text,
                      ": \"tetrahedra.maxVolume\": %g m^3 fills the solid of %.3g m^3 with at "
                      "least %.3g tetrahedra, more than the %.0f the eigen solve can hold",
                      recipe.tetrahedra.maxVolume, report.volume, tetrahedra, kMaxTetrahedra);
        throw BakeError(recipe.path + text);
    }
    progress.end(std::to_string(report.surfaceVertexCount) + " vertices, " +
                 std::to_string(report.surfaceTriangleCount) + " triangles");
    return surface;
}

// Transfer settings the surface cannot carry are refused now, not after the eigen solve.
void refuseUnbakeableTransfer(const Recipe& recipe, const SurfaceMesh& surface,
                              const BakeOptions& options, const BakeReport& report) {
    Eigen::Vector3d lower, upper;
    boundingBox(surface, lower, upper);
    const double memory = double(sysconf(_SC_PHYS_PAGES)) * sysconf(_SC_PAGE_SIZE);
    WorkerOptions workers;
    workers.workerCount = options.workerCount;
    const int workerCount = workerCountFor(workers);
    checkTransferSettings(recipe.transfer, recipe.modes.maxFrequency, surfaceArea(surface),
                          (upper - lower).maxCoeff(), report.surfaceTriangleCount, memory,
                          workerCount, recipe.path);
    // The wave tier's largest grid, one per worker at a time.
    if (recipe.transfer.waveTier && recipe.modes.maxFrequency > 0) {
        const double bytes =
            largestWaveRunBytes(surface, recipe.modes.maxFrequency, recipe.transfer);
        if (bytes * workerCount > 0.8 * memory) {
            std::ostringstream message;
            message << recipe.path << ": \"transfer.wave.cellsPerWavelength\": "
                    << recipe.transfer.waveCellsPerWavelength << " cells per wavelength up to "
                    << std::lround(recipe.modes.maxFrequency) << " Hz need "
                    << std::lround(bytes * workerCount / 1e9) << " GB for the wave tier's grids of "
                    << workerCount << " workers, more than the " << std::lround(memory / 1e9)
                    << " GB this machine has";
            throw BakeError(message.str());
        }
    }
}

// Tetrahedra, stiffness and mass, and the modes below the band's top: the surface rows of the
// mass-normalised shapes and the frequencies, the same on every rank.
void modesStage(const Recipe& recipe, const BakeOptions& options, Progress& progress,
                BakeReport& report, ModalSurface& modal) {
    progress.begin("tetrahedra");
    const TetMesh tets = tetrahedralize(modal.surface, recipe.tetrahedra, recipe.path);
    report.nodeCount = static_cast<int>(tets.nodes.size());
    report.tetCount = static_cast<int>(tets.tets.size());
    report.quadratic = tets.quadratic();
    progress.end(std::to_string(report.nodeCount) + " nodes, " + std::to_string(report.tetCount) +
                 (report.quadratic ? " quadratic" : " linear") + " tetrahedra");

    progress.begin("assembly");
    const Eigen::SparseMatrix<double> stiffness = assembleStiffness(tets, recipe.material);
    const Eigen::SparseMatrix<double> mass = assembleMass(tets, recipe.material);
    report.mass = mass.sum() / 3.0;  // each axis carries the whole mass once
    progress.end(std::to_string(stiffness.rows()) + " degrees of freedom, mass " +
                 std::to_string(report.mass) + " kg");

    progress.begin("eigen solve");
    ModeSolveOptions modeOptions = recipe.modes;
    modeOptions.workerCount = options.workerCount;
    const ModalBasis basis = solveModes(stiffness, mass, tets.nodes, modeOptions, recipe.path);
    modal.frequencies = basis.frequencies;
    modal.surfaceShapes = basis.shapes.topRows(3 * tets.surfaceNodeCount);
    shareModesFromRankZero(modal.surfaceShapes, modal.frequencies);
    report.frequencies = basis.frequencies;
    report.largestRigidFrequency =
        std::sqrt(basis.rigidEigenvalues.cwiseAbs().maxCoeff()) / (2 * kPi);
    report.rigidResidual = basis.rigidResidual;
    report.iterations = basis.iterations;
    report.operations = basis.operations;
    report.factorisations = basis.factorisations;
    report.largestResidual = basis.largestResidual;
    char range[96];
    std::snprintf(range, sizeof range, "%d modes, %.1f Hz to %.1f Hz",
                  static_cast<int>(basis.frequencies.size()), basis.frequencies(0),
                  basis.frequencies(basis.frequencies.size() - 1));
    progress.end(range);
}

// The scene's files into the temporary folder: the scene files, the computed presets, and the
// recipe itself when it lives in the folder it bakes into (the command line's).
void writingStage(const Recipe& recipe, const ModalSurface& modal, const SceneTransfer& transfer,
                  const ObjectPresets* presets, const BakeOptions& options,
                  const fs::path& temporary, const fs::path& output, Progress& progress,
                  BakeReport& report) {
    progress.begin("writing");
    const fs::path dir = temporary / recipe.name;
    int fileCount = writeSceneFiles(recipe, modal, transfer, options, temporary);
    if (presets != nullptr) {
        writeObjectPresets((dir / kObjectPresetsFileName).string(), *presets);
        report.objectPresets = describeObjectPresets(*presets);
        ++fileCount;
    }
    std::error_code recipeError, outputError;
    const fs::path recipeFolder =
        fs::weakly_canonical(fs::absolute(recipe.path), recipeError).parent_path();
    if (!recipeError && recipeFolder == fs::weakly_canonical(output, outputError) && !outputError) {
        std::ofstream kept(dir / fs::path(recipe.path).filename(), std::ios::binary);
        kept << recipe.text;
        if (!kept) throw BakeError(recipe.path + ": cannot keep the recipe in the baked folder");
    }
    progress.end(std::to_string(fileCount) + " scene files");
}

// What the report warns of: a folder the demo will not find its files in, and solves that
// stopped short of their tolerance.
void noteWarnings(const Recipe& recipe, const fs::path& output, const SceneTransfer& transfer,
                  BakeReport& report) {
    if (output.filename().string() != recipe.name)
        report.notes.push_back("the transfer list names its files \"" + recipe.name +
                               "/...\": "
                               "the demo finds them only in a folder named " +
                               recipe.name);
    for (const ModeTransferSummary& m : transfer.summaries)
        if (!m.bemConverged)
            report.notes.push_back("the boundary element solve at " + std::to_string(m.frequency) +
                                   " Hz stopped short of its "
                                   "tolerance");
}

}  // namespace

bool bakeScene(const Recipe& recipe, const std::string& outputFolder, const BakeOptions& options) {
    const std::string stamp = bakeStamp(recipe, options);
    if (!options.force && isUpToDate(outputFolder, stamp)) {
        if (!options.quiet) std::printf("tonwell-bake: %s is up to date\n", outputFolder.c_str());
        return false;
    }
    const fs::path output = fs::absolute(outputFolder);
    TemporaryFolder temporary;
    if (options.writesFolder) prepareTemporaryFolder(recipe, output, temporary);

    BakeReport report;
    report.sceneName = recipe.name;
    report.recipePath = recipe.path;
    report.youngsModulus = recipe.material.youngsModulus;
    report.poissonRatio = recipe.material.poissonRatio;
    report.density = recipe.material.density;
    Progress progress(options.quiet, report);
    if (!options.quiet)
        std::printf("tonwell-bake: %s -> %s\n", recipe.path.c_str(), outputFolder.c_str());

    ModalSurface modal;
    modal.surface = surfaceStage(recipe, progress, report);
    // A scene without the program's fixed presets gets them from its object (calibrated below).
    const bool computedPresets = !isBuiltInScene(recipe.name) && !options.modesOnly;
    ObjectPresets presets;
    if (computedPresets) presets = computeObjectPresets(recipe, modal.surface);
    if (!options.modesOnly) refuseUnbakeableTransfer(recipe, modal.surface, options, report);
    modesStage(recipe, options, progress, report, modal);

    SceneTransfer transfer;
    if (options.modesOnly)
        report.notes.push_back(
            "modes only (--modes-only): no acoustic transfer, so the demo cannot load this folder");
    else
        transfer = bakeTransfer(recipe, modal, options, progress, report);
    if (!options.writesFolder) return true;  // rank 0 calibrates, writes and reports

    // The force unit (N per unit of the program's force) is folded into the written mode shapes.
    if (!options.modesOnly) {
        progress.begin("loudness");
        report.loudness = calibrateLoudness(recipe, modal.surface.positions, modal.surfaceShapes,
                                            modal.frequencies, transfer.files,
                                            computedPresets ? &presets : nullptr);
        modal.surfaceShapes *= report.loudness.forceUnit;
        progress.end(describeLoudness(report.loudness));
    }
    writingStage(recipe, modal, transfer, computedPresets ? &presets : nullptr, options,
                 temporary.path, output, progress, report);
    noteWarnings(recipe, output, transfer, report);
    publishBake(temporary.path / recipe.name, output, report, stamp);
    double total = 0.0;
    for (const auto& stage : report.stageSeconds) total += stage.second;
    if (!options.quiet)
        std::printf("tonwell-bake: %s baked in %.1f s\n", recipe.name.c_str(), total);
    return true;
}
