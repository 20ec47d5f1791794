// The surface the boundary element solver works on, and each mode's normal velocity on it. The
// surface written to the scene (and meshed into tetrahedra) is far too fine for a dense boundary
// element matrix; the acoustic field only needs a few elements per wavelength at the highest
// mode, so the transfer stage solves on a coarser copy and carries the mode shapes over to it.
#pragma once

#include <Eigen/Core>
#include <string>

#include "tools/bake/recipe/recipe.h"
#include "tools/bake/surface/surface_mesh.h"

// Element count wanted for a surface of `area` (m^2) whose highest mode is at `maxFrequency`
// (Hz): elementsPerWavelength elements along the wavelength c / f (c = 343 m/s) with
// equilateral-ish triangles, clamped to [minElements, maxElements] of `options`.
int acousticElementTarget(double area, double maxFrequency, const TransferSettings& options);

// The surface with its longest edges bisected (each with the two triangles that share it) until it
// has at least `targetTriangles` triangles: the same shape, finer. Precondition: closed, manifold.
SurfaceMesh refineSurface(const SurfaceMesh& surface, int targetTriangles);

// A closed, outward-oriented copy of the struck object's surface with about `targetTriangles`
// triangles: `fine` refined when it has fewer (refineSurface); otherwise the procedural shapes
// are made again
// with a coarser spacing (their element sizes stay even) and a wrapped mesh, or a procedural one
// that cannot get coarse enough, is simplified by edge collapse. Throws BakeError (naming the
// recipe) when no usable surface results.
SurfaceMesh makeAcousticSurface(const Recipe& recipe, const SurfaceMesh& fine, int targetTriangles);

// Surface area of a triangle mesh, m^2.
double surfaceArea(const SurfaceMesh& mesh);

// Normal velocity of every triangle of `coarse` for each mode (triangles x modes, m/s for unit
// modal velocity): the fine surface's vertex displacements `shapes` (3 * fine vertices x modes,
// row 3v + axis) interpolated with barycentric weights at the nearest point of the fine surface
// facing the same way (normals less than 90 degrees apart, so the two sides of a thin wall are
// kept apart), averaged over the centroid and three interior points of the coarse triangle and
// dotted with its outward normal. Uses all hardware threads (parallel_for.h).
Eigen::MatrixXd interpolateNormalVelocity(const SurfaceMesh& fine, const Eigen::MatrixXd& shapes,
                                          const SurfaceMesh& coarse);
