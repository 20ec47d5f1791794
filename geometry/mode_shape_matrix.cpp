// Mode-shape matrix: U^T applied to a force that is zero at every vertex but one.
#include "geometry/mode_shape_matrix.h"

#include <cstring>

ModeShapeMatrix::ModeShapeMatrix(int vertexCount_, int modeCount_, const double* elements)
    : values(nullptr), modeCount(modeCount_), vertexCount(vertexCount_) {
    const size_t count = 3 * static_cast<size_t>(vertexCount) * static_cast<size_t>(modeCount);
    values = new double[count > 0 ? count : 1];
    if (count > 0) memcpy(values, elements, count * sizeof(double));
}

ModeShapeMatrix::~ModeShapeMatrix() { delete[] values; }

int ModeShapeMatrix::addPointForce(int vertex, double fx, double fy, double fz,
                                   double* modalForces) const {
    for (int j = 0; j < modeCount; ++j) {
        const double* u =
            values + (static_cast<size_t>(vertex) + static_cast<size_t>(j) * vertexCount) * 3;
        modalForces[j] = (fy * u[1] + fz * u[2]) + fx * u[0] + modalForces[j];
    }
    return modeCount;
}
