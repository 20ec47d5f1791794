// The wave tier's grid (see wave_grid.h).
#include "tools/bake/transfer/wave/wave_grid.h"

#include <algorithm>
#include <cassert>
#include <cmath>

#include "tools/bake/common/physical_constants.h"

WaveGrid makeWaveGrid(const Eigen::Vector3d& boxMin, const Eigen::Vector3d& boxMax,
                      double topFrequency_Hz, const WaveSettings& settings) {
    assert(topFrequency_Hz > 0 && settings.cellsPerWavelength > 0 && settings.pmlCells >= 1);
    assert(settings.spatialOrder == 2 || settings.spatialOrder == 4);
    assert(settings.courantFraction > 0 && settings.courantFraction <= 1);
    assert((boxMax - boxMin).minCoeff() >= 0);
    WaveGrid grid;
    grid.h = kSpeedOfSound_ms / (topFrequency_Hz * settings.cellsPerWavelength);
    grid.order = settings.spatialOrder;
    const double weights = grid.order == 4 ? 9.0 / 8.0 + 1.0 / 24.0 : 1.0;
    grid.dt = settings.courantFraction * grid.h / (kSpeedOfSound_ms * std::sqrt(3.0) * weights);
    grid.pmlCells = settings.pmlCells;
    const Eigen::Vector3d centre = 0.5 * (boxMin + boxMax);
    for (int axis = 0; axis < 3; ++axis) {
        const int covering = int(std::ceil((boxMax[axis] - boxMin[axis]) / grid.h)) + 1;
        const int interior = covering + 2 * std::max(0, settings.airCells);
        grid.n[axis] = interior + 2 * settings.pmlCells + 2;
        grid.origin[axis] = centre[axis] - 0.5 * grid.n[axis] * grid.h;
    }
    return grid;
}

double dispersionMatchedOmega(const WaveGrid& grid, double omega) {
    // omega' over Fibonacci directions of one octant (the relation is even in each component),
    // averaged.
    const double k = omega / kSpeedOfSound_ms;
    const double courant = kSpeedOfSound_ms * grid.dt / grid.h;
    const int directions = 256;
    const double goldenAngle = kPi * (3 - std::sqrt(5.0));
    double sum = 0;
    for (int i = 0; i < directions; ++i) {
        const double z = 1 - (i + 0.5) / directions;  // upper hemisphere
        const double ring = std::sqrt(1 - z * z);
        const double d[3] = {std::abs(ring * std::cos(goldenAngle * i)),
                             std::abs(ring * std::sin(goldenAngle * i)), z};
        double s2 = 0;
        for (double component : d) {
            const double x = k * component * grid.h;
            const double difference = grid.order == 4
                                          ? 9.0 / 8.0 * std::sin(0.5 * x) - std::sin(1.5 * x) / 24.0
                                          : std::sin(0.5 * x);
            s2 += difference * difference;
        }
        sum += 2 * std::asin(std::min(1.0, courant * std::sqrt(s2))) / grid.dt;
    }
    return sum / directions;
}
