// libFuzzer target for the baker's mesh import (OBJ and PLY, plain or gzipped). The input's first
// byte chooses the file: 0 an OBJ file, 1 a PLY file, 2 and 3 the same gzipped by this target
// (so the readers see real compressed data), 4 the bytes as they are under a ".ply.gz" name (a
// broken or foreign gzip stream); the rest of the input is the file's content. Bad meshes end in
// a BakeError naming the file. Beyond what the sanitizers find, a mesh the import accepts must be
// a soup the wrap can take: triangles, every index within the vertices, every coordinate finite,
// some triangle with an area, and counts within the import's bounds.
#include <unistd.h>
#include <zlib.h>

#include <Eigen/Geometry>
#include <cstdlib>
#include <string>

#include "tests/fuzz/fuzz_support.h"
#include "tools/bake/common/bake_error.h"
#include "tools/bake/surface/mesh_import.h"

namespace {

void writeGzipped(const std::string& path, const uint8_t* data, size_t size) {
    gzFile file = gzopen(path.c_str(), "wb");
    if (file == nullptr) abort();
    if (size > 0 && gzwrite(file, data, static_cast<unsigned>(size)) != static_cast<int>(size))
        abort();
    gzclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const char* const kNames[5] = {"m.obj", "m.ply", "m.obj.gz", "m.ply.gz", "m.ply.gz"};
    const int kind = data[0] % 5;
    const std::string path = std::string(fuzz::scratchDirectory()) + "/" + kNames[kind];
    if (kind == 2 || kind == 3)
        writeGzipped(path, data + 1, size - 1);
    else
        fuzz::writeFile(path, data + 1, size - 1);

    try {
        const SurfaceMesh mesh = readTriangleSoup(path);
        fuzz::require(!mesh.triangles.empty(), "some triangles");
        fuzz::require(mesh.triangles.size() <= 10000000 && mesh.positions.size() <= 10000000,
                      "counts within the bounds");
        const int n = static_cast<int>(mesh.positions.size());
        bool anyArea = false;
        for (const auto& t : mesh.triangles) {
            for (int c = 0; c < 3; ++c) fuzz::require(t[c] >= 0 && t[c] < n, "index in range");
            const Eigen::Vector3d& p0 = mesh.positions[t[0]];
            anyArea =
                anyArea || (mesh.positions[t[1]] - p0).cross(mesh.positions[t[2]] - p0).norm() > 0;
        }
        fuzz::require(anyArea, "some triangle has an area");
        for (const auto& p : mesh.positions) fuzz::require(p.allFinite(), "finite coordinates");
    } catch (const BakeError& error) {
        fuzz::require(std::string(error.what()).rfind(path, 0) == 0,
                      "the message starts with the file's path");
    }
    return 0;
}
