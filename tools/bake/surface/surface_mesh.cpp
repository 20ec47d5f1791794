// Checks and small operations on closed triangle surfaces (see surface_mesh.h).
#include "tools/bake/surface/surface_mesh.h"

#include <Eigen/Geometry>
#include <algorithm>
#include <limits>
#include <map>
#include <sstream>
#include <utility>

std::string closedManifoldProblem(const SurfaceMesh& mesh) {
    const int vertexCount = static_cast<int>(mesh.positions.size());
    if (mesh.triangles.empty()) return "the surface has no triangles";
    std::vector<int> used(vertexCount, 0);
    // Each directed edge must appear once, and its reverse once: then every edge has exactly two
    // triangles and both run it in opposite directions (consistent orientation).
    std::map<std::pair<int, int>, int> directedEdges;
    for (size_t t = 0; t < mesh.triangles.size(); ++t) {
        const auto& tri = mesh.triangles[t];
        for (int c = 0; c < 3; ++c) {
            if (tri[c] < 0 || tri[c] >= vertexCount) {
                std::ostringstream out;
                out << "triangle " << t + 1 << " names vertex " << tri[c] + 1 << " of "
                    << vertexCount;
                return out.str();
            }
            used[tri[c]] = 1;
        }
        const Eigen::Vector3d& p0 = mesh.positions[tri[0]];
        const Eigen::Vector3d area2 =
            (mesh.positions[tri[1]] - p0).cross(mesh.positions[tri[2]] - p0);
        if (!(area2.norm() > 0.0)) {
            std::ostringstream out;
            out << "triangle " << t + 1 << " is degenerate (zero area)";
            return out.str();
        }
        for (int c = 0; c < 3; ++c) {
            auto key = std::make_pair(tri[c], tri[(c + 1) % 3]);
            if (++directedEdges[key] > 1) {
                std::ostringstream out;
                out << "edge " << key.first + 1 << "-" << key.second + 1
                    << " is used by more than two triangles or they are not consistently oriented";
                return out.str();
            }
        }
    }
    for (const auto& [edge, count] : directedEdges) {
        if (!directedEdges.count({edge.second, edge.first})) {
            std::ostringstream out;
            out << "the surface is open: edge " << edge.first + 1 << "-" << edge.second + 1
                << " has only one triangle";
            return out.str();
        }
    }
    for (int v = 0; v < vertexCount; ++v) {
        if (!used[v]) {
            std::ostringstream out;
            out << "vertex " << v + 1 << " belongs to no triangle";
            return out.str();
        }
    }
    // Vertex manifoldness: the triangles around each vertex form one fan. Walk the fan through
    // the "next edge" map (around v, triangle (v, a, b) leads to the triangle holding (v, b)).
    std::vector<std::vector<std::pair<int, int>>> fans(vertexCount);
    for (const auto& tri : mesh.triangles)
        for (int c = 0; c < 3; ++c) fans[tri[c]].push_back({tri[(c + 1) % 3], tri[(c + 2) % 3]});
    for (int v = 0; v < vertexCount; ++v) {
        std::map<int, int> next;
        for (const auto& [a, b] : fans[v]) next[a] = b;
        int start = fans[v].front().first, current = start, steps = 0;
        do {
            current = next[current];
            ++steps;
        } while (current != start && steps <= static_cast<int>(fans[v].size()));
        if (steps != static_cast<int>(fans[v].size())) {
            std::ostringstream out;
            out << "vertex " << v + 1 << " is not manifold (its triangles form more than one fan)";
            return out.str();
        }
    }
    if (!(enclosedVolume(mesh) > 0.0)) return "the surface is inside out (negative volume)";
    return "";
}

double enclosedVolume(const SurfaceMesh& mesh) {
    double sixVolume = 0.0;
    for (const auto& tri : mesh.triangles)
        sixVolume +=
            mesh.positions[tri[0]].dot(mesh.positions[tri[1]].cross(mesh.positions[tri[2]]));
    return sixVolume / 6.0;
}

void flipOrientation(SurfaceMesh& mesh) {
    for (auto& tri : mesh.triangles) std::swap(tri[1], tri[2]);
    for (auto& tri : mesh.normalIndices) std::swap(tri[1], tri[2]);
}

void boundingBox(const SurfaceMesh& mesh, Eigen::Vector3d& lower, Eigen::Vector3d& upper) {
    lower = Eigen::Vector3d::Constant(std::numeric_limits<double>::infinity());
    upper = -lower;
    for (const auto& p : mesh.positions) {
        lower = lower.cwiseMin(p);
        upper = upper.cwiseMax(p);
    }
}

void appendMesh(SurfaceMesh& mesh, const SurfaceMesh& other) {
    const int vertexOffset = static_cast<int>(mesh.positions.size());
    const int normalOffset = static_cast<int>(mesh.normals.size());
    mesh.positions.insert(mesh.positions.end(), other.positions.begin(), other.positions.end());
    mesh.normals.insert(mesh.normals.end(), other.normals.begin(), other.normals.end());
    for (auto tri : other.triangles) {
        for (int& v : tri) v += vertexOffset;
        mesh.triangles.push_back(tri);
    }
    for (auto tri : other.normalIndices) {
        for (int& n : tri) n += normalOffset;
        mesh.normalIndices.push_back(tri);
    }
}
