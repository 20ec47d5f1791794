// The wave tier against the closed forms of radiating spheres, e^{+iwt}, outgoing
// h_l = j_l - i y_l:
//   pulsating, v_n = V:          p = rho c V ika / (1 + ika) (a / r) e^{-ik(r - a)},
//   translating along z, v_n = U cos theta:
//                                p = -i rho c U h_1(kr) / h_1'(ka) cos theta
// (from the radial Euler equation i w rho v_r = -dp/dr at r = a; as ka -> 0 it tends to the
// incompressible flow's i w rho U a^3 cos theta / (2 r^2), and far away to a dipole e^{-ikr}/r).
// One sphere with both motions at several frequencies in one chord covers ka 1 to 5.5 in one
// run, and ka 10 to 30 in another, there with both boundaries (cut cells and the staircase). Last,
// a thin tilted plate against the boundary element tier (which the wave tier itself does not use).
#include "tools/bake/transfer/wave/wave_transfer.h"

#include <gtest/gtest.h>

#include <Eigen/Geometry>
#include <cmath>
#include <complex>

#include "tests/bake/bake_test_support.h"
#include "tools/bake/common/physical_constants.h"
#include "tools/bake/transfer/bem/bem_solve.h"
#include "tools/bake/transfer/bem/bem_surface.h"

namespace {

using Complex = std::complex<double>;

// `count` points spread evenly over the sphere of `radius` about the origin (Fibonacci lattice).
std::vector<Eigen::Vector3d> fibonacciPoints(int count, double radius) {
    std::vector<Eigen::Vector3d> points;
    const double golden = kPi * (3 - std::sqrt(5.0));
    for (int i = 0; i < count; ++i) {
        const double z = 1 - (2 * i + 1.0) / count, s = std::sqrt(1 - z * z);
        points.push_back(radius *
                         Eigen::Vector3d(s * std::cos(golden * i), s * std::sin(golden * i), z));
    }
    return points;
}

enum class Motion { Pulsating, Translating };

struct SphereMode {
    Motion motion;
    double ka;
};

Complex closedForm(Motion motion, double ka, double a, const Eigen::Vector3d& x) {
    const double k = ka / a, r = x.norm(), rhoC = kAirDensity_kgm3 * kSpeedOfSound_ms;
    if (motion == Motion::Pulsating) {
        const Complex ika(0, ka);
        return rhoC * ika / (1.0 + ika) * (a / r) * std::exp(Complex(0, -k * (r - a)));
    }
    return Complex(0, -rhoC) * sphericalHankels(1, k * r)[1] / sphericalHankelDerivative(1, ka) *
           (x.z() / r);
}

// The sphere's modes as the tier takes them (unit radial velocity, or unit velocity along z, at
// every vertex), their pressure at `points`, and each one's relative error
// sqrt(sum |P - P_exact|^2 / sum |P_exact|^2) over the points.
struct SphereRun {
    WaveTransfer transfer;
    std::vector<double> errors;
    std::vector<double> cellsPerWavelength;
};

SphereRun runSphere(double a, const std::vector<SphereMode>& modes,
                    const std::vector<Eigen::Vector3d>& points, const WaveSettings& settings) {
    const SurfaceMesh sphere = makeIcosphere(5, a);
    Eigen::MatrixXd shapes(3 * Eigen::Index(sphere.positions.size()), Eigen::Index(modes.size()));
    Eigen::VectorXd omegas(Eigen::Index(modes.size()));
    for (size_t j = 0; j < modes.size(); ++j) {
        omegas[Eigen::Index(j)] = modes[j].ka / a * kSpeedOfSound_ms;
        for (size_t v = 0; v < sphere.positions.size(); ++v)
            shapes.block<3, 1>(3 * Eigen::Index(v), Eigen::Index(j)) =
                modes[j].motion == Motion::Pulsating ? sphere.positions[v].normalized()
                                                     : Eigen::Vector3d::UnitZ();
    }
    SphereRun run;
    run.transfer = computeWaveTransfer(sphere, shapes, omegas, points, settings);
    for (size_t j = 0; j < modes.size(); ++j) {
        double error = 0, norm = 0;
        for (size_t q = 0; q < points.size(); ++q) {
            const Complex exact = closedForm(modes[j].motion, modes[j].ka, a, points[q]);
            error += std::norm(run.transfer.pressure(Eigen::Index(q), Eigen::Index(j)) - exact);
            norm += std::norm(exact);
        }
        run.errors.push_back(std::sqrt(error / norm));
        run.cellsPerWavelength.push_back(2 * kPi * a / (modes[j].ka * run.transfer.chords[0].h));
    }
    return run;
}

void printModes(const std::vector<SphereMode>& modes, const SphereRun& run) {
    const ChordStatistics& chord = run.transfer.chords[0];
    std::printf("grid %d x %d x %d, %lld steps, condition %.3f, %.1f s, %.3g cell updates/s\n",
                chord.gridCells[0], chord.gridCells[1], chord.gridCells[2],
                static_cast<long long>(chord.steps), chord.conditionNumber, chord.seconds,
                chord.cellUpdatesPerSecond);
    for (size_t j = 0; j < modes.size(); ++j)
        std::printf("%s ka %4.1f  %5.1f cells per wavelength  error %.2f %%  residual %.1e\n",
                    modes[j].motion == Motion::Pulsating ? "pulsating  " : "translating",
                    modes[j].ka, run.cellsPerWavelength[j], 100 * run.errors[j],
                    chord.residuals[j]);
}

}  // namespace

// ka 1 to 5.5: a sphere of radius 12 h (a floor of 24 cells across the object, half the tier's), so
// 75 cells per wavelength at ka 1 and 14 at ka 5.5; the field 0.5 a off the surface. All ten
// modes in one chord (default settings otherwise: cut cells). Relative error per mode, pulsating
// below 0.3 % + 0.5 % x ka (measured 0.08 % at ka 1, 0.24 % at 2, 0.74 % at 3, 1.73 % at 4,
// 2.29 % at 5; the staircase gave 0.36, 0.54, 0.95, 1.51, 2.26 %), translating below
// 2.5 % + 0.1 % x ka (measured 1.02 % at ka 1.5, 0.97 % at 2.5, 1.26 % at 3.5, 1.86 % at 4.5,
// 2.62 % at 5.5; the staircase 1.96, 2.36, 2.99, 3.45, 4.45 %, falling only as h: 4.6 %, 2.0 %,
// 1.4 % at ka 1.5 with radii of 6, 12, 18 cells). Before the cut cells' merged air flowed along
// the wall and their deeper solid cells were opened (cut_cells.h) the pulsating errors were
// 0.07-1.88 % and the translating 1.61-2.58 %. Every mode's fit residual below 1e-4 (measured
// 6e-6 to 1e-5).
TEST(WaveTransfer, SpheresMatchClosedFormsFromKa1To5) {
    const double a = 0.05;
    std::vector<SphereMode> modes;
    for (double ka : {1.0, 2.0, 3.0, 4.0, 5.0}) modes.push_back({Motion::Pulsating, ka});
    for (double ka : {1.5, 2.5, 3.5, 4.5, 5.5}) modes.push_back({Motion::Translating, ka});
    WaveSettings settings;
    settings.threads = 2;
    settings.maxChordSpan = 10;
    settings.minSeparation_Hz = 500;  // ka 0.5 apart is 546 Hz
    settings.minCellsAcross = 24;
    const SphereRun run = runSphere(a, modes, fibonacciPoints(60, 1.5 * a), settings);
    ASSERT_EQ(run.transfer.chords.size(), 1u);
    printModes(modes, run);
    const ChordStatistics& chord = run.transfer.chords[0];
    EXPECT_LT(chord.conditionNumber, 1.5);
    for (size_t j = 0; j < modes.size(); ++j) {
        const double bound = modes[j].motion == Motion::Pulsating ? 0.003 + 0.005 * modes[j].ka
                                                                  : 0.025 + 0.001 * modes[j].ka;
        EXPECT_LT(run.errors[j], bound) << "ka " << modes[j].ka;
        EXPECT_LT(chord.residuals[j], 1e-4) << "ka " << modes[j].ka;
    }
}

// ka 10 to 30: ten cells per wavelength at ka 30 (the tier's default), so a sphere of radius
// 48 h, 12 cells per wavelength at ka 25, 15 at 20, 20 at 15 and 30 at 10; the field 0.1 a (5
// cells) off the surface. A 6-cell absorbing layer and the transient allowed a quarter of the
// box's crossing time keep the run small (124^3 cells, 344 steps); the fit residual (measured
// 1.6e-3, below 5e-3 asserted) shows the transient gone. Relative error per mode below
// 1 % + 10 % x (ka / 30)^2 with the staircase (measured pulsating 0.66 % at ka 10, 2.54 % at 20,
// 7.37 % at 30; translating 1.30 % at 15, 3.63 % at 25): at ten cells per wavelength the
// scheme's phase velocity is 1.1 % low along the axes and nearly right along the diagonals; the
// drive at the dispersion-matched frequency (wave_grid.h) corrects the mean, not the anisotropy.
// With cut cells below 1 % + 2.5 % x (ka / 30)^2 (measured 0.52, 0.76, 1.18, 1.83, 2.70 %; 0.59,
// 0.69, 0.87, 1.38, 2.17 % before the cut cells' deeper solid cells were opened, which brought the
// chair and the dragon much closer to their finer grids), and at ka 20 and above below 0.6
// times the staircase's (0.46, 0.50, 0.37 times): most of the
// staircase's error at these wave numbers was the boundary's.
TEST(WaveTransfer, SpheresMatchClosedFormsFromKa10To30) {
    const double a = 0.05;
    const std::vector<SphereMode> modes = {{Motion::Pulsating, 10},
                                           {Motion::Translating, 15},
                                           {Motion::Pulsating, 20},
                                           {Motion::Translating, 25},
                                           {Motion::Pulsating, 30}};
    WaveSettings settings;
    settings.threads = 2;
    settings.maxChordSpan = 10;
    settings.minSeparation_Hz = 5000;  // ka 5 apart is 5.46 kHz
    settings.pmlCells = 6;
    settings.settleCrossings = 0.25;
    const std::vector<Eigen::Vector3d> points = fibonacciPoints(60, 1.1 * a);
    settings.cutCells = false;
    const SphereRun staircase = runSphere(a, modes, points, settings);
    settings.cutCells = true;
    const SphereRun cut = runSphere(a, modes, points, settings);
    for (const SphereRun* run : {&staircase, &cut}) {
        ASSERT_EQ(run->transfer.chords.size(), 1u);
        printModes(modes, *run);
        const ChordStatistics& chord = run->transfer.chords[0];
        EXPECT_LT(chord.conditionNumber, 1.5);
        for (size_t j = 0; j < modes.size(); ++j) {
            const double x = modes[j].ka / 30;
            EXPECT_LT(run->errors[j], 0.01 + (run == &cut ? 0.025 : 0.1) * x * x)
                << "ka " << modes[j].ka << (run == &cut ? ", cut cells" : "");
            EXPECT_LT(chord.residuals[j], 5e-3) << "ka " << modes[j].ka;
        }
    }
    for (size_t j = 0; j < modes.size(); ++j) {
        if (modes[j].ka >= 20) {
            EXPECT_LT(cut.errors[j], 0.6 * staircase.errors[j]) << "ka " << modes[j].ka;
        }
    }
}

namespace {

// A closed box surface split into cells[a] squares along each axis a, outward-oriented.
SurfaceMesh gridBox(const Eigen::Vector3d& lo, const Eigen::Vector3d& hi, const int cells[3]) {
    SurfaceMesh mesh;
    for (int axis = 0; axis < 3; ++axis)
        for (int side = 0; side < 2; ++side) {
            // In-face axes (b, c) with e_b x e_c along the outward normal.
            int b = (axis + 1) % 3, c = (axis + 2) % 3;
            if (side == 0) std::swap(b, c);
            const int base = int(mesh.positions.size());
            for (int i = 0; i <= cells[b]; ++i)
                for (int j = 0; j <= cells[c]; ++j) {
                    Eigen::Vector3d p;
                    p[axis] = side ? hi[axis] : lo[axis];
                    p[b] = lo[b] + (hi[b] - lo[b]) * i / cells[b];
                    p[c] = lo[c] + (hi[c] - lo[c]) * j / cells[c];
                    mesh.positions.push_back(p);
                }
            auto index = [&](int i, int j) { return base + i * (cells[c] + 1) + j; };
            for (int i = 0; i < cells[b]; ++i)
                for (int j = 0; j < cells[c]; ++j) {
                    mesh.triangles.push_back({index(i, j), index(i + 1, j), index(i + 1, j + 1)});
                    mesh.triangles.push_back({index(i, j), index(i + 1, j + 1), index(i, j + 1)});
                }
        }
    return mesh;
}

}  // namespace

// A plate 20 x 15 cm and 4 mm thick, tilted against the grid (0.4 rad about x, 0.25 about y),
// bending with v = N (sin(pi x / 0.2) + cos(pi y / 0.15) / 2) along its normal N, at 2 kHz;
// the field on a sphere of 20 cm radius (80 points) against the boundary element tier's
// (1340 elements, 17 per wavelength, Burton-Miller). A floor of 24 cells across (half the tier's)
// makes h = 8.1 mm (21 cells per wavelength): the plate is thinner than a cell and voxelises one
// cell thick. Relative error below 15 % asserted, the norms within 6 % (measured with cut cells
// 11.3 % and 3.1 % high; with the staircase 9.0 % and 3.6 %, with h halved 6.3 % and 2.1 %, at
// 1 kHz 12 % and 7 %, at 4 kHz 12 % and 8 % with h = 8.1 and 4.1 mm): the flow around the
// plate's edges sees a plate a cell thick either way, and cut cells that merged a thin-wall
// cell's air into both sides made it 19 % (cut_cells.h).
TEST(WaveTransfer, TiltedThinPlateMatchesBoundaryElements) {
    const Eigen::Vector3d half(0.1, 0.075, 0.002);
    const int cells[3] = {20, 15, 1};
    SurfaceMesh plate = gridBox(-half, half, cells);
    const Eigen::Matrix3d rotation = (Eigen::AngleAxisd(0.4, Eigen::Vector3d::UnitX()) *
                                      Eigen::AngleAxisd(0.25, Eigen::Vector3d::UnitY()))
                                         .toRotationMatrix();
    Eigen::MatrixXd velocity(3 * Eigen::Index(plate.positions.size()), 1);
    for (size_t v = 0; v < plate.positions.size(); ++v) {
        const Eigen::Vector3d x = plate.positions[v];
        const double w = std::sin(kPi * x.x() / 0.2) + 0.5 * std::cos(kPi * x.y() / 0.15);
        velocity.block<3, 1>(3 * Eigen::Index(v), 0) = w * (rotation * Eigen::Vector3d::UnitZ());
        plate.positions[v] = rotation * x;
    }
    const double omega = 2 * kPi * 2000;
    const std::vector<Eigen::Vector3d> points = fibonacciPoints(80, 0.2);

    const BemSurface surface = makeBemSurface(plate.positions, plate.triangles);
    const Eigen::MatrixXd vn = elementNormalVelocity(surface, plate.triangles, velocity.data());
    BemOptions bem;
    bem.threadCount = 2;
    const Eigen::VectorXcd reference =
        radiatedPressure(surface, solveExteriorNeumann(surface, omega, vn, bem), points, bem)
            .col(0);

    WaveSettings settings;
    settings.threads = 2;
    settings.minCellsAcross = 24;
    const WaveTransfer transfer =
        computeWaveTransfer(plate, velocity, Eigen::VectorXd::Constant(1, omega), points, settings);
    const Eigen::VectorXcd wave = transfer.pressure.col(0);
    const double error = (wave - reference).norm() / reference.norm();
    const double norms = wave.norm() / reference.norm();
    std::printf("h %.4f m, %.1f cells per wavelength: error %.2f %%, norms %.4f\n",
                transfer.chords[0].h, kSpeedOfSound_ms / 2000 / transfer.chords[0].h, 100 * error,
                norms);
    EXPECT_LT(error, 0.15);
    EXPECT_NEAR(norms, 1.0, 0.06);
}

// A small pulsating sphere (3 cells in radius, ka 1.9 at ten cells per wavelength) heard 36 cells
// away along the six axes and the eight body diagonals. The closed form's phase is the same at all
// fourteen points; the grid's is not where its waves run at different speeds along different
// directions. At second order they run 1.2 % slower along the axes than along the diagonals, and
// the phases spread by about k R x 1.2 %; at fourth order the spread is the staircase sphere's own
// (its faces are not a sphere). Asserted: the second order's spread above 0.15 rad, the fourth's
// below 0.4 times it. Measured: 0.299 rad at second order, 0.086 rad at fourth. (The amplitudes
// are 3 to 10 % low at both orders: the staircase of so small a sphere is coarse.)
TEST(WaveTransfer, FourthOrderWavesRunAlikeAlongAxesAndDiagonals) {
    const double h = 0.004, cellsPerWavelength = 10;
    const double a = 3 * h, ka = 2 * kPi * 3 / cellsPerWavelength, R = 36 * h;
    std::vector<Eigen::Vector3d> points;
    for (int axis = 0; axis < 3; ++axis)
        for (double sign : {-1.0, 1.0}) points.push_back(sign * R * Eigen::Vector3d::Unit(axis));
    for (int corner = 0; corner < 8; ++corner)
        points.push_back(
            R / std::sqrt(3.0) *
            Eigen::Vector3d(corner & 1 ? 1 : -1, corner & 2 ? 1 : -1, corner & 4 ? 1 : -1));
    double spreads[2] = {0, 0};
    for (int order : {2, 4}) {
        WaveSettings settings;
        settings.threads = 2;
        settings.spatialOrder = order;
        settings.cellsPerWavelength = cellsPerWavelength;
        settings.minCellsAcross = 4;
        const SphereRun run = runSphere(a, {{Motion::Pulsating, ka}}, points, settings);
        ASSERT_NEAR(run.transfer.chords[0].h, h, 1e-9);
        double lowest = HUGE_VAL, highest = -HUGE_VAL;
        for (size_t q = 0; q < points.size(); ++q) {
            const Complex exact = closedForm(Motion::Pulsating, ka, a, points[q]);
            const Complex ratio = run.transfer.pressure(Eigen::Index(q), 0) / exact;
            lowest = std::min(lowest, std::arg(ratio));
            highest = std::max(highest, std::arg(ratio));
        }
        spreads[order / 4] = highest - lowest;
        std::printf("order %d: phase spread %.3f rad\n", order, highest - lowest);
    }
    EXPECT_GT(spreads[0], 0.15) << "the second-order grid's anisotropy";
    EXPECT_LT(spreads[1], 0.4 * spreads[0]);
}
