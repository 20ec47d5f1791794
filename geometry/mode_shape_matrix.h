// The modal displacement matrix of the struck object, built once at scene loading from the
// scene's ".U" file, and the projection of a point force onto the modes that every impact uses.
//
// Layout (column-major, as in the file): the displacement of vertex v (0-based, in the order of
// the main model's vertex lines) along coordinate k (x, y, z) in mode j is
// values[(v + j * vertexCount) * 3 + k]. The baked values are the mass-normalised mode shapes
// (U^T M U = I) times the scene's force unit, the newtons one unit of the program's force stands
// for (tools/bake/output/loudness_calibration.h), so the modal force of a point force F (program
// units) at vertex v is q_j = U_vj . F, in newtons for a unit modal mass.
#pragma once

class ModeShapeMatrix {
  public:
    // Copies 3 * vertexCount * modeCount doubles from `elements`, which stays the caller's.
    ModeShapeMatrix(int vertexCount, int modeCount, const double* elements);
    ~ModeShapeMatrix();
    ModeShapeMatrix(const ModeShapeMatrix&) = delete;
    ModeShapeMatrix& operator=(const ModeShapeMatrix&) = delete;

    // Adds the projection of the force (fx, fy, fz) at 0-based `vertex` onto every mode to
    // modalForces[0 .. modeCount-1] (not cleared first) and returns modeCount.
    // Precondition: 0 <= vertex < vertexCount; modalForces holds at least modeCount doubles.
    // Real-time: no allocation, no I/O, no lock (the caller holds forceMutex).
    int addPointForce(int vertex, double fx, double fy, double fz, double* modalForces) const;

    double* values;   // 3 * vertexCount * modeCount doubles, owned
    int modeCount;    // columns of the .U file
    int vertexCount;  // rows of the .U file / 3, rounded toward zero
};
