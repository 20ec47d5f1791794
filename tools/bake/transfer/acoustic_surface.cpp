// The acoustic solver's surface and the mode shapes carried over to it (see acoustic_surface.h).
#include "tools/bake/transfer/acoustic_surface.h"

#include <Eigen/Geometry>
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <queue>
#include <utility>
#include <vector>

#include "tools/bake/common/bake_error.h"
#include "tools/bake/common/parallel_for.h"
#include "tools/bake/surface/bell_shape.h"
#include "tools/bake/surface/box_union.h"
#include "tools/bake/surface/chair_shape.h"
#include "tools/bake/surface/wrap_surface.h"
#include "tools/bake/transfer/bem/bem_solve.h"

namespace {

Eigen::Vector3d triangleNormal(const SurfaceMesh& mesh, int t) {
    const auto& tri = mesh.triangles[t];
    const Eigen::Vector3d& a = mesh.positions[tri[0]];
    return (mesh.positions[tri[1]] - a).cross(mesh.positions[tri[2]] - a);
}

// Barycentric weights of the point of triangle (a, b, c) closest to p (Ericson, Real-Time
// Collision Detection, 5.1.5: the Voronoi regions of the vertices, edges and face in turn).
Eigen::Vector3d closestPointWeights(const Eigen::Vector3d& p, const Eigen::Vector3d& a,
                                    const Eigen::Vector3d& b, const Eigen::Vector3d& c) {
    const Eigen::Vector3d ab = b - a, ac = c - a, ap = p - a;
    const double d1 = ab.dot(ap), d2 = ac.dot(ap);
    if (d1 <= 0 && d2 <= 0) return {1, 0, 0};
    const Eigen::Vector3d bp = p - b;
    const double d3 = ab.dot(bp), d4 = ac.dot(bp);
    if (d3 >= 0 && d4 <= d3) return {0, 1, 0};
    const double vc = d1 * d4 - d3 * d2;
    if (vc <= 0 && d1 >= 0 && d3 <= 0) {
        const double v = d1 / (d1 - d3);
        return {1 - v, v, 0};
    }
    const Eigen::Vector3d cp = p - c;
    const double d5 = ab.dot(cp), d6 = ac.dot(cp);
    if (d6 >= 0 && d5 <= d6) return {0, 0, 1};
    const double vb = d5 * d2 - d1 * d6;
    if (vb <= 0 && d2 >= 0 && d6 <= 0) {
        const double w = d2 / (d2 - d6);
        return {1 - w, 0, w};
    }
    const double va = d3 * d6 - d5 * d4;
    if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0) {
        const double w = (d4 - d3) / ((d4 - d3) + (d5 - d6));
        return {0, 1 - w, w};
    }
    const double denominator = 1.0 / (va + vb + vc);
    const double v = vb * denominator, w = vc * denominator;
    return {1 - v - w, v, w};
}

// Fine triangles with their bounding spheres, for nearest-point queries.
struct FineTriangles {
    const SurfaceMesh& mesh;
    std::vector<Eigen::Vector3d> centres, normals;  // normals unit
    std::vector<double> radii;

    explicit FineTriangles(const SurfaceMesh& m) : mesh(m) {
        for (size_t t = 0; t < m.triangles.size(); ++t) {
            const auto& tri = m.triangles[t];
            const Eigen::Vector3d centre =
                (m.positions[tri[0]] + m.positions[tri[1]] + m.positions[tri[2]]) / 3.0;
            double radius = 0;
            for (int j = 0; j < 3; ++j)
                radius = std::max(radius, (m.positions[tri[j]] - centre).norm());
            centres.push_back(centre);
            radii.push_back(radius);
            normals.push_back(triangleNormal(m, static_cast<int>(t)).normalized());
        }
    }

    // Nearest triangle to p among those facing along `normal` (all when none does); its index
    // and the barycentric weights of the nearest point.
    int nearest(const Eigen::Vector3d& p, const Eigen::Vector3d& normal,
                Eigen::Vector3d* weights) const {
        for (bool facing : {true, false}) {
            double best = std::numeric_limits<double>::infinity();
            int bestTriangle = -1;
            for (size_t t = 0; t < centres.size(); ++t) {
                if (facing && normals[t].dot(normal) <= 0) continue;
                if ((p - centres[t]).norm() - radii[t] >= best) continue;
                const auto& tri = mesh.triangles[t];
                const Eigen::Vector3d& a = mesh.positions[tri[0]];
                const Eigen::Vector3d& b = mesh.positions[tri[1]];
                const Eigen::Vector3d& c = mesh.positions[tri[2]];
                const Eigen::Vector3d w = closestPointWeights(p, a, b, c);
                const double distance = (p - (w[0] * a + w[1] * b + w[2] * c)).norm();
                if (distance < best) {
                    best = distance;
                    bestTriangle = static_cast<int>(t);
                    *weights = w;
                }
            }
            if (bestTriangle >= 0) return bestTriangle;
        }
        return -1;
    }
};

}  // namespace

double surfaceArea(const SurfaceMesh& mesh) {
    double area = 0;
    for (size_t t = 0; t < mesh.triangles.size(); ++t)
        area += 0.5 * triangleNormal(mesh, static_cast<int>(t)).norm();
    return area;
}

int acousticElementTarget(double area, double maxFrequency, const TransferSettings& options) {
    double count = options.maxElements;
    if (maxFrequency > 0) {
        const double side = kSpeedOfSound_ms / maxFrequency / options.elementsPerWavelength;
        count = area / (std::sqrt(3.0) / 4.0 * side * side);
    }
    return static_cast<int>(
        std::clamp(count, double(options.minElements), double(options.maxElements)));
}

SurfaceMesh refineSurface(const SurfaceMesh& surface, int targetTriangles) {
    SurfaceMesh mesh = surface;
    // Edges keyed by their (smaller, larger) vertex pair, with the triangles on either side.
    using Edge = std::pair<int, int>;
    auto key = [](int a, int b) { return a < b ? Edge(a, b) : Edge(b, a); };
    auto lengthOf = [&](const Edge& e) {
        return (mesh.positions[e.first] - mesh.positions[e.second]).squaredNorm();
    };
    std::map<Edge, std::vector<int>> sides;
    std::priority_queue<std::pair<double, Edge>> longest;
    auto addTriangle = [&](int t) {
        const auto& tri = mesh.triangles[t];
        for (int c = 0; c < 3; ++c) {
            const Edge e = key(tri[c], tri[(c + 1) % 3]);
            std::vector<int>& list = sides[e];
            if (list.empty()) longest.push({lengthOf(e), e});
            list.push_back(t);
        }
    };
    auto removeTriangle = [&](int t) {
        const auto& tri = mesh.triangles[t];
        for (int c = 0; c < 3; ++c) {
            std::vector<int>& list = sides[key(tri[c], tri[(c + 1) % 3])];
            list.erase(std::remove(list.begin(), list.end(), t), list.end());
        }
    };
    for (size_t t = 0; t < mesh.triangles.size(); ++t) addTriangle(static_cast<int>(t));
    // Bisect the longest edge, and with it the two triangles that share it (the surface is closed
    // and manifold), until the count is reached: the new vertex lies on the edge, so the surface
    // keeps its shape and stays closed.
    while (static_cast<int>(mesh.triangles.size()) < targetTriangles && !longest.empty()) {
        const Edge e = longest.top().second;
        longest.pop();
        const auto found = sides.find(e);
        if (found == sides.end() || found->second.empty()) continue;  // split already
        const std::vector<int> triangles = found->second;
        sides.erase(found);
        const int middle = static_cast<int>(mesh.positions.size());
        mesh.positions.push_back(0.5 * (mesh.positions[e.first] + mesh.positions[e.second]));
        for (int t : triangles) {
            removeTriangle(t);
            std::array<int, 3> tri = mesh.triangles[t];
            // Rotate so that the split edge is (tri[0], tri[1]), keeping the winding.
            while (key(tri[0], tri[1]) != e) tri = {tri[1], tri[2], tri[0]};
            mesh.triangles[t] = {tri[0], middle, tri[2]};
            mesh.triangles.push_back({middle, tri[1], tri[2]});
            addTriangle(t);
            addTriangle(static_cast<int>(mesh.triangles.size()) - 1);
        }
    }
    return mesh;
}

SurfaceMesh makeAcousticSurface(const Recipe& recipe, const SurfaceMesh& fine,
                                int targetTriangles) {
    const int fineCount = static_cast<int>(fine.triangles.size());
    if (fineCount == targetTriangles) return fine;
    // Finer than the object's own surface (a reference solve): the same facets, bisected.
    if (fineCount < targetTriangles) return refineSurface(fine, targetTriangles);
    if (recipe.shape == ShapeKind::mesh) {
        // A closed surface has about twice as many triangles as vertices.
        return simplifySurface(fine, std::max(4, targetTriangles / 2), recipe.path);
    }
    // Spacing of right-angled pairs of triangles covering the area, corrected by the count of a
    // first try (features and rings round the spacing up or down).
    const double area = surfaceArea(fine);
    double spacing = std::sqrt(2.0 * area / targetTriangles);
    SurfaceMesh best = fine;
    for (int attempt = 0; attempt < 4; ++attempt) {
        SurfaceMesh coarse;
        if (recipe.shape == ShapeKind::bell) {
            BellParameters p = recipe.bell;
            p.profileSpacing = std::max(p.profileSpacing, spacing);
            p.ringSpacing = std::max(p.ringSpacing, spacing);
            coarse = makeBellSurface(p);
        } else {
            BoxGridOptions grid = recipe.chairGrid;
            grid.maxSpacing = std::max(grid.maxSpacing, spacing);
            grid.cellsThrough = 1;
            coarse = makeBoxUnionSurface(chairBoxes(), grid, recipe.path);
        }
        const int count = static_cast<int>(coarse.triangles.size());
        if (count < static_cast<int>(best.triangles.size())) best = coarse;
        if (std::abs(count - targetTriangles) <= 0.15 * targetTriangles) break;
        spacing *= std::sqrt(double(count) / targetTriangles);
    }
    // The chair's grid keeps every box face on a grid line, which bounds how coarse it can get;
    // below that, edge collapse merges the flat faces into larger triangles.
    if (best.triangles.size() > 1.15 * targetTriangles)
        best = simplifySurface(best, std::max(4, targetTriangles / 2), recipe.path);
    const std::string problem = closedManifoldProblem(best);
    if (!problem.empty())
        throw BakeError(recipe.path +
                        ": the acoustic surface is not a closed manifold: " + problem);
    return best;
}

Eigen::MatrixXd interpolateNormalVelocity(const SurfaceMesh& fine, const Eigen::MatrixXd& shapes,
                                          const SurfaceMesh& coarse) {
    const FineTriangles lookup(fine);
    const int elementCount = static_cast<int>(coarse.triangles.size());
    const Eigen::Index modeCount = shapes.cols();
    Eigen::MatrixXd velocity = Eigen::MatrixXd::Zero(elementCount, modeCount);
    parallelFor(elementCount, 0, [&](int e) {
        Eigen::VectorXd sum = Eigen::VectorXd::Zero(modeCount);
        const auto& tri = coarse.triangles[e];
        const Eigen::Vector3d& a = coarse.positions[tri[0]];
        const Eigen::Vector3d& b = coarse.positions[tri[1]];
        const Eigen::Vector3d& c = coarse.positions[tri[2]];
        const Eigen::Vector3d normal = triangleNormal(coarse, e).normalized();
        const Eigen::Vector3d centroid = (a + b + c) / 3.0;
        const Eigen::Vector3d samples[4] = {centroid, 0.5 * (centroid + a), 0.5 * (centroid + b),
                                            0.5 * (centroid + c)};
        for (const Eigen::Vector3d& p : samples) {
            Eigen::Vector3d w;
            const int t = lookup.nearest(p, normal, &w);
            const auto& f = fine.triangles[t];
            for (int j = 0; j < 3; ++j)
                for (int axis = 0; axis < 3; ++axis)
                    sum += (w[j] * normal[axis]) * shapes.row(3 * f[j] + axis).transpose();
        }
        velocity.row(e) = sum.transpose() / 4.0;
    });
    return velocity;
}
