// libFuzzer target for the OBJ and MTL reader. An input is an OBJ file, optionally followed by a
// zero byte and the material library "m.mtl" that the OBJ file may name. The reader is built with
// TONWELL_OBJ_READER_THROWS, so bad input ends in an ObjReaderExit exception instead of exit(1).
//
// Beyond what AddressSanitizer finds, every model the reader returns must keep the reader's
// promises: each stored index within its array, the groups' triangles and edges within theirs,
// and the computed normals likewise.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "geometry/obj_normals.h"
#include "geometry/obj_reader.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "model invariant broken: %s\n", what);
        abort();
    }
}

void checkModel(const ObjModel* m) {
    require(m->materialCount >= 1, "at least one material");
    uint32_t groups = 0;
    uint32_t groupedTriangles = 0;
    for (const ObjGroup* g = m->groups; g != nullptr; g = g->next) {
        groups++;
        groupedTriangles += g->triangleCount;
        require(g->material < m->materialCount, "group material in range");
        for (uint32_t i = 0; i < g->triangleCount; ++i) {
            require(g->triangleIndices[i] < m->triangleCount, "group triangle in range");
        }
        for (uint32_t e = 0; e < g->edgeCount; ++e) {
            for (int k = 0; k < 2; ++k) {
                require(g->edges[e][k] >= 1 && g->edges[e][k] <= m->vertexCount,
                        "edge vertex in range");
            }
        }
    }
    require(groups == m->groupCount, "group count");
    require(groupedTriangles == m->triangleCount, "every triangle in one group");
    for (uint32_t i = 0; i < m->triangleCount; ++i) {
        const ObjTriangle& t = m->triangles[i];
        for (int k = 0; k < 3; ++k) {
            require(t.vertexIndices[k] >= 1 && t.vertexIndices[k] <= m->vertexCount,
                    "vertex index in range");
            require(t.normalIndices[k] <= m->normalCount, "normal index in range");
            require(t.texCoordIndices[k] <= m->texCoordCount, "texture index in range");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string directory = fuzz::scratchDirectory();
    const std::string objName = directory + "/m.obj";
    const uint8_t* split = static_cast<const uint8_t*>(memchr(data, 0, size));
    const size_t objSize = split != nullptr ? static_cast<size_t>(split - data) : size;
    fuzz::writeFile(objName, data, objSize);
    if (split != nullptr) {
        fuzz::writeFile(directory + "/m.mtl", split + 1, size - objSize - 1);
    } else {
        unlink((directory + "/m.mtl").c_str());
    }

    try {
        ObjModel* model = glmReadOBJ(objName.c_str());
        checkModel(model);
        glmComputeFacetNormals(model);
        glmComputeVertexNormals(model, 85.0f);
        checkModel(model);
        for (uint32_t i = 0; i < model->triangleCount; ++i) {
            for (int k = 0; k < 3; ++k) {
                require(model->triangles[i].normalIndices[k] >= 1,
                        "every corner has a computed normal");
            }
        }
        glmDelete(model);
    } catch (const ObjReaderExit& exit) {
        // Bad input, reported with its message: the program would have exited with code 1.
        if (exit.code != 1) abort();
        glmDelete(exit.model);
    }
    return 0;
}
