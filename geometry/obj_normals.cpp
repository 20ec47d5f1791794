// Facet normals and crease-angle vertex normals of an ObjModel.
//
// The vertex normals are built from per-vertex membership lists: every triangle corner puts its
// triangle at the front of its vertex's list, so the head of a list is the last triangle in file
// order that uses the vertex. Normals that are compared with the head's facet normal at more
// than cos(angle) are averaged into one shared normal; the others stay facet normals.
#include "geometry/obj_normals.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

float* allocateNormals(size_t count, const ObjModel* model) {
    float* block = static_cast<float*>(calloc(3 * (count + 1), sizeof(float)));
    if (block == nullptr) {
        printf("glmComputeVertexNormals() failed: out of memory for the normals of \"%s\".\n",
               model->fileName);
        exit(1);
    }
    return block;
}

float dot3(const float* a, const float* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

}  // namespace

void glmComputeFacetNormals(ObjModel* model) {
    free(model->facetNormals);
    model->facetNormalCount = model->triangleCount;
    model->facetNormals = allocateNormals(model->triangleCount, model);
    for (uint32_t i = 0; i < model->triangleCount; ++i) {
        ObjTriangle& t = model->triangles[i];
        t.facetNormalIndex = i + 1;
        const float* p0 = &model->vertices[3 * t.vertexIndices[0]];
        const float* p1 = &model->vertices[3 * t.vertexIndices[1]];
        const float* p2 = &model->vertices[3 * t.vertexIndices[2]];
        const float u[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
        const float v[3] = {p2[0] - p0[0], p2[1] - p0[1], p2[2] - p0[2]};
        float* n = &model->facetNormals[3 * (i + 1)];
        n[0] = u[1] * v[2] - u[2] * v[1];
        n[1] = u[2] * v[0] - u[0] * v[2];
        n[2] = u[0] * v[1] - u[1] * v[0];
        const float scale = static_cast<float>(1.0 / sqrt(static_cast<double>(dot3(n, n))));
        n[0] *= scale;
        n[1] *= scale;
        n[2] *= scale;
    }
}

void glmComputeVertexNormals(ObjModel* model, float angle) {
    // cos of the crease angle, with the angle and pi in single precision.
    const float threshold = static_cast<float>(
        cos(static_cast<double>(angle) * static_cast<double>(3.1415927f) * 0.005555555555555556));

    free(model->normals);
    float* normals = allocateNormals(3 * static_cast<size_t>(model->triangleCount), model);

    // Membership lists as index chains: head[v] is the newest member of vertex v.
    struct Member {
        uint32_t triangle;
        int32_t next;
        bool averaged;
    };
    const size_t memberCount = 3 * static_cast<size_t>(model->triangleCount);
    std::vector<Member> members;
    members.reserve(memberCount);
    std::vector<int32_t> head(model->vertexCount + 1, -1);
    for (uint32_t i = 0; i < model->triangleCount; ++i) {
        for (int k = 0; k < 3; ++k) {
            const uint32_t v = model->triangles[i].vertexIndices[k];
            members.push_back(Member{i, head[v], false});
            head[v] = static_cast<int32_t>(members.size() - 1);
        }
    }

    // Corners not yet given a normal carry index 0. A triangle that names one vertex at two
    // corners has two members for it, and each takes the next corner still open.
    for (uint32_t i = 0; i < model->triangleCount; ++i) {
        memset(model->triangles[i].normalIndices, 0, sizeof model->triangles[i].normalIndices);
    }
    auto assignCorner = [model](uint32_t triangle, uint32_t v, uint32_t normalIndex) {
        ObjTriangle& t = model->triangles[triangle];
        for (int k = 0; k < 3; ++k) {
            if (t.vertexIndices[k] == v && t.normalIndices[k] == 0) {
                t.normalIndices[k] = normalIndex;
                return;
            }
        }
    };
    auto facetNormal = [model](uint32_t triangle) {
        return &model->facetNormals[3 * model->triangles[triangle].facetNormalIndex];
    };

    uint32_t next = 1;
    for (uint32_t v = 1; v <= model->vertexCount; ++v) {
        if (head[v] < 0) continue;
        const float* h = facetNormal(members[head[v]].triangle);
        float sum[3] = {0, 0, 0};
        bool anyAveraged = false;
        for (int32_t m = head[v]; m >= 0; m = members[m].next) {
            const float* n = facetNormal(members[m].triangle);
            members[m].averaged = dot3(n, h) > threshold;
            if (members[m].averaged) {
                sum[0] += n[0];
                sum[1] += n[1];
                sum[2] += n[2];
                anyAveraged = true;
            }
        }
        uint32_t average = 0;
        if (anyAveraged) {
            const float scale = static_cast<float>(1.0 / sqrt(static_cast<double>(dot3(sum, sum))));
            float* out = &normals[3 * next];
            out[0] = sum[0] * scale;
            out[1] = sum[1] * scale;
            out[2] = sum[2] * scale;
            average = next++;
        }
        for (int32_t m = head[v]; m >= 0; m = members[m].next) {
            if (members[m].averaged) {
                assignCorner(members[m].triangle, v, average);
            } else {
                memcpy(&normals[3 * next], facetNormal(members[m].triangle), 3 * sizeof(float));
                assignCorner(members[m].triangle, v, next);
                next++;
            }
        }
    }

    // Keep exactly the normals made, entry 0 included.
    model->normalCount = next - 1;
    model->normals = allocateNormals(model->normalCount, model);
    memcpy(model->normals, normals, 3 * sizeof(float) * (static_cast<size_t>(next)));
    free(normals);
}
