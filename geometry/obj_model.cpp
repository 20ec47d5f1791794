// Bookkeeping on ObjModel: materials, groups, face outlines, the model's directory, release.
#include "geometry/obj_model.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

void glmResetMaterials(ObjModel* model, uint32_t count) {
    // The old names go with their array: nothing else points at them.
    for (uint32_t i = 0; i < model->materialCount; ++i) {
        free(model->materials[i].name);
        free(model->materials[i].textureMapName);
    }
    free(model->materials);
    model->materials = static_cast<ObjMaterial*>(calloc(count, sizeof(ObjMaterial)));
    if (model->materials == nullptr) {
        printf("glmResetMaterials() failed: out of memory for %u materials of \"%s\".\n", count,
               model->fileName != nullptr ? model->fileName : "");
        exit(1);
    }
    for (uint32_t i = 0; i < count; ++i) {
        ObjMaterial& m = model->materials[i];
        m.name = strdup("default");
        for (int k = 0; k < 3; ++k) {
            m.diffuse[k] = 0.6f;
            m.ambient[k] = 0.2f;
            m.specular[k] = 0.0f;
        }
        m.diffuse[3] = m.ambient[3] = m.specular[3] = 1.0f;
        m.shininess = 65.0f;
        m.textureMapName = nullptr;
        m.hasTexture = 0;
    }
    model->materialCount = count;
}

uint32_t glmFindMaterial(ObjModel* model, const char* name) {
    for (uint32_t i = 0; i < model->materialCount; ++i) {
        if (strcmp(model->materials[i].name, name) == 0) return i;
    }
    printf("glmFindMaterial():  can't find material \"%s\".\n", name);
    return 0;
}

ObjGroup* glmGroupByName(ObjModel* model, const char* name) {
    for (ObjGroup* group = model->groups; group != nullptr; group = group->next) {
        if (strcmp(name, group->name) == 0) return group;
    }
    return nullptr;
}

ObjGroup* glmEnsureGroup(ObjModel* model, const char* name) {
    ObjGroup* group = glmGroupByName(model, name);
    if (group != nullptr) return group;
    group = static_cast<ObjGroup*>(calloc(1, sizeof(ObjGroup)));
    group->name = strdup(name);
    group->next = model->groups;
    model->groups = group;
    model->groupCount++;
    return group;
}

char* glmModelDirectory(const char* fileName) {
    const char* slash = strrchr(fileName, '/');
    const char* backslash = strrchr(fileName, '\\');
    const char* last = slash > backslash ? slash : backslash;
    if (last == nullptr) return strdup(".");
    return strndup(fileName, static_cast<size_t>(last - fileName));
}

void glmAddFaceOutline(ObjModel* model, ObjGroup* group, uint32_t first, uint32_t last) {
    const ObjTriangle* T = model->triangles;
    auto append = [group](uint32_t a, uint32_t b) {
        group->edges[group->edgeCount][0] = a;
        group->edges[group->edgeCount][1] = b;
        group->edgeCount++;
    };
    append(T[first].vertexIndices[0], T[first].vertexIndices[1]);
    append(T[first].vertexIndices[1], T[first].vertexIndices[2]);
    for (uint32_t t = first + 1; t <= last; ++t) {
        append(T[t].vertexIndices[1], T[t].vertexIndices[2]);
    }
    append(T[last].vertexIndices[2], T[first].vertexIndices[0]);
}

void glmDelete(ObjModel* model) {
    if (model == nullptr) return;
    free(model->fileName);
    free(model->materialLibrary);
    free(model->vertices);
    free(model->normals);
    free(model->texCoords);
    free(model->facetNormals);
    free(model->triangles);
    for (uint32_t i = 0; i < model->materialCount; ++i) {
        free(model->materials[i].name);
        free(model->materials[i].textureMapName);
    }
    free(model->materials);
    for (ObjGroup* group = model->groups; group != nullptr;) {
        ObjGroup* next = group->next;
        free(group->name);
        free(group->triangleIndices);
        free(group->edges);
        free(group);
        group = next;
    }
    free(model);
}
