// OpenGL drawing of ObjModels: triangles with materials, outline edges, points, named points.
#include "geometry/model_drawing.h"

#include <GL/gl.h>

#include <cstdio>

void glmDraw(ObjModel* model, uint32_t mode) {
    if ((mode & RenderFlat) && model->facetNormals == nullptr) {
        printf("glmDraw() warning: flat render mode requested with no facet normals defined.\n");
        mode &= ~RenderFlat;
    }
    if ((mode & RenderSmooth) && model->normals == nullptr) {
        printf("glmDraw() warning: smooth render mode requested with no normals defined.\n");
        mode &= ~RenderSmooth;
    }
    if ((mode & RenderTexture) && model->texCoords == nullptr) {
        printf(
            "glmDraw() warning: texture render mode requested with no texture coordinates "
            "defined.\n");
        mode &= ~RenderTexture;
    }
    if ((mode & RenderFlat) && (mode & RenderSmooth)) {
        printf(
            "glmDraw() warning: flat render mode requested and smooth render mode requested "
            "(using smooth).\n");
        mode &= ~RenderFlat;
    }
    if ((mode & RenderColor) && model->materials == nullptr) {
        printf("glmDraw() warning: color render mode requested with no materials defined.\n");
        mode &= ~RenderColor;
    }
    if ((mode & RenderMaterial) && model->materials == nullptr) {
        printf("glmDraw() warning: material render mode requested with no materials defined.\n");
        mode &= ~RenderMaterial;
    }
    if ((mode & RenderColor) && (mode & RenderMaterial)) {
        printf(
            "glmDraw() warning: color and material render mode requested using only material "
            "mode.\n");
        mode &= ~RenderColor;
    }

    if (mode & RenderColor) {
        glEnable(GL_COLOR_MATERIAL);
    } else if (mode & RenderMaterial) {
        glDisable(GL_COLOR_MATERIAL);
    }

    for (const ObjGroup* group = model->groups; group != nullptr; group = group->next) {
        glDisable(GL_TEXTURE_2D);
        const ObjMaterial& m = model->materials[group->material];
        if (mode & RenderMaterial) {
            glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, m.ambient);
            glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, m.diffuse);
            glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, m.specular);
            glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, m.shininess);
        }
        if (mode & RenderColor) glColor3fv(m.diffuse);

        glBegin(GL_TRIANGLES);
        for (uint32_t i = 0; i < group->triangleCount; ++i) {
            const ObjTriangle& t = model->triangles[group->triangleIndices[i]];
            if (mode & RenderFlat) glNormal3fv(&model->facetNormals[3 * t.facetNormalIndex]);
            for (int k = 0; k < 3; ++k) {
                if (mode & RenderSmooth) glNormal3fv(&model->normals[3 * t.normalIndices[k]]);
                if (mode & RenderTexture) {
                    glTexCoord2fv(&model->texCoords[2 * t.texCoordIndices[k]]);
                }
                glVertex3fv(&model->vertices[3 * t.vertexIndices[k]]);
            }
        }
        glEnd();
    }
}

uint32_t glmBuildDisplayList(ObjModel* model, uint32_t mode) {
    const GLuint list = glGenLists(1);
    glNewList(list, GL_COMPILE);
    glmDraw(model, mode);
    glEndList();
    return list;
}

void glmDrawEdges(ObjModel* model) {
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, model->vertices);
    glBegin(GL_LINES);
    for (const ObjGroup* group = model->groups; group != nullptr; group = group->next) {
        for (uint32_t e = 0; e < group->edgeCount; ++e) {
            glArrayElement(static_cast<GLint>(group->edges[e][0]));
            glArrayElement(static_cast<GLint>(group->edges[e][1]));
        }
    }
    glEnd();
    glDisableClientState(GL_VERTEX_ARRAY);
}

void glmDrawPoints(ObjModel* model) {
    glBegin(GL_POINTS);
    for (uint32_t i = 1; i <= model->vertexCount; ++i) glVertex3fv(&model->vertices[3 * i]);
    glEnd();
}

void glmDrawSelectedPoints(ObjModel* model, const int* indices, int count) {
    glBegin(GL_POINTS);
    for (int i = 0; i < count; ++i) glVertex3fv(&model->vertices[3 * (indices[i] + 1)]);
    glEnd();
}

int glmDrawVertexNames(ObjModel* model) {
    for (uint32_t i = 1; i <= model->vertexCount; ++i) {
        glLoadName(i);
        glBegin(GL_POINTS);
        glVertex3fv(&model->vertices[3 * i]);
        glEnd();
    }
    return static_cast<int>(model->vertexCount);
}
