// Reading a user's triangle mesh for wrapping: Wavefront OBJ ("v" and "f" lines; polygons are
// fanned, normals and texture indices ignored) and PLY (ASCII or binary little-endian, vertex x,
// y, z as float or double, faces as a list of int or uint indices), either optionally gzipped.
// The result is a triangle soup: it may be open, non-manifold or self-intersecting; the wrapping
// step makes it a closed surface.
#pragma once

#include <string>

#include "tools/bake/surface/surface_mesh.h"

// Reads `path` (".obj", ".ply", each optionally with ".gz"). Throws BakeError naming the file and
// the line or element on unreadable or malformed input, or on a mesh without triangles.
SurfaceMesh readTriangleSoup(const std::string& path);
