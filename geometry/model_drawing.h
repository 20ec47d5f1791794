// Drawing an ObjModel with OpenGL immediate mode: shaded triangles by group with materials
// (glmDraw, or compiled once into a display list), the face outline edges, the vertices as
// points, and the vertices as named points for OpenGL selection. The scene objects
// (geometry/scene_object.h) call these inside their pose transform; the caller owns every other
// OpenGL state (lighting, colour, stencil, polygon offset, point size). GUI thread only, with
// the window's OpenGL context current.
#pragma once

#include <cstdint>

#include "geometry/obj_model.h"

// Render mode bits of glmDraw, and what each needs in the model.
enum RenderModeBits : uint32_t {
    RenderFlat = 1,       // one normal per triangle; needs facetNormals
    RenderSmooth = 2,     // one normal per corner; needs normals
    RenderTexture = 4,    // texture coordinates per corner; needs texCoords
    RenderColor = 8,      // the current colour follows the material's diffuse; needs materials
    RenderMaterial = 16,  // OpenGL material parameters per group; needs materials
};

// Draws every triangle of the model, group by group (newest group first), as GL_TRIANGLES.
// A mode bit whose data the model lacks is dropped with a "glmDraw() warning: ..." line on
// standard output; flat together with smooth keeps smooth, colour together with material keeps
// material (each with its warning). Colour enables GL_COLOR_MATERIAL; material alone disables it.
void glmDraw(ObjModel* model, uint32_t mode);

// Compiles glmDraw(model, mode) into a new display list (GL_COMPILE) and returns its name; any
// glmDraw warnings are printed once, while compiling.
uint32_t glmBuildDisplayList(ObjModel* model, uint32_t mode);

// Draws the face outline edges of every group as GL_LINES, from a client vertex array over
// model->vertices (entry 0 included, so the 1-based indices address it directly).
void glmDrawEdges(ObjModel* model);

// Draws vertices 1..vertexCount as GL_POINTS.
void glmDrawPoints(ObjModel* model);

// Draws the listed vertices as GL_POINTS: `indices` holds `count` 0-based vertex indices (index i
// is model vertex i + 1). A count of 0 draws an empty batch.
void glmDrawSelectedPoints(ObjModel* model, const int* indices, int count);

// Draws each vertex i (1..vertexCount) as one point under the selection name i, so an OpenGL
// selection hit named i is model vertex i, the 0-based vertex i - 1. Returns vertexCount.
int glmDrawVertexNames(ObjModel* model);
