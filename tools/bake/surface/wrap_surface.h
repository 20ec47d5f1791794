// Making any triangle soup (a scan with holes, a mesh with several pieces or self-intersections)
// into a closed, manifold, outward-oriented surface of a chosen size: CGAL's 3D alpha wrapping
// followed by Garland-Heckbert edge-collapse simplification. This file pair holds all the CGAL
// code of the baker, so it is compiled once.
#pragma once

#include <string>

#include "tools/bake/surface/surface_mesh.h"

struct WrapOptions {
    double relativeAlpha = 0.01;  // alpha as a fraction of the bounding box diagonal: the size of
                                  // the smallest gaps and tunnels that stay open
    double relativeOffset = 0.0005;  // distance of the wrap from the input, same unit
    int targetVertexCount = 4000;    // vertices after simplification (0: no simplification)
};

// Wraps `soup` and simplifies the result to about targetVertexCount vertices (more when the
// simplification at the target would make the surface intersect itself: then the smallest of
// 1.5, 2.25, ... times the target that stays clean). Throws BakeError naming `sourceName` when
// the wrap is empty, not a closed manifold, or intersects itself.
SurfaceMesh wrapSurface(const SurfaceMesh& soup, const WrapOptions& options,
                        const std::string& sourceName);

// "" when the closed manifold `surface` does not intersect itself, else which two triangles
// (1-based) cross. Triangles that share a vertex or an edge meet there without counting.
std::string selfIntersectionProblem(const SurfaceMesh& surface);

// A copy of the closed, outward-oriented `surface` simplified by the same edge collapse to about
// targetVertexCount vertices (more if the target would make it intersect itself; unchanged when
// it is already that small). Used for the coarser surface of the acoustic solver. Throws
// BakeError naming `sourceName` when the input is not a manifold or the result is unusable.
SurfaceMesh simplifySurface(const SurfaceMesh& surface, int targetVertexCount,
                            const std::string& sourceName);
