// RenderedMesh: loading a mesh with its console lines, normals, display list, drawing.
#include "geometry/rendered_mesh.h"

#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>

#include "geometry/model_drawing.h"
#include "geometry/obj_normals.h"
#include "geometry/obj_reader.h"

RenderedMesh::RenderedMesh(const char* fileName)
    : meshVertexCount(0), renderMode(0), model(nullptr), displayList(0), hasDisplayList(false) {
    printf("Loading the obj file %s ...\n", fileName);
    fflush(nullptr);
    model = glmReadOBJ(fileName);
    if (model == nullptr) {
        printf("Error loading the mesh file %s .\n", fileName);
        exit(1);
    }
    meshVertexCount = static_cast<int32_t>(model->vertexCount);
    printf("Num vertices is: %d\n", meshVertexCount);
    renderMode = RenderSmooth | RenderMaterial;
}

RenderedMesh::~RenderedMesh() { glmDelete(model); }

void RenderedMesh::computeNormals(double angle) {
    glmComputeFacetNormals(model);
    glmComputeVertexNormals(model, static_cast<float>(angle));
}

void RenderedMesh::buildDisplayList() {
    if (hasDisplayList) glDeleteLists(displayList, 1);
    displayList = glmBuildDisplayList(model, renderMode);
    hasDisplayList = true;
}

void RenderedMesh::draw() {
    if (hasDisplayList) {
        glCallList(displayList);
    } else {
        glmDraw(model, renderMode);
    }
}

void RenderedMesh::drawPoints() { glmDrawPoints(model); }

int RenderedMesh::drawVertexNames() { return glmDrawVertexNames(model); }

void RenderedMesh::drawEdges() { glmDrawEdges(model); }

void RenderedMesh::drawSelectedPoints(int count, const int* indices) {
    glmDrawSelectedPoints(model, indices, count);
}
