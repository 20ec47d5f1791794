// TetGen, called as a library, and the checks that its output keeps the surface numbering.
#include "tools/bake/surface/tet_mesh.h"

#include <Eigen/Geometry>

#define TETLIBRARY
#include <tetgen.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <unordered_map>

#include "tools/bake/common/bake_error.h"

namespace {

std::string tetgenFailure(int code) {
    switch (code) {
        case 1:
            return "out of memory";
        case 2:
            return "internal error";
        case 3:
            return "the surface intersects itself";
        case 4:
            return "a very small input feature (nearly coincident vertices or edges)";
        case 5:
            return "two very close input facets";
        case 10:
            return "invalid input";
        default:
            return "error code " + std::to_string(code);
    }
}

}  // namespace

double tetVolume(const TetMesh& mesh, int t) {
    const auto& k = mesh.tets[t];
    const Eigen::Vector3d& x0 = mesh.nodes[k[0]];
    return (mesh.nodes[k[1]] - x0).dot((mesh.nodes[k[2]] - x0).cross(mesh.nodes[k[3]] - x0)) / 6.0;
}

TetMesh addEdgeNodes(const TetMesh& linear) {
    TetMesh mesh = linear;
    mesh.edgeNodes.resize(mesh.tets.size());
    std::unordered_map<long long, int> nodeOfEdge;
    nodeOfEdge.reserve(7 * linear.nodes.size());
    for (size_t t = 0; t < mesh.tets.size(); ++t) {
        for (int e = 0; e < 6; ++e) {
            int a = mesh.tets[t][kTetEdgeCorners[e][0]], b = mesh.tets[t][kTetEdgeCorners[e][1]];
            if (a > b) std::swap(a, b);
            const long long key = static_cast<long long>(a) * linear.nodes.size() + b;
            auto found = nodeOfEdge.find(key);
            if (found == nodeOfEdge.end()) {
                found = nodeOfEdge.emplace(key, static_cast<int>(mesh.nodes.size())).first;
                mesh.nodes.push_back(0.5 * (linear.nodes[a] + linear.nodes[b]));
            }
            mesh.edgeNodes[t][e] = found->second;
        }
    }
    return mesh;
}

TetMesh tetrahedralize(const SurfaceMesh& surface, const TetMeshOptions& options,
                       const std::string& sourceName) {
    tetgenio in, out;
    in.firstnumber = 0;
    in.numberofpoints = static_cast<int>(surface.positions.size());
    in.pointlist = new REAL[3 * in.numberofpoints];
    for (int i = 0; i < in.numberofpoints; ++i)
        for (int k = 0; k < 3; ++k) in.pointlist[3 * i + k] = surface.positions[i][k];
    in.numberoffacets = static_cast<int>(surface.triangles.size());
    in.facetlist = new tetgenio::facet[in.numberoffacets];
    in.facetmarkerlist = nullptr;
    for (int f = 0; f < in.numberoffacets; ++f) {
        tetgenio::facet& facet = in.facetlist[f];
        tetgenio::init(&facet);
        facet.numberofpolygons = 1;
        facet.polygonlist = new tetgenio::polygon[1];
        tetgenio::init(&facet.polygonlist[0]);
        facet.polygonlist[0].numberofvertices = 3;
        facet.polygonlist[0].vertexlist = new int[3];
        for (int c = 0; c < 3; ++c) facet.polygonlist[0].vertexlist[c] = surface.triangles[f][c];
    }

    // TetGen crashes on a self-intersecting surface instead of reporting it, so look for
    // intersections first: with -d it only detects them and returns the faces involved.
    {
        tetgenio intersections;
        char detect[] = "pdQ";
        try {
            ::tetrahedralize(detect, &in, &intersections);
        } catch (int code) {
            throw BakeError(sourceName +
                            ": TetGen could not check the surface: " + tetgenFailure(code));
        }
        if (intersections.numberoftrifaces > 0) {
            std::ostringstream message;
            message << sourceName << ": the surface intersects itself ("
                    << intersections.numberoftrifaces << " triangles involved)";
            throw BakeError(message.str());
        }
    }

    // p: piecewise linear complex input; q: quality bound; a: volume bound; Y: keep the boundary
    // (no Steiner points on it, so the surface numbering survives); Q: quiet.
    char switches[128];
    if (options.maxVolume > 0.0)
        std::snprintf(switches, sizeof switches, "pq%.6ga%.6gYQ", options.radiusEdgeRatio,
                      options.maxVolume);
    else
        std::snprintf(switches, sizeof switches, "pq%.6gYQ", options.radiusEdgeRatio);
    try {
        ::tetrahedralize(switches, &in, &out);
    } catch (int code) {
        throw BakeError(sourceName +
                        ": TetGen could not tetrahedralise the surface: " + tetgenFailure(code));
    }

    if (out.numberofcorners != 4 || out.numberoftetrahedra <= 0)
        throw BakeError(sourceName + ": TetGen produced no linear tetrahedra");
    TetMesh mesh;
    mesh.surfaceNodeCount = in.numberofpoints;
    mesh.nodes.resize(out.numberofpoints);
    for (int i = 0; i < out.numberofpoints; ++i)
        mesh.nodes[i] = Eigen::Vector3d(out.pointlist[3 * i], out.pointlist[3 * i + 1],
                                        out.pointlist[3 * i + 2]);
    // The surface numbering must survive: node i is surface vertex i, bit for bit.
    if (out.numberofpoints < in.numberofpoints)
        throw BakeError(sourceName + ": TetGen dropped surface vertices");
    for (int i = 0; i < in.numberofpoints; ++i) {
        if (mesh.nodes[i] != surface.positions[i]) {
            std::ostringstream message;
            message << sourceName << ": TetGen moved or reordered surface vertex " << i + 1
                    << "; the mode-shape rows would not match the OBJ vertices";
            throw BakeError(message.str());
        }
    }
    mesh.tets.resize(out.numberoftetrahedra);
    std::vector<char> used(out.numberofpoints, 0);
    for (int t = 0; t < out.numberoftetrahedra; ++t) {
        for (int c = 0; c < 4; ++c) {
            mesh.tets[t][c] = out.tetrahedronlist[4 * t + c];
            used[mesh.tets[t][c]] = 1;
        }
        if (tetVolume(mesh, t) < 0.0) std::swap(mesh.tets[t][2], mesh.tets[t][3]);
        if (!(tetVolume(mesh, t) > 0.0)) {
            std::ostringstream message;
            message << sourceName << ": TetGen made a flat tetrahedron (" << t + 1 << ")";
            throw BakeError(message.str());
        }
    }
    for (int i = 0; i < out.numberofpoints; ++i) {
        if (!used[i]) {
            std::ostringstream message;
            message << sourceName << ": vertex " << i + 1
                    << " belongs to no tetrahedron (is it inside the solid or a loose vertex?)";
            throw BakeError(message.str());
        }
    }
    return options.order == 2 ? addEdgeNodes(mesh) : mesh;
}
