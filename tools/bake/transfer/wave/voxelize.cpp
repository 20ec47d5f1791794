// The object's solid cells (see voxelize.h).
#include "tools/bake/transfer/wave/voxelize.h"

#include <algorithm>
#include <cmath>

std::vector<Crossing> gridLineCrossings(const WaveGrid& grid, const SurfaceMesh& surface, int axis,
                                        double offsetB, double offsetC) {
    const int b = (axis + 1) % 3, c = (axis + 2) % 3;
    const double lineB0 = grid.origin[b] + offsetB * grid.h;
    const double lineC0 = grid.origin[c] + offsetC * grid.h;
    std::vector<Crossing> crossings;
    for (const std::array<int, 3>& triangle : surface.triangles) {
        const Eigen::Vector3d& p0 = surface.positions[triangle[0]];
        const Eigen::Vector3d& p1 = surface.positions[triangle[1]];
        const Eigen::Vector3d& p2 = surface.positions[triangle[2]];
        const double area2 = (p1[b] - p0[b]) * (p2[c] - p0[c]) - (p1[c] - p0[c]) * (p2[b] - p0[b]);
        if (area2 == 0) continue;  // parallel to the lines
        const double minB = std::min({p0[b], p1[b], p2[b]}), maxB = std::max({p0[b], p1[b], p2[b]});
        const double minC = std::min({p0[c], p1[c], p2[c]}), maxC = std::max({p0[c], p1[c], p2[c]});
        const int jb0 = std::max(0, int(std::ceil((minB - lineB0) / grid.h)));
        const int jb1 = std::min(grid.n[b] - 1, int(std::floor((maxB - lineB0) / grid.h)));
        const int jc0 = std::max(0, int(std::ceil((minC - lineC0) / grid.h)));
        const int jc1 = std::min(grid.n[c] - 1, int(std::floor((maxC - lineC0) / grid.h)));
        for (int jc = jc0; jc <= jc1; ++jc) {
            const double qc = lineC0 + jc * grid.h;
            for (int jb = jb0; jb <= jb1; ++jb) {
                const double qb = lineB0 + jb * grid.h;
                const double w0 = (p1[b] - qb) * (p2[c] - qc) - (p1[c] - qc) * (p2[b] - qb);
                const double w1 = (p2[b] - qb) * (p0[c] - qc) - (p2[c] - qc) * (p0[b] - qb);
                const double w2 = (p0[b] - qb) * (p1[c] - qc) - (p0[c] - qc) * (p1[b] - qb);
                const bool inside =
                    area2 > 0 ? (w0 > 0 && w1 > 0 && w2 > 0) : (w0 < 0 && w1 < 0 && w2 < 0);
                if (!inside) continue;
                const double t = (w0 * p0[axis] + w1 * p1[axis] + w2 * p2[axis]) / area2;
                crossings.push_back({jb + int64_t(grid.n[b]) * jc, t, area2 > 0 ? 1 : -1});
            }
        }
    }
    std::sort(crossings.begin(), crossings.end());
    return crossings;
}

namespace {

// Where the lines of cell centres run, as offsets of the centres in cells (voxelize.h): centre
// (i, j, k) is taken as cellCentre(i, j, k) + kVoxelLineOffset * h, componentwise.
constexpr double kVoxelLineOffset[3] = {1.31e-6, 2.17e-6, 3.07e-6};

// The crossings of the lines of cell centres (voxelize.h).
std::vector<Crossing> lineCrossings(const WaveGrid& grid, const SurfaceMesh& surface, int axis) {
    const int b = (axis + 1) % 3, c = (axis + 2) % 3;
    return gridLineCrossings(grid, surface, axis, 0.5 + kVoxelLineOffset[b],
                             0.5 + kVoxelLineOffset[c]);
}

// The cell of grid position `along` (index along the axis) on line `line` of `axis`.
int64_t cellOnLine(const WaveGrid& grid, int axis, int64_t line, int along) {
    const int b = (axis + 1) % 3;
    int ijk[3];
    ijk[axis] = along;
    ijk[b] = int(line % grid.n[b]);
    ijk[(axis + 2) % 3] = int(line / grid.n[b]);
    return grid.index(ijk[0], ijk[1], ijk[2]);
}

}  // namespace

std::vector<uint8_t> voxelize(const WaveGrid& grid, const SurfaceMesh& surface,
                              VoxelCounts* counts) {
    VoxelCounts local;
    std::vector<uint8_t> solid(size_t(grid.cellCount()), 0);
    std::array<std::vector<Crossing>, 3> crossings;
    for (int axis = 0; axis < 3; ++axis) crossings[axis] = lineCrossings(grid, surface, axis);

    // Centres inside: along each z line, the winding number below centre k is the sum of
    // -sign(n_z) over the crossings below it (entering the solid upwards, n_z < 0, adds one).
    {
        const int axis = 2;
        const double t0 = grid.origin[axis] + (0.5 + kVoxelLineOffset[axis]) * grid.h;
        const std::vector<Crossing>& list = crossings[axis];
        for (size_t first = 0; first < list.size();) {
            size_t last = first;
            while (last < list.size() && list[last].line == list[first].line) ++last;
            int winding = 0;
            size_t next = first;
            for (int k = 0; k < grid.n[axis]; ++k) {
                const double centre = t0 + k * grid.h;
                while (next < last && list[next].t < centre) winding -= list[next++].sign;
                if (winding > 0) {
                    solid[size_t(cellOnLine(grid, axis, list[first].line, k))] = 1;
                    ++local.insideCells;
                }
            }
            first = last;
        }
    }

    // Walls thinner than a cell: crossings between two air centres. The crossings between
    // centres m and m + 1 are those with m = floor((t - t0) / h).
    for (int axis = 0; axis < 3; ++axis) {
        const double t0 = grid.origin[axis] + (0.5 + kVoxelLineOffset[axis]) * grid.h;
        const std::vector<Crossing>& list = crossings[axis];
        for (size_t first = 0; first < list.size();) {
            const int m = int(std::floor((list[first].t - t0) / grid.h));
            size_t last = first;
            double sum = 0;
            while (last < list.size() && list[last].line == list[first].line &&
                   int(std::floor((list[last].t - t0) / grid.h)) == m)
                sum += list[last++].t;
            if (m >= 0 && m + 1 < grid.n[axis]) {
                const int64_t below = cellOnLine(grid, axis, list[first].line, m);
                const int64_t above = cellOnLine(grid, axis, list[first].line, m + 1);
                if (!solid[size_t(below)] && !solid[size_t(above)]) {
                    const double mean = sum / double(last - first);
                    const double face = t0 + (m + 0.5) * grid.h;
                    solid[size_t(mean < face ? below : above)] = 1;
                    ++local.thinWallCells;
                }
            }
            first = last;
        }
    }

    // Flood the air from the grid's corner cell (a ghost, always air) through faces; 2 marks
    // reached air.
    std::vector<int64_t> stack;
    if (!solid[0]) {
        solid[0] = 2;
        stack.push_back(0);
    }
    while (!stack.empty()) {
        const int64_t cell = stack.back();
        stack.pop_back();
        int ijk[3];
        grid.coordinates(cell, ijk);
        for (int axis = 0; axis < 3; ++axis) {
            const int64_t step = grid.stride(axis);
            if (ijk[axis] > 0 && solid[size_t(cell - step)] == 0) {
                solid[size_t(cell - step)] = 2;
                stack.push_back(cell - step);
            }
            if (ijk[axis] + 1 < grid.n[axis] && solid[size_t(cell + step)] == 0) {
                solid[size_t(cell + step)] = 2;
                stack.push_back(cell + step);
            }
        }
    }
    for (uint8_t& cell : solid) {
        if (cell == 0) ++local.enclosedCells;
        cell = cell == 2 ? 0 : 1;
    }
    if (counts) *counts = local;
    return solid;
}
