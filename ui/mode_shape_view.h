// The struck object drawn displaced by one of its vibration modes, for the Modes window: the
// surface moved along the mode shape, animated slowly and exaggerated to a visible amplitude,
// coloured by how far each point moves. Drawn by the frame display in place of the object's
// own picture while the Modes window asks for it; the fixtures and the floor are not touched.
// GUI thread only, with the window's OpenGL context current.
#pragma once

class SceneObject;
class ModeShapeMatrix;

// Peak displacement of the drawn surface, as a fraction of the object's radius (the largest
// distance of a vertex from the vertices' centroid).
constexpr double kModeShapeExaggeration = 0.08;
// Cycles per second of the animation.
constexpr double kModeShapeCyclesPerSecond = 1.0;

// Peak surface displacement per unit of the mode shape: kModeShapeExaggeration times the
// object's radius over max_v |u_v|, so the vertex that moves most moves by that fraction of the
// radius. `rest` holds 3 * vertexCount rest coordinates; `shape` the mode's 3 * vertexCount
// displacements (vertex v at 3v .. 3v+2). Returns 0 for a mode that moves no vertex.
double modeShapeScale(const double* rest, const double* shape, int vertexCount);

// Draws `object`'s triangles under its pose with vertex v at p_v + a sin(2 pi f t) u_v (u_v the
// displacement of vertex v in mode `mode` of `shapes`, a = modeShapeScale, f =
// kModeShapeCyclesPerSecond, t = `seconds`), its rest normals, and the colour of the level
// meter's ramp at |u_v| / max |u| (dark blue on the nodal lines, red where it moves most), lit.
// Vertices the mode shapes do not cover stay at rest. The caller sets the stencil reference.
// Precondition: 0 <= mode < shapes.modeCount.
void drawModeShape(const SceneObject& object, const ModeShapeMatrix& shapes, int mode,
                   double seconds);
