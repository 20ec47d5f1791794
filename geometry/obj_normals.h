// Shading normals of an ObjModel: one unit normal per triangle (facet normals), and per corner
// the facet normals averaged over the triangles around a vertex that meet at less than a crease
// angle (vertex normals). Scene loading runs them once per model that needs computed shading,
// on the GUI thread, before the model's display list is built.
#pragma once

#include "geometry/obj_model.h"

// Replaces model->facetNormals with one normal per triangle: for triangle i (0-based) with
// corners p0, p1, p2, normal i + 1 = (p1 - p0) x (p2 - p0) / |(p1 - p0) x (p2 - p0)|, so a
// triangle whose corners run counter-clockwise seen from outside gets the outward normal; and
// sets triangle i's facetNormalIndex to i + 1. A degenerate triangle (zero area) gets a normal
// of NaNs.
void glmComputeFacetNormals(ObjModel* model);

// Replaces model->normals and every triangle's normalIndices with smoothed corner normals.
// `angle` is the crease angle in degrees: at each vertex, the triangles whose facet normals make
// less than `angle` with the facet normal of the last triangle (in file order) using the vertex
// share one averaged unit normal; each other triangle keeps its own facet normal there.
// Vertices that no triangle uses get no normal. Precondition: glmComputeFacetNormals has run.
void glmComputeVertexNormals(ObjModel* model, float angle);
