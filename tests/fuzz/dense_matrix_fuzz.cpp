// libFuzzer target for the dense matrix reader, the format of a scene's ".U", ".freq", ".sources"
// and ".k" files. An input is one matrix file. Beyond what the sanitizers find, a matrix the
// reader accepts must be one the file really holds: counts not negative, 8 + 8 m n bytes at most
// the file's length, and the elements exactly the file's bytes. A ".U"-shaped matrix then goes
// through the mode-shape matrix and a point force at every vertex, as an impact would.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "geometry/dense_matrix.h"
#include "geometry/mode_shape_matrix.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string name = std::string(fuzz::scratchDirectory()) + "/m.U";
    fuzz::writeFile(name, data, size);

    int rows = -1, columns = -1;
    double* elements = nullptr;
    if (loadDenseMatrix(name.c_str(), &rows, &columns, &elements) != 0) {
        fuzz::require(elements == nullptr, "a failed read hands over no block");
        return 0;
    }
    fuzz::require(elements != nullptr, "a read matrix has a block");
    fuzz::require(rows >= 0 && columns >= 0, "counts are not negative");
    const uint64_t count = static_cast<uint64_t>(rows) * static_cast<uint64_t>(columns);
    fuzz::require(8 + 8 * count <= size, "the file holds every element it announces");
    fuzz::require(count == 0 || memcmp(elements, data + 8, 8 * count) == 0,
                  "the elements are the file's bytes");

    // As scene loading uses a ".U": 3 rows per vertex, a force at each vertex in turn.
    if (rows >= 3 && columns > 0 && count <= 4096) {
        ModeShapeMatrix shapes(rows / 3, columns, elements);
        std::vector<double> modalForces(columns, 0.0);
        for (int v = 0; v < shapes.vertexCount; ++v)
            fuzz::require(shapes.addPointForce(v, 0.0, 0.0, 0.0, modalForces.data()) == columns,
                          "a point force projects onto every mode");
        for (double f : modalForces) fuzz::require(f == 0.0 || std::isnan(f), "zero force adds 0");
    }
    free(elements);
    return 0;
}
