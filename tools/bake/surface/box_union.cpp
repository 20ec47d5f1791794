// Union of boxes on a shared grid (see box_union.h).
#include "tools/bake/surface/box_union.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "tools/bake/common/bake_error.h"

namespace {

// Grid lines along one axis: the box faces, each interval split evenly to the allowed spacing.
std::vector<double> gridLines(const std::vector<Box>& boxes, int axis, const BoxGridOptions& o) {
    std::vector<double> faces;
    for (const Box& b : boxes) {
        faces.push_back(b.lower[axis]);
        faces.push_back(b.upper[axis]);
    }
    std::sort(faces.begin(), faces.end());
    faces.erase(std::unique(faces.begin(), faces.end(),
                            [](double a, double b) { return std::abs(a - b) < 1e-9; }),
                faces.end());
    std::vector<double> lines{faces.front()};
    for (size_t i = 0; i + 1 < faces.size(); ++i) {
        const double a = faces[i], b = faces[i + 1], mid = 0.5 * (a + b);
        double spacing = o.maxSpacing;
        for (const Box& box : boxes)
            if (box.lower[axis] < mid && mid < box.upper[axis])
                spacing = std::min(spacing, (box.upper[axis] - box.lower[axis]) / o.cellsThrough);
        const int pieces = std::max(1, static_cast<int>(std::ceil((b - a) / spacing - 1e-9)));
        for (int s = 1; s <= pieces; ++s)
            lines.push_back(s == pieces ? b : a + (b - a) * s / pieces);
    }
    return lines;
}

}  // namespace

double boxUnionGridCellCount(const std::vector<Box>& boxes, const BoxGridOptions& o) {
    double cells = 1.0;
    for (int axis = 0; axis < 3; ++axis) {
        // The pieces of gridLines, counted in double precision: a spacing far too fine for an int
        // count gives a large number here, not an overflow.
        std::vector<double> faces;
        for (const Box& b : boxes) {
            faces.push_back(b.lower[axis]);
            faces.push_back(b.upper[axis]);
        }
        std::sort(faces.begin(), faces.end());
        double pieces = 0.0;
        for (size_t i = 0; i + 1 < faces.size(); ++i) {
            const double a = faces[i], b = faces[i + 1], mid = 0.5 * (a + b);
            if (!(b - a >= 1e-9)) continue;
            double spacing = o.maxSpacing;
            for (const Box& box : boxes)
                if (box.lower[axis] < mid && mid < box.upper[axis])
                    spacing =
                        std::min(spacing, (box.upper[axis] - box.lower[axis]) / o.cellsThrough);
            pieces += std::max(1.0, std::ceil((b - a) / spacing - 1e-9));
        }
        cells *= std::max(1.0, pieces);
    }
    return cells;
}

SurfaceMesh makeBoxUnionSurface(const std::vector<Box>& boxes, const BoxGridOptions& options,
                                const std::string& sourceName) {
    if (boxes.empty()) throw BakeError(sourceName + ": no boxes");
    for (const Box& b : boxes)
        if (!((b.upper - b.lower).minCoeff() > 0.0))
            throw BakeError(sourceName + ": a box has a non-positive extent");
    if (!(options.maxSpacing > 0.0) || options.cellsThrough < 1)
        throw BakeError(sourceName + ": grid spacing and cells through must be positive");
    std::vector<double> lines[3];
    for (int axis = 0; axis < 3; ++axis) lines[axis] = gridLines(boxes, axis, options);
    const int nx = static_cast<int>(lines[0].size()) - 1,
              ny = static_cast<int>(lines[1].size()) - 1,
              nz = static_cast<int>(lines[2].size()) - 1;
    auto cellIndex = [&](int i, int j, int k) {
        return (static_cast<size_t>(k) * ny + j) * nx + i;
    };
    std::vector<char> solid(static_cast<size_t>(nx) * ny * nz, 0);
    for (int k = 0; k < nz; ++k)
        for (int j = 0; j < ny; ++j)
            for (int i = 0; i < nx; ++i) {
                const Eigen::Vector3d c(0.5 * (lines[0][i] + lines[0][i + 1]),
                                        0.5 * (lines[1][j] + lines[1][j + 1]),
                                        0.5 * (lines[2][k] + lines[2][k + 1]));
                for (const Box& b : boxes)
                    if ((c.array() > b.lower.array()).all() &&
                        (c.array() < b.upper.array()).all()) {
                        solid[cellIndex(i, j, k)] = 1;
                        break;
                    }
            }
    auto isSolid = [&](int i, int j, int k) {
        return i >= 0 && j >= 0 && k >= 0 && i < nx && j < ny && k < nz &&
               solid[cellIndex(i, j, k)];
    };

    SurfaceMesh mesh;
    std::map<std::array<int, 3>, int> vertexOfGridPoint;
    auto vertex = [&](int i, int j, int k) {
        auto [it, added] =
            vertexOfGridPoint.try_emplace({i, j, k}, static_cast<int>(mesh.positions.size()));
        if (added) mesh.positions.emplace_back(lines[0][i], lines[1][j], lines[2][k]);
        return it->second;
    };
    // For each solid cell and each of its six faces whose neighbour is empty: the face's four grid
    // corners, split into two triangles turned to face away from the cell.
    for (int k = 0; k < nz; ++k)
        for (int j = 0; j < ny; ++j)
            for (int i = 0; i < nx; ++i) {
                if (!isSolid(i, j, k)) continue;
                const int cell[3] = {i, j, k};
                for (int axis = 0; axis < 3; ++axis)
                    for (int side = 0; side < 2; ++side) {
                        int n[3] = {i, j, k};
                        n[axis] += side ? 1 : -1;
                        if (isSolid(n[0], n[1], n[2])) continue;
                        const int u = (axis + 1) % 3, w = (axis + 2) % 3;
                        int corner[4][3];
                        const int du[4] = {0, 1, 1, 0}, dw[4] = {0, 0, 1, 1};
                        for (int c = 0; c < 4; ++c) {
                            corner[c][axis] = cell[axis] + side;
                            corner[c][u] = cell[u] + du[c];
                            corner[c][w] = cell[w] + dw[c];
                        }
                        int q[4];
                        for (int c = 0; c < 4; ++c)
                            q[c] = vertex(corner[c][0], corner[c][1], corner[c][2]);
                        // (u, w, axis) is right-handed, so u then w runs counter-clockwise seen
                        // from +axis: keep that order on the + side, reverse it on the - side.
                        if (side) {
                            mesh.triangles.push_back({q[0], q[1], q[2]});
                            mesh.triangles.push_back({q[0], q[2], q[3]});
                        } else {
                            mesh.triangles.push_back({q[0], q[2], q[1]});
                            mesh.triangles.push_back({q[0], q[3], q[2]});
                        }
                    }
            }
    const std::string problem = closedManifoldProblem(mesh);
    if (!problem.empty())
        throw BakeError(sourceName + ": the union of boxes is not a closed manifold: " + problem +
                        " (do two boxes touch only along an edge?)");
    return mesh;
}
