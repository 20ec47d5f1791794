// Alpha wrapping and edge-collapse simplification with CGAL (see wrap_surface.h).
#include "tools/bake/surface/wrap_surface.h"

#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Polygon_mesh_processing/orientation.h>
#include <CGAL/Polygon_mesh_processing/self_intersections.h>
#include <CGAL/Surface_mesh.h>
#include <CGAL/Surface_mesh_simplification/Policies/Edge_collapse/Bounded_normal_change_filter.h>
#include <CGAL/Surface_mesh_simplification/Policies/Edge_collapse/Count_stop_predicate.h>
#include <CGAL/Surface_mesh_simplification/Policies/Edge_collapse/GarlandHeckbert_plane_policies.h>
#include <CGAL/Surface_mesh_simplification/edge_collapse.h>
#include <CGAL/alpha_wrap_3.h>

#include <array>
#include <map>
#include <vector>

#include "tools/bake/common/bake_error.h"

namespace {

using Kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
using Point = Kernel::Point_3;
using Mesh = CGAL::Surface_mesh<Point>;
namespace SMS = CGAL::Surface_mesh_simplification;
namespace PMP = CGAL::Polygon_mesh_processing;

// Edge collapse to about `targetVertexCount` vertices. Edge collapse keeps the surface closed and
// manifold but may fold it into itself. The input is intersection-free, so try the target and,
// if the result intersects, targets half as coarse again (closer to the input) until one is
// clean; when none is, the input stays as it is.
void simplifyInPlace(Mesh& mesh, int targetVertexCount) {
    if (static_cast<int>(mesh.number_of_vertices()) <= targetVertexCount) return;
    double target = targetVertexCount;
    for (;;) {
        Mesh simplified = mesh;
        // A closed surface of genus g has E = 3V - 6 + 6g edges: stop at the edge count of the
        // target vertex count.
        SMS::Count_stop_predicate<Mesh> stop(static_cast<std::size_t>(3.0 * target));
        SMS::GarlandHeckbert_plane_policies<Mesh, Kernel> policies(simplified);
        SMS::edge_collapse(simplified, stop,
                           CGAL::parameters::get_cost(policies.get_cost())
                               .get_placement(policies.get_placement())
                               .filter(SMS::Bounded_normal_change_filter<>()));
        simplified.collect_garbage();
        if (!PMP::does_self_intersect(simplified)) {
            mesh = std::move(simplified);
            return;
        }
        target *= 1.5;
        if (target >= mesh.number_of_vertices()) return;
    }
}

SurfaceMesh toSurfaceMesh(const Mesh& wrap) {
    SurfaceMesh mesh;
    std::map<Mesh::Vertex_index, int> index;
    for (Mesh::Vertex_index v : wrap.vertices()) {
        index[v] = static_cast<int>(mesh.positions.size());
        const Point& p = wrap.point(v);
        mesh.positions.emplace_back(p.x(), p.y(), p.z());
    }
    for (Mesh::Face_index f : wrap.faces()) {
        std::array<int, 3> tri;
        int c = 0;
        for (Mesh::Vertex_index v : CGAL::vertices_around_face(wrap.halfedge(f), wrap))
            tri[c++] = index[v];
        mesh.triangles.push_back(tri);
    }
    return mesh;
}

// `surface` as a CGAL surface mesh into the empty `mesh`, vertices and faces in their order (face f
// is triangle f); false when a face cannot be added because the surface is not a manifold.
bool toCgalMesh(const SurfaceMesh& surface, Mesh* mesh) {
    std::vector<Mesh::Vertex_index> vertices;
    vertices.reserve(surface.positions.size());
    for (const auto& p : surface.positions)
        vertices.push_back(mesh->add_vertex(Point(p.x(), p.y(), p.z())));
    for (const auto& t : surface.triangles)
        if (mesh->add_face(vertices[t[0]], vertices[t[1]], vertices[t[2]]) == Mesh::null_face())
            return false;
    return true;
}

}  // namespace

SurfaceMesh wrapSurface(const SurfaceMesh& soup, const WrapOptions& options,
                        const std::string& sourceName) {
    Eigen::Vector3d lower, upper;
    boundingBox(soup, lower, upper);
    const double diagonal = (upper - lower).norm();
    if (!(diagonal > 0.0)) throw BakeError(sourceName + ": the mesh has no extent");

    std::vector<Point> points;
    points.reserve(soup.positions.size());
    for (const auto& p : soup.positions) points.emplace_back(p.x(), p.y(), p.z());
    std::vector<std::array<std::size_t, 3>> faces;
    faces.reserve(soup.triangles.size());
    for (const auto& t : soup.triangles)
        faces.push_back({std::size_t(t[0]), std::size_t(t[1]), std::size_t(t[2])});

    Mesh wrap;
    CGAL::alpha_wrap_3(points, faces, options.relativeAlpha * diagonal,
                       options.relativeOffset * diagonal, wrap);
    if (wrap.number_of_faces() == 0)
        throw BakeError(sourceName + ": alpha wrapping produced no surface");

    if (!CGAL::is_closed(wrap) || !CGAL::is_triangle_mesh(wrap))
        throw BakeError(sourceName + ": the wrapped surface is not closed");
    if (options.targetVertexCount > 0) simplifyInPlace(wrap, options.targetVertexCount);
    if (!PMP::is_outward_oriented(wrap)) PMP::reverse_face_orientations(wrap);

    SurfaceMesh mesh = toSurfaceMesh(wrap);
    const std::string problem = closedManifoldProblem(mesh);
    if (!problem.empty())
        throw BakeError(sourceName + ": the wrapped surface is unusable: " + problem);
    return mesh;
}

std::string selfIntersectionProblem(const SurfaceMesh& surface) {
    Mesh mesh;
    if (!toCgalMesh(surface, &mesh)) return "it is not a manifold";
    // Faces are numbered in the order they were added: face f is triangle f.
    std::vector<std::pair<Mesh::Face_index, Mesh::Face_index>> pairs;
    PMP::self_intersections(mesh, std::back_inserter(pairs));
    if (pairs.empty()) return "";
    return "triangles " + std::to_string(std::size_t(pairs.front().first) + 1) + " and " +
           std::to_string(std::size_t(pairs.front().second) + 1) + " intersect";
}

SurfaceMesh simplifySurface(const SurfaceMesh& surface, int targetVertexCount,
                            const std::string& sourceName) {
    Mesh mesh;
    if (!toCgalMesh(surface, &mesh))
        throw BakeError(sourceName + ": the surface to simplify is not a manifold");
    simplifyInPlace(mesh, targetVertexCount);
    SurfaceMesh simplified = toSurfaceMesh(mesh);
    const std::string problem = closedManifoldProblem(simplified);
    if (!problem.empty())
        throw BakeError(sourceName + ": the simplified surface is unusable: " + problem);
    return simplified;
}
