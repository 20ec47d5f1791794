// The wave tier's grid (see wave_grid.h).
#include "tools/bake/transfer/wave/wave_grid.h"

#include <cassert>
#include <cmath>

#include "tools/bake/common/physical_constants.h"

WaveGrid makeWaveGrid(const Eigen::Vector3d& boxMin, const Eigen::Vector3d& boxMax,
                      double topFrequency_Hz, const WaveSettings& settings) {
    assert(topFrequency_Hz > 0 && settings.cellsPerWavelength > 0 && settings.pmlCells >= 1);
    assert(settings.courantFraction > 0 && settings.courantFraction <= 1);
    assert((boxMax - boxMin).minCoeff() >= 0);
    WaveGrid grid;
    grid.h = kSpeedOfSound_ms / (topFrequency_Hz * settings.cellsPerWavelength);
    grid.dt = settings.courantFraction * grid.h / (kSpeedOfSound_ms * std::sqrt(3.0));
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
