// Element geometry of the acoustic boundary and a test sphere (see bem_surface.h).
#include "tools/bake/transfer/bem/bem_surface.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>

BemSurface makeBemSurface(const std::vector<Eigen::Vector3d>& vertices,
                          const std::vector<std::array<int, 3>>& triangles) {
    BemSurface surface;
    surface.boxMin = Eigen::Vector3d::Constant(0);
    surface.boxMax = Eigen::Vector3d::Constant(0);
    if (!vertices.empty()) {
        surface.boxMin = surface.boxMax = vertices[0];
        for (const Eigen::Vector3d& v : vertices) {
            surface.boxMin = surface.boxMin.cwiseMin(v);
            surface.boxMax = surface.boxMax.cwiseMax(v);
        }
    }
    surface.elements.reserve(triangles.size());
    const int vertexCount = static_cast<int>(vertices.size());
    for (size_t t = 0; t < triangles.size(); ++t) {
        BemElement e;
        for (int c = 0; c < 3; ++c) {
            const int v = triangles[t][c];
            if (v < 0 || v >= vertexCount)
                throw std::invalid_argument("triangle " + std::to_string(t) + ": vertex index " +
                                            std::to_string(v) + " outside 0.." +
                                            std::to_string(vertexCount - 1));
            e.corners[c] = vertices[v];
        }
        const Eigen::Vector3d cross =
            (e.corners[1] - e.corners[0]).cross(e.corners[2] - e.corners[0]);
        const double twiceArea = cross.norm();
        if (!(twiceArea > 0))
            throw std::invalid_argument("triangle " + std::to_string(t) + " has zero area");
        e.normal = cross / twiceArea;
        e.area = 0.5 * twiceArea;
        e.centroid = (e.corners[0] + e.corners[1] + e.corners[2]) / 3.0;
        e.diameter =
            std::max({(e.corners[1] - e.corners[0]).norm(), (e.corners[2] - e.corners[1]).norm(),
                      (e.corners[0] - e.corners[2]).norm()});
        surface.elements.push_back(e);
    }
    // Dihedral angles across the edges that exactly two elements share (counted on the vertex
    // indices): theta > 0 where the surface bends away from the normal (convex).
    std::map<std::pair<int, int>, std::vector<int>> edgeElements;
    for (size_t t = 0; t < triangles.size(); ++t)
        for (int c = 0; c < 3; ++c) {
            const int a = triangles[t][c], b = triangles[t][(c + 1) % 3];
            edgeElements[{std::min(a, b), std::max(a, b)}].push_back(static_cast<int>(t));
        }
    std::vector<double> bending(triangles.size(), 0.0);  // sum of |e| theta_e per element
    for (const auto& [edge, elements] : edgeElements) {
        if (elements.size() != 2) continue;
        const BemElement& e1 = surface.elements[elements[0]];
        const BemElement& e2 = surface.elements[elements[1]];
        const double angle =
            std::atan2(e1.normal.cross(e2.normal).norm(), e1.normal.dot(e2.normal));
        if (angle > kFeatureEdgeAngle) continue;
        const Eigen::Vector3d& p = vertices[edge.first];
        const bool convex = (e2.centroid - p).dot(e1.normal) < 0;
        const double length = (vertices[edge.second] - p).norm();
        bending[elements[0]] += length * (convex ? angle : -angle);
        bending[elements[1]] += length * (convex ? angle : -angle);
    }
    for (size_t t = 0; t < triangles.size(); ++t)
        surface.elements[t].meanCurvature = bending[t] / (4 * surface.elements[t].area);
    return surface;
}

Eigen::VectorXd elementNormalVelocity(const BemSurface& surface,
                                      const std::vector<std::array<int, 3>>& triangles,
                                      const double* vertexVelocity) {
    Eigen::VectorXd vn(surface.elements.size());
    for (size_t t = 0; t < triangles.size(); ++t) {
        Eigen::Vector3d mean = Eigen::Vector3d::Zero();
        for (int c = 0; c < 3; ++c)
            mean += Eigen::Map<const Eigen::Vector3d>(vertexVelocity + 3 * triangles[t][c]);
        vn[t] = surface.elements[t].normal.dot(mean / 3.0);
    }
    return vn;
}

void makeIcosphere(int levels, double radius, const Eigen::Vector3d& centre,
                   std::vector<Eigen::Vector3d>* vertices,
                   std::vector<std::array<int, 3>>* triangles) {
    const double g = (1.0 + std::sqrt(5.0)) / 2.0;
    std::vector<Eigen::Vector3d> v = {{-1, g, 0}, {1, g, 0}, {-1, -g, 0}, {1, -g, 0},
                                      {0, -1, g}, {0, 1, g}, {0, -1, -g}, {0, 1, -g},
                                      {g, 0, -1}, {g, 0, 1}, {-g, 0, -1}, {-g, 0, 1}};
    for (Eigen::Vector3d& p : v) p.normalize();
    std::vector<std::array<int, 3>> f = {
        {0, 11, 5},  {0, 5, 1},  {0, 1, 7},  {0, 7, 10}, {0, 10, 11}, {1, 5, 9}, {5, 11, 4},
        {11, 10, 2}, {10, 7, 6}, {7, 1, 8},  {3, 9, 4},  {3, 4, 2},   {3, 2, 6}, {3, 6, 8},
        {3, 8, 9},   {4, 9, 5},  {2, 4, 11}, {6, 2, 10}, {8, 6, 7},   {9, 8, 1}};
    for (int level = 0; level < levels; ++level) {
        std::map<std::pair<int, int>, int> midpoints;
        auto midpoint = [&](int a, int b) {
            const std::pair<int, int> key(std::min(a, b), std::max(a, b));
            auto found = midpoints.find(key);
            if (found != midpoints.end()) return found->second;
            v.push_back((v[a] + v[b]).normalized());
            const int index = static_cast<int>(v.size()) - 1;
            midpoints.emplace(key, index);
            return index;
        };
        std::vector<std::array<int, 3>> finer;
        finer.reserve(4 * f.size());
        for (const auto& t : f) {
            const int ab = midpoint(t[0], t[1]), bc = midpoint(t[1], t[2]),
                      ca = midpoint(t[2], t[0]);
            finer.push_back({t[0], ab, ca});
            finer.push_back({t[1], bc, ab});
            finer.push_back({t[2], ca, bc});
            finer.push_back({ab, bc, ca});
        }
        f.swap(finer);
    }
    vertices->clear();
    for (const Eigen::Vector3d& p : v) vertices->push_back(centre + radius * p);
    *triangles = f;
}
