// The mesh of a scene object together with how it is drawn: the model read from its OBJ file,
// the render mode, and the display list it is drawn from once one is built. GUI thread only;
// the drawing operations need the window's OpenGL context.
#pragma once

#include <cstdint>

#include "geometry/obj_model.h"

class RenderedMesh {
  public:
    // Prints "Loading the obj file <name> ...", flushes all output streams and reads the model
    // (glmReadOBJ: an unreadable file ends the process with its message and exit code 1); then
    // prints "Num vertices is: <count>". Render mode 18 (smooth + material), no display list.
    explicit RenderedMesh(const char* fileName);
    ~RenderedMesh();
    RenderedMesh(const RenderedMesh&) = delete;
    RenderedMesh& operator=(const RenderedMesh&) = delete;

    // Facet normals, then vertex normals with the crease angle `angle` in degrees (converted to
    // single precision). Call before buildDisplayList: the list captures the normals.
    void computeNormals(double angle);

    // Compiles the model with renderMode into a new display list, deleting the previous list
    // first when there is one.
    void buildDisplayList();

    // Calls the display list when there is one, else glmDraw(model, renderMode).
    void draw();

    // glmDrawPoints, glmDrawVertexNames (returns the vertex count), glmDrawEdges and
    // glmDrawSelectedPoints (0-based indices) on the model.
    void drawPoints();
    int drawVertexNames();
    void drawEdges();
    void drawSelectedPoints(int count, const int* indices);

    int32_t meshVertexCount;  // the model's vertexCount
    uint32_t renderMode;      // always 18: RenderSmooth + RenderMaterial
    ObjModel* model;          // owned
    uint32_t displayList;     // valid when hasDisplayList
    bool hasDisplayList;
};
