// Bookkeeping on models: the model's directory, groups by name, materials by name.
#include "geometry/obj_model.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string directoryOf(const char* fileName) {
    char* directory = glmModelDirectory(fileName);
    std::string result = directory;
    free(directory);
    return result;
}

ObjModel* emptyModel() {
    ObjModel* model = static_cast<ObjModel*>(calloc(1, sizeof(ObjModel)));
    model->fileName = strdup("test.obj");
    glmResetMaterials(model, 1);
    return model;
}

}  // namespace

TEST(ObjModel, DirectoryIsEverythingBeforeTheLastSeparator) {
    EXPECT_EQ(directoryOf("chair/chair.obj"), "chair");
    EXPECT_EQ(directoryOf("chair.obj"), ".");
    EXPECT_EQ(directoryOf(""), ".");
    EXPECT_EQ(directoryOf("/x.obj"), "");
    EXPECT_EQ(directoryOf("a/b/c.obj"), "a/b");
    EXPECT_EQ(directoryOf("a\\b\\c.obj"), "a\\b");
    EXPECT_EQ(directoryOf("a\\b/c.obj"), "a\\b");
    EXPECT_EQ(directoryOf("a/b\\c.obj"), "a/b");
}

TEST(ObjModel, EnsureGroupAddsNewGroupsAtTheHeadOnce) {
    ObjModel* model = emptyModel();
    ObjGroup* first = glmEnsureGroup(model, "default");
    ObjGroup* second = glmEnsureGroup(model, " legs");
    EXPECT_EQ(glmEnsureGroup(model, "default"), first);
    EXPECT_EQ(model->groupCount, 2u);
    EXPECT_EQ(model->groups, second);
    EXPECT_EQ(second->next, first);
    EXPECT_EQ(second->triangleCount, 0u);
    EXPECT_EQ(second->material, 0u);
    EXPECT_EQ(glmGroupByName(model, "legs"), nullptr);
    EXPECT_EQ(glmGroupByName(model, " legs"), second);
    glmDelete(model);
}

TEST(ObjModel, MaterialsStartWithTheDefaultsAndAreFoundByExactName) {
    ObjModel* model = emptyModel();
    glmResetMaterials(model, 3);
    ASSERT_EQ(model->materialCount, 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        const ObjMaterial& m = model->materials[i];
        EXPECT_STREQ(m.name, "default");
        EXPECT_EQ(m.diffuse[0], 0.6f);
        EXPECT_EQ(m.ambient[1], 0.2f);
        EXPECT_EQ(m.specular[2], 0.0f);
        EXPECT_EQ(m.diffuse[3], 1.0f);
        EXPECT_EQ(m.shininess, 65.0f);
        EXPECT_EQ(m.textureMapName, nullptr);
    }
    free(model->materials[2].name);
    model->materials[2].name = strdup("Oak");
    EXPECT_EQ(glmFindMaterial(model, "Oak"), 2u);
    EXPECT_EQ(glmFindMaterial(model, "default"), 0u);  // the first match wins
    testing::internal::CaptureStdout();
    EXPECT_EQ(glmFindMaterial(model, "oak"), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "glmFindMaterial():  can't find material \"oak\".\n");
    glmDelete(model);
}
