// How much the wave tier's field of a baked scene's modes changes with the grid it is solved on:
// the same modes (one chord) run on grids of several settings, and every pair of runs compared at
// the wave tier's held-out points (TransferSettings::waveHeldOutMargin outside the object's box) by
// the measures the bake reports use (radiated power and point-by-point dB RMS, radiation_metrics.h)
// and by the relative complex difference. What moves the field by more than the self-convergence
// target allows, and what does not, is read off directly: the cells per wavelength, the spatial
// order, the time step, the absorbing layer, the transient and window, the boundary, and the grid
// moved by a fraction of a cell against the object (the physics cannot see that; only the
// discretisation can). Not part of the tests.
//
//   build/bench/tonwell_wave_sensitivity FOLDER MODES GRID...
//
// FOLDER: a baked scene (the demo's chair, bell or dragon folders, or one with a presets.json);
// MODES: 0-based mode indices, comma separated; each GRID: comma-separated settings over the
// baker's defaults, e.g. "cpw=14.14,order=4": cpw (cells per wavelength at the highest mode),
// order (2 or 4), courant (fraction of the step's limit), pml and air (cells), settle and window
// (the run's transient and window factors), staircase=1 (the staircase boundary in place of cut
// cells), shift (millimetres: the grid grows by this much along (1, 0.6, 0.8) from one corner, so
// its cells move against the object by half of it, with h unchanged), fscale (every mode's
// frequency times this; with cpw divided by it the grid stays the same). A GRID of bem=N is no
// grid but tier A's solver: the modes solved by boundary elements on the scene's surface refined
// to at least N triangles, so that the overlap check's reference can itself be refined until it
// settles; bm=0 beside it drops the Burton-Miller term, which is sound only well below the
// solid's first interior resonance.
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tools/bake/common/physical_constants.h"
#include "tools/bake/output/scene_data.h"
#include "tools/bake/transfer/acoustic_surface.h"
#include "tools/bake/transfer/bem/bem_solve.h"
#include "tools/bake/transfer/high_frequency/radiation_metrics.h"
#include "tools/bake/transfer/multipole/field_fit.h"
#include "tools/bake/transfer/multipole/transfer_settings.h"
#include "tools/bake/transfer/wave/mode_conflation.h"

namespace {

struct Grid {
    std::string name;
    WaveSettings settings;
    double shift_mm = 0, frequencyScale = 1;
    int boundaryElements = 0;  // > 0: tier A on this many elements instead of a wave run
    BemOptions bem;
};

bool parseGrid(const std::string& text, Grid* grid) {
    grid->name = text;
    grid->settings.threads = 0;
    std::stringstream items(text);
    std::string item;
    while (std::getline(items, item, ',')) {
        const size_t equals = item.find('=');
        if (equals == std::string::npos) return false;
        const std::string key = item.substr(0, equals);
        const double value = std::atof(item.c_str() + equals + 1);
        WaveSettings& s = grid->settings;
        if (key == "cpw")
            s.cellsPerWavelength = value;
        else if (key == "order")
            s.spatialOrder = int(value);
        else if (key == "courant")
            s.courantFraction = value;
        else if (key == "pml")
            s.pmlCells = int(value);
        else if (key == "air")
            s.airCells = int(value);
        else if (key == "settle")
            s.settleCrossings = value;
        else if (key == "window")
            s.windowFactor = value;
        else if (key == "staircase")
            s.cutCells = value == 0;
        else if (key == "shift")
            grid->shift_mm = value;
        else if (key == "fscale")
            grid->frequencyScale = value;
        else if (key == "bem")
            grid->boundaryElements = int(value);
        else if (key == "bm")
            grid->bem.burtonMiller = value != 0;
        else
            return false;
    }
    return grid->settings.spatialOrder == 2 || grid->settings.spatialOrder == 4;
}

// Each mode's field at `points` by tier A's solver on `surface` refined by bisection to at least
// `elements` triangles, its velocities carried over as the baker carries them.
Eigen::MatrixXcd boundaryElementField(const SurfaceMesh& surface, const Eigen::MatrixXd& shapes,
                                      const std::vector<double>& omegas,
                                      const std::vector<Eigen::Vector3d>& points, int elements,
                                      const BemOptions& options) {
    const SurfaceMesh acoustic = refineSurface(surface, elements);
    const BemSurface bem = makeBemSurface(acoustic.positions, acoustic.triangles);
    const Eigen::MatrixXd velocity = interpolateNormalVelocity(surface, shapes, acoustic);
    std::printf("bem=%d: %zu elements\n", elements, bem.elements.size());
    Eigen::MatrixXcd field(Eigen::Index(points.size()), Eigen::Index(omegas.size()));
    for (size_t j = 0; j < omegas.size(); ++j) {
        const BemSolution solution =
            solveExteriorNeumann(bem, omegas[j], velocity.col(Eigen::Index(j)), options);
        field.col(Eigen::Index(j)) = radiatedPressure(bem, solution, points, options).col(0);
        std::printf("  mode %zu: %.1f s assembly, %.1f s solve, %d products%s\n", j,
                    solution.assemblySeconds, solution.solveSeconds, solution.iterations[0],
                    solution.converged ? "" : " (not converged)");
        std::fflush(stdout);
    }
    return field;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s FOLDER MODES GRID...\n", argv[0]);
        return 2;
    }
    SceneData scene;
    const std::string problem = readSceneData(argv[1], &scene);
    if (!problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return 1;
    }
    SurfaceMesh surface;
    for (int v = 0; v < scene.vertexCount; ++v)
        surface.positions.emplace_back(scene.vertices[size_t(3 * v)],
                                       scene.vertices[size_t(3 * v + 1)],
                                       scene.vertices[size_t(3 * v + 2)]);
    for (size_t t = 0; t + 2 < scene.faces.size(); t += 3)
        surface.triangles.push_back({scene.faces[t], scene.faces[t + 1], scene.faces[t + 2]});

    std::vector<int> modes;
    std::stringstream list(argv[2]);
    for (std::string item; std::getline(list, item, ',');) {
        const int mode = std::atoi(item.c_str());
        if (mode < 0 || mode >= scene.modeCount) {
            std::fprintf(stderr, "%s: no mode %s (the scene has %d)\n", argv[1], item.c_str(),
                         scene.modeCount);
            return 1;
        }
        modes.push_back(mode);
    }
    const Eigen::Index rows = 3 * Eigen::Index(scene.vertexCount);
    Eigen::MatrixXd shapes(rows, Eigen::Index(modes.size()));
    for (size_t j = 0; j < modes.size(); ++j) {
        for (Eigen::Index r = 0; r < rows; ++r)
            shapes(r, Eigen::Index(j)) = scene.modeShapes.get()[r + rows * modes[j]];
        std::printf("mode %d: %.1f Hz\n", modes[j], scene.frequencies_Hz[size_t(modes[j])]);
    }

    Eigen::Vector3d lower, upper;
    boundingBox(surface, lower, upper);
    const std::vector<Eigen::Vector3d> points = boxSurfacePoints(
        lower, upper, TransferSettings().waveHeldOutMargin * 0.5 * (upper - lower).norm(), 2000);
    Eigen::Vector3d pointsUpper = points[0];
    for (const Eigen::Vector3d& p : points) pointsUpper = pointsUpper.cwiseMax(p);

    std::vector<Grid> grids;
    std::vector<Eigen::MatrixXcd> fields;
    for (int a = 3; a < argc; ++a) {
        Grid grid;
        if (!parseGrid(argv[a], &grid)) {
            std::fprintf(stderr, "unreadable grid \"%s\"\n", argv[a]);
            return 2;
        }
        std::vector<Eigen::Vector3d> runPoints = points;
        if (grid.shift_mm > 0)
            runPoints.push_back(pointsUpper +
                                grid.shift_mm * 1e-3 * Eigen::Vector3d(1, 0.6, 0.8).normalized());
        std::vector<double> omegas;
        for (int mode : modes)
            omegas.push_back(2 * kPi * scene.frequencies_Hz[size_t(mode)] * grid.frequencyScale);
        grids.push_back(grid);
        if (grid.boundaryElements > 0) {
            fields.push_back(boundaryElementField(surface, shapes, omegas, points,
                                                  grid.boundaryElements, grid.bem));
            continue;
        }
        ChordStatistics statistics;
        fields.push_back(runChord(surface, shapes, omegas, runPoints, grid.settings, &statistics)
                             .topRows(Eigen::Index(points.size())));
        double residual = 0;
        for (double r : statistics.residuals) residual = std::max(residual, r);
        std::printf("%s: %d x %d x %d cells of %.2f mm, %lld steps, residual %.1e, %.1f s\n",
                    grid.name.c_str(), statistics.gridCells[0], statistics.gridCells[1],
                    statistics.gridCells[2], statistics.h * 1e3,
                    static_cast<long long>(statistics.steps), residual, statistics.seconds);
        std::fflush(stdout);
    }

    std::printf("per mode: power dB, point by point dB RMS, relative complex difference\n");
    const Eigen::Vector3d centre = 0.5 * (lower + upper);
    for (size_t a = 0; a < fields.size(); ++a)
        for (size_t b = a + 1; b < fields.size(); ++b) {
            std::printf("%s against %s:", grids[a].name.c_str(), grids[b].name.c_str());
            for (Eigen::Index j = 0; j < fields[a].cols(); ++j) {
                const RadiationComparison c =
                    compareRadiation(points, centre, fields[a].col(j), fields[b].col(j));
                std::printf(
                    "  %+.2f %.2f %.0f %%", c.powerErrorDb, c.pointwiseDirectivityDb,
                    100 * (fields[a].col(j) - fields[b].col(j)).norm() / fields[b].col(j).norm());
            }
            std::printf("\n");
        }
    return 0;
}
