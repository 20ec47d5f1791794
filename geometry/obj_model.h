// The in-memory mesh of every visible object: what the OBJ/MTL reader (geometry/obj_reader.h)
// fills, the drawing code (geometry/model_drawing.h) draws and the scene objects own, plus the
// small bookkeeping operations on groups and materials that the reader builds it with.
//
// Indices stored in a model are the OBJ file's own 1-based indices: every per-element array
// (vertices, normals, texture coordinates, facet normals) has one entry more than its count, and
// entry 0 holds zeros (a face that carries no normal or texture index refers to it). Floats are
// single precision. Read at start-up on the GUI thread; never changed by the audio thread.
#pragma once

#include <cstdint>

struct ObjTriangle {
    uint32_t vertexIndices[3];    // the three corners, 1-based
    uint32_t normalIndices[3];    // the corners' normals, 0 when the face gives none
    uint32_t texCoordIndices[3];  // the corners' texture coordinates, 0 when the face gives none
    uint32_t facetNormalIndex;    // set by glmComputeFacetNormals: triangle i gets i + 1
};

struct ObjGroup {
    char* name;                 // owned; keeps the leading blanks of the group line
    uint32_t triangleCount;     // number of triangles of the group
    uint32_t* triangleIndices;  // owned, triangleCount 0-based indices into the model's triangles
    uint32_t edgeCount;         // number of outline edges of the group's faces
    uint32_t (*edges)[2];       // owned, edgeCount pairs of 1-based vertex indices
    uint32_t material;          // index into the model's materials, 0 until set
    ObjGroup* next;             // next group in the list (newest first)
};

struct ObjMaterial {
    char* name;            // owned, "default" until a library names it
    float diffuse[4];      // r, g, b, a
    float ambient[4];      // r, g, b, a
    float specular[4];     // r, g, b, a
    float shininess;       // OpenGL's 0..128 scale
    uint32_t textureId;    // never set by this system
    char* textureMapName;  // owned or null
    int32_t hasTexture;    // always 0: models are never textured
};

struct ObjModel {
    char* fileName;         // owned copy of the file name the model was read from
    char* materialLibrary;  // owned name from the material-library line, or null

    uint32_t vertexCount;
    float* vertices;  // 3 * (vertexCount + 1): x, y, z of vertex i at 3i, 3i+1, 3i+2

    uint32_t normalCount;
    float* normals;  // 3 * (normalCount + 1), or null

    uint32_t texCoordCount;
    float* texCoords;  // 2 * (texCoordCount + 1), or null

    uint32_t facetNormalCount;
    float* facetNormals;  // 3 * (facetNormalCount + 1), or null; one unit normal per triangle

    uint32_t triangleCount;
    ObjTriangle* triangles;  // triangleCount entries, 0-based

    uint32_t materialCount;  // at least 1
    ObjMaterial* materials;  // materialCount entries; entry 0 is "default"

    uint32_t groupCount;
    ObjGroup* groups;  // singly linked, newest group first
};

// Releases the material array and its names and allocates `count`
// materials with the defaults (diffuse 0.6 grey, ambient 0.2 grey, specular black, alphas 1,
// shininess 65, no texture) and the name "default"; sets materialCount.
// Precondition: count >= 1.
void glmResetMaterials(ObjModel* model, uint32_t count);

// Index of the first material whose name equals `name` exactly (case-sensitive), searching from
// index 0. When none does, prints "glmFindMaterial():  can't find material \"<name>\"." to
// standard output and returns 0.
uint32_t glmFindMaterial(ObjModel* model, const char* name);

// The first group in list order whose name equals `name` exactly, or null.
ObjGroup* glmGroupByName(ObjModel* model, const char* name);

// The group called `name`; when there is none, a new empty one (name copied, material 0) is put
// at the head of the list and groupCount grows by one.
ObjGroup* glmEnsureGroup(ObjModel* model, const char* name);

// Owned copy of everything before the last '/' or '\\' of `fileName`; "." when the name holds
// neither (or is empty). "chair/chair.obj" gives "chair", "/x.obj" gives "".
char* glmModelDirectory(const char* fileName);

// Appends to group->edges the outline of the face that was fan-triangulated into the triangles
// first..last (0-based, consecutive): (v0, v1) and (v1, v2) of the first triangle, (v1, v2) of
// every later one, and (v2 of the last, v0 of the first); k edges for a face of k corners, none
// of them a diagonal. Precondition: group->edges has room for them.
void glmAddFaceOutline(ObjModel* model, ObjGroup* group, uint32_t first, uint32_t last);

// Frees a model and everything it owns (material names included). The program keeps its models
// until it ends; tests and tools that read many release them here.
void glmDelete(ObjModel* model);
