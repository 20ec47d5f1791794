// The OBJ and MTL reader on real files: triangulation and outlines, corner formats, groups and
// materials, the reader's messages, and every kind of bad input ending in one message naming
// the file and line with exit code 1.
#include "geometry/obj_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/input_exit.h"
#include "tests/support/temp_dir.h"

namespace {

using Edge = std::pair<uint32_t, uint32_t>;

struct ReadResult {
    ObjModel* model = nullptr;
    std::string output;
};

ReadResult read(const std::string& fileName) {
    ReadResult r;
    testing::internal::CaptureStdout();
    r.model = glmReadOBJ(fileName.c_str());
    fflush(stdout);
    r.output = testing::internal::GetCapturedStdout();
    return r;
}

std::vector<uint32_t> vertexIndices(const ObjTriangle& t) {
    return {t.vertexIndices[0], t.vertexIndices[1], t.vertexIndices[2]};
}
std::vector<uint32_t> normalIndices(const ObjTriangle& t) {
    return {t.normalIndices[0], t.normalIndices[1], t.normalIndices[2]};
}
std::vector<uint32_t> texCoordIndices(const ObjTriangle& t) {
    return {t.texCoordIndices[0], t.texCoordIndices[1], t.texCoordIndices[2]};
}

std::vector<Edge> edgesOf(const ObjGroup* group) {
    std::vector<Edge> edges;
    for (uint32_t e = 0; e < group->edgeCount; ++e) {
        edges.emplace_back(group->edges[e][0], group->edges[e][1]);
    }
    return edges;
}

std::vector<std::string> groupNames(const ObjModel* model) {
    std::vector<std::string> names;
    for (const ObjGroup* g = model->groups; g != nullptr; g = g->next) names.push_back(g->name);
    return names;
}

// In a death test's child, sends standard output to standard error, which the test matches.
void readWithStdoutOnStderr(const std::string& fileName) {
    fflush(stdout);
    dup2(2, 1);
    glmReadOBJ(fileName.c_str());
}

const char* const kSquare = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n";

}  // namespace

TEST(ObjReader, QuadBecomesTwoFanTrianglesWithFourOutlineEdges) {
    TempDir dir;
    ReadResult r = read(dir.write("quad.obj", std::string(kSquare) + "f 1 2 3 4\n"));
    ObjModel* m = r.model;
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(m->vertexCount, 4u);
    ASSERT_EQ(m->triangleCount, 2u);
    EXPECT_EQ(vertexIndices(m->triangles[0]), (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(vertexIndices(m->triangles[1]), (std::vector<uint32_t>{1, 3, 4}));
    // One group, "default", with both triangles and the square's sides, no diagonal (1, 3).
    ASSERT_EQ(m->groupCount, 1u);
    EXPECT_STREQ(m->groups->name, "default");
    ASSERT_EQ(m->groups->triangleCount, 2u);
    EXPECT_EQ(m->groups->triangleIndices[0], 0u);
    EXPECT_EQ(m->groups->triangleIndices[1], 1u);
    EXPECT_EQ(edgesOf(m->groups), (std::vector<Edge>{{1, 2}, {2, 3}, {3, 4}, {4, 1}}));
    EXPECT_EQ(m->materialCount, 1u);
    EXPECT_STREQ(m->materials[0].name, "default");
    EXPECT_EQ(m->normals, nullptr);
    EXPECT_EQ(m->texCoords, nullptr);
    EXPECT_EQ(m->materialLibrary, nullptr);
    EXPECT_STREQ(m->fileName, dir.file("quad.obj").c_str());
    glmDelete(m);
}

TEST(ObjReader, PolygonOutlineFollowsItsBoundary) {
    TempDir dir;
    // A triangle gives (a, b), (b, c), (c, a); a hexagon its six sides and four fan triangles.
    ObjModel* m = read(dir.write("poly.obj",
                                 "v 0 0 0\nv 1 0 0\nv 2 1 0\nv 1 2 0\nv 0 2 0\n"
                                 "v -1 1 0\nf 3 1 2\nf 1 2 3 4 5 6\n"))
                      .model;
    ASSERT_EQ(m->triangleCount, 5u);
    EXPECT_EQ(vertexIndices(m->triangles[4]), (std::vector<uint32_t>{1, 5, 6}));
    EXPECT_EQ(edgesOf(m->groups),
              (std::vector<Edge>{
                  {3, 1}, {1, 2}, {2, 3}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}, {6, 1}}));
    glmDelete(m);
}

TEST(ObjReader, VerticesNormalsAndTextureCoordinatesLandInOneBasedSlots) {
    TempDir dir;
    ObjModel* m = read(dir.write("v.obj",
                                 "v 1.5 -2 3e2\nv 4 5 6 0.5\nvn 0 0 1\nvn 0 1 0\n"
                                 "vt 0.25 0.75\nvt 1 0 0\nf 1/1/2 2/2/1 1/2/2\n"))
                      .model;
    ASSERT_EQ(m->vertexCount, 2u);
    EXPECT_EQ(m->vertices[3], 1.5f);
    EXPECT_EQ(m->vertices[4], -2.0f);
    EXPECT_EQ(m->vertices[5], 300.0f);
    EXPECT_EQ(m->vertices[6], 4.0f);
    EXPECT_EQ(m->vertices[8], 6.0f);
    ASSERT_EQ(m->normalCount, 2u);
    EXPECT_EQ(m->normals[3 * 2 + 1], 1.0f);
    ASSERT_EQ(m->texCoordCount, 2u);
    EXPECT_EQ(m->texCoords[2], 0.25f);
    EXPECT_EQ(m->texCoords[3], 0.75f);
    EXPECT_EQ(m->texCoords[4], 1.0f);
    // Entry 0 of every array stays zero.
    for (int k = 0; k < 3; ++k) EXPECT_EQ(m->vertices[k], 0.0f);
    glmDelete(m);
}

TEST(ObjReader, CornerFormatsSetTheirIndicesInFieldOrder) {
    TempDir dir;
    const std::string header =
        "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvn 0 0 1\nvn 0 0 -1\nvn 1 0 0\nvn 0 1 0\n"
        "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n";
    ObjModel* m = read(dir.write("formats.obj", header + "f 1//4 2//3 3//2\n"     // vertex//normal
                                                         "f 2/1/4 3/2/3 4/3/2\n"  // v/t/n
                                                         "f 3/4 4/3 1/2 2/1\n"    // v/t, a quad
                                                         "f 4 1 2\n"))            // vertex only
                      .model;
    ASSERT_EQ(m->triangleCount, 5u);
    const ObjTriangle* t = m->triangles;
    EXPECT_EQ(vertexIndices(t[0]), (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(normalIndices(t[0]), (std::vector<uint32_t>{4, 3, 2}));
    EXPECT_EQ(texCoordIndices(t[0]), (std::vector<uint32_t>{0, 0, 0}));
    EXPECT_EQ(vertexIndices(t[1]), (std::vector<uint32_t>{2, 3, 4}));
    EXPECT_EQ(texCoordIndices(t[1]), (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(normalIndices(t[1]), (std::vector<uint32_t>{4, 3, 2}));
    // The quad's second fan triangle copies the first corner and the previous third corner,
    // texture indices included.
    EXPECT_EQ(vertexIndices(t[2]), (std::vector<uint32_t>{3, 4, 1}));
    EXPECT_EQ(texCoordIndices(t[2]), (std::vector<uint32_t>{4, 3, 2}));
    EXPECT_EQ(vertexIndices(t[3]), (std::vector<uint32_t>{3, 1, 2}));
    EXPECT_EQ(texCoordIndices(t[3]), (std::vector<uint32_t>{4, 2, 1}));
    EXPECT_EQ(normalIndices(t[3]), (std::vector<uint32_t>{0, 0, 0}));
    // Indices a face does not carry stay 0, which addresses the zero entry 0.
    EXPECT_EQ(vertexIndices(t[4]), (std::vector<uint32_t>{4, 1, 2}));
    EXPECT_EQ(normalIndices(t[4]), (std::vector<uint32_t>{0, 0, 0}));
    EXPECT_EQ(texCoordIndices(t[4]), (std::vector<uint32_t>{0, 0, 0}));
    glmDelete(m);
}

TEST(ObjReader, FacesMayRunOnAcrossLinesAndEndAtTheNextKeyword) {
    TempDir dir;
    // Corners are numbers read on across the line end; "#" and "s" end the faces.
    ObjModel* m =
        read(dir.write("wrap.obj", std::string(kSquare) + "f 1 2\n 3 4 # square\nf 4 3 2 s 1\n"))
            .model;
    ASSERT_EQ(m->triangleCount, 3u);
    EXPECT_EQ(vertexIndices(m->triangles[1]), (std::vector<uint32_t>{1, 3, 4}));
    EXPECT_EQ(vertexIndices(m->triangles[2]), (std::vector<uint32_t>{4, 3, 2}));
    glmDelete(m);
}

TEST(ObjReader, GroupNamesKeepTheirLeadingBlanks) {
    TempDir dir;
    ObjModel* m = read(dir.write("groups.obj", std::string(kSquare) +
                                                   "f 1 2 3\n"  // before any group: default
                                                   "g  wide\nf 1 3 4\n"
                                                   "g wide\nf 2 3 4\nf 1 2 4\n"
                                                   "g  wide\nf 4 3 1\n"
                                                   "g\nf 3 2 1\n"))  // the empty name
                      .model;
    // The name is the rest of the line after the keyword, blanks included. Newest group first:
    // "", " wide" (one blank) and "  wide" (two) are three different groups.
    EXPECT_EQ(groupNames(m), (std::vector<std::string>{"", " wide", "  wide", "default"}));
    ASSERT_EQ(m->groupCount, 4u);
    const ObjGroup* twoBlanks = glmGroupByName(m, "  wide");
    ASSERT_NE(twoBlanks, nullptr);
    ASSERT_EQ(twoBlanks->triangleCount, 2u);
    EXPECT_EQ(twoBlanks->triangleIndices[0], 1u);
    EXPECT_EQ(twoBlanks->triangleIndices[1], 4u);
    EXPECT_EQ(twoBlanks->edgeCount, 6u);
    EXPECT_EQ(glmGroupByName(m, " wide")->triangleCount, 2u);
    EXPECT_EQ(glmGroupByName(m, "wide"), nullptr);
    const ObjGroup* fallback = glmGroupByName(m, "default");
    ASSERT_EQ(fallback->triangleCount, 1u);
    EXPECT_EQ(fallback->triangleIndices[0], 0u);
    glmDelete(m);
}

TEST(ObjReader, GroupLineAtTheEndWithoutLineEndKeepsItsWholeName) {
    TempDir dir;
    ObjModel* m = read(dir.write("last.obj", std::string(kSquare) + "f 1 2 3\ng tail")).model;
    EXPECT_EQ(groupNames(m), (std::vector<std::string>{" tail", "default"}));
    glmDelete(m);
}

TEST(ObjReader, MaterialsComeFromTheLibraryBesideTheFile) {
    TempDir dir;
    dir.write("scene/paint.mtl",
              "# library\nKd 0.9 0.9 0.9\n"  // before any name: material 0
              "newmtl red\nKa 0.1 0.2 0.3\nKd 1 0 0\nKs 0.5 0.25 0.125\nNs 500\n"
              "map_Kd red.png\nillum 2\n"
              "newmtl blue\nKd 0 0 1\n");
    ReadResult r = read(dir.write("scene/thing.obj", "mtllib paint.mtl\n" + std::string(kSquare) +
                                                         "g a\nusemtl blue\nf 1 2 3\n"
                                                         "usemtl red\nf 1 3 4\n"
                                                         "g b\nf 2 3 4\n"
                                                         "g c\nusemtl green\nf 1 2 4\n"));
    ObjModel* m = r.model;
    EXPECT_EQ(r.output, "glmFindMaterial():  can't find material \"green\".\n");
    EXPECT_STREQ(m->materialLibrary, "paint.mtl");
    ASSERT_EQ(m->materialCount, 3u);
    EXPECT_STREQ(m->materials[0].name, "default");
    EXPECT_EQ(m->materials[0].diffuse[0], 0.9f);
    const ObjMaterial& red = m->materials[1];
    EXPECT_STREQ(red.name, "red");
    EXPECT_EQ(red.ambient[0], 0.1f);
    EXPECT_EQ(red.ambient[2], 0.3f);
    EXPECT_EQ(red.ambient[3], 1.0f);
    EXPECT_EQ(red.diffuse[0], 1.0f);
    EXPECT_EQ(red.diffuse[1], 0.0f);
    EXPECT_EQ(red.specular[2], 0.125f);
    EXPECT_EQ(red.specular[3], 1.0f);
    EXPECT_FLOAT_EQ(red.shininess, 64.0f);  // 500 * 0.128
    EXPECT_STREQ(red.textureMapName, "red.png");
    EXPECT_EQ(red.hasTexture, 0);
    const ObjMaterial& blue = m->materials[2];
    EXPECT_STREQ(blue.name, "blue");
    EXPECT_EQ(blue.diffuse[2], 1.0f);
    EXPECT_EQ(blue.ambient[0], 0.2f);  // defaults where the library says nothing
    EXPECT_FLOAT_EQ(blue.shininess, 65.0f);
    EXPECT_EQ(blue.textureMapName, nullptr);
    // A group takes the material in use when it is entered and every later "usemtl" inside it;
    // an unknown name gives material 0.
    EXPECT_EQ(glmGroupByName(m, " a")->material, 1u);
    EXPECT_EQ(glmGroupByName(m, " b")->material, 1u);
    EXPECT_EQ(glmGroupByName(m, " c")->material, 0u);
    EXPECT_EQ(glmGroupByName(m, "default")->material, 0u);
    glmDelete(m);
}

TEST(ObjReader, ObjectAndSmoothingLinesAreSkipped) {
    TempDir dir;
    ObjModel* m = read(dir.write("skip.obj", "o thing\ns 1\n# v 9 9 9\n" + std::string(kSquare) +
                                                 "s off\nf 1 2 3\nl 1 2\n"))
                      .model;
    EXPECT_EQ(m->vertexCount, 4u);
    EXPECT_EQ(m->triangleCount, 1u);
    glmDelete(m);
}

TEST(ObjReader, LongCommentsAreSkippedWhole) {
    TempDir dir;
    // The tail of a comment beyond the line buffer is not read as keywords.
    const std::string comment = "# " + std::string(200, 'x') + " f 1 2 3 vp 1\n";
    ObjModel* m = read(dir.write("c.obj", comment + kSquare + "f 1 2 3\n")).model;
    EXPECT_EQ(m->triangleCount, 1u);
    glmDelete(m);
}

TEST(ObjReaderDeathTest, UnopenableFilesEndTheProcessWithTheirMessage) {
    TempDir dir;
    const std::string missing = dir.file("missing.obj");
    EXPECT_EXIT(glmReadOBJ(missing.c_str()), testing::ExitedWithCode(1),
                "^glmReadOBJ\\(\\) failed: can't open data file \"" + missing + "\"\\.\n$");
    const std::string obj = dir.write("m/x.obj", "mtllib none.mtl\nv 0 0 0\n");
    EXPECT_EXIT(glmReadOBJ(obj.c_str()), testing::ExitedWithCode(1),
                "^glmReadMTL\\(\\) failed: can't open material file " + dir.file("m") +
                    "/none\\.mtl\\.\n$");
}

// Inside a BadInputCapture (the Python module's readers) bad input throws BadInput with the
// message the program would print, and the process goes on: missing file, bad line.
TEST(ObjReader, CapturedBadInputThrowsItsMessageInsteadOfExiting) {
    TempDir dir;
    const std::string missing = dir.file("missing.obj");
    const std::string broken = dir.write("broken.obj", std::string(kSquare) + "f 1 2 9\n");
    BadInputCapture capture;
    try {
        glmReadOBJ(missing.c_str());
        ADD_FAILURE() << "a missing file was read";
    } catch (const BadInput& bad) {
        EXPECT_EQ(bad.code, 1);
        EXPECT_EQ(bad.message, "glmReadOBJ() failed: can't open data file \"" + missing + "\".");
    }
    try {
        glmReadOBJ(broken.c_str());
        ADD_FAILURE() << "a face beyond the vertices was read";
    } catch (const BadInput& bad) {
        EXPECT_NE(bad.message.find(" failed: \"" + broken + "\" line 5: face vertex index 9"),
                  std::string::npos)
            << bad.message;
    }
    // The capture ends with its scope: a good file still reads.
    ObjModel* model = read(dir.write("good.obj", std::string(kSquare) + "f 1 2 3\n")).model;
    EXPECT_EQ(model->triangleCount, 1u);
    glmDelete(model);
}

TEST(ObjReaderDeathTest, UnknownVertexKeywordStopsTheReader) {
    TempDir dir;
    const std::string name = dir.write("vp.obj", "v 0 0 0\nvp 0.5 0.5\n");
    EXPECT_EXIT(readWithStdoutOnStderr(name), testing::ExitedWithCode(1),
                "^glmFirstPass\\(\\): Unknown token \"vp\"\\.\n$");
}

TEST(ObjReaderDeathTest, BadInputNamesFileAndLineAndExitsWithOne) {
    struct Case {
        const char* what;
        std::string text;
        std::string message;  // regular expression after "<reader> failed: "<file>" "
    };
    const std::string square = kSquare;
    const std::vector<Case> cases = {
        {"vertex index too large", square + "f 1 2 5\n", "line 5: face vertex index 5 outside"},
        {"vertex index zero", square + "\nf 0 1 2\n", "line 6: face vertex index 0 outside"},
        {"negative vertex index", square + "f 1 -1 2\n", "line 5: face vertex index -1 outside"},
        {"huge vertex index", square + "f 1 2 99999999999999999999999\n",
         "line 5: face vertex index [0-9]+ outside"},
        {"normal index without normals", square + "f 1//1 2//1 3//1\n",
         "line 5: face normal index 1, but the file defines no normals"},
        {"texture index out of range", square + "vt 0 0\nf 1/1 2/2 3/1\n",
         "line 6: face texture coordinate index 2 outside"},
        {"texture index zero", square + "vt 0 0\nf 1/0 2/1 3/1\n",
         "line 6: face texture coordinate index 0 outside"},
        {"two corners", square + "f 1 2\ng next\n", "line 5: a face with fewer than three"},
        {"face without corners at the end", square + "f", "line 5: a face without corners"},
        {"first corner not a number", square + "f x 1 2\n",
         "line 5: face corner \"x\" has no vertex index"},
        {"corner without its normal", square + "vn 0 0 1\nf 1//1 2 3//1\n",
         "line 6: face corner 2 lacks an index of the face's format v//n"},
        {"corner without its texture index", square + "vt 0 0\nf 1/1 2 3/1\n",
         "line 6: face corner 2 lacks an index of the face's format v/t"},
        {"fourth corner cut short", square + "vt 0 0\nvn 0 0 1\nf 1/1/1 2/1/1 3/1/1 4/1\n",
         "line 7: face corner 4 lacks an index of the face's format v/t/n"},
        {"vertex with two numbers", "v 0 0 0\nv 1 2\nf 1 2 1\n",
         "line 2: \"v\" needs 3 numbers, found 2"},
        {"normal with one number", square + "vn 1\n", "line 5: \"vn\" needs 3 numbers, found 1"},
        {"texture coordinate with none", square + "vt\n",
         "line 5: \"vt\" needs 2 numbers, found 0"},
        {"word of 128 characters", square + std::string(128, 's') + "\n",
         "line 5: a word longer than 127 characters"},
        {"long group name", square + "g " + std::string(130, 'n') + "\nf 1 2 3\n",
         "line 5: a line longer than 126 characters after its keyword"},
        {"material library without a name", "mtllib   \n" + square,
         "line 1: a material library line without a name"},
        {"material use without a name", square + "usemtl\nf 1 2 3\n",
         "line 5: a material use without a name"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        const std::string name = dir.write("bad.obj", c.text);
        EXPECT_EXIT(
            readWithStdoutOnStderr(name), testing::ExitedWithCode(1),
            "^glm(FirstPass|FillPass)\\(\\) failed: \"" + name + "\" " + c.message + "[^\n]*\\.\n$")
            << c.what;
    }
}

TEST(ObjReaderDeathTest, BadMaterialLibrariesNameTheLibrary) {
    TempDir dir;
    dir.write("nameless.mtl", "Kd 1 1 1\nnewmtl\n");
    const std::string obj = dir.write("x.obj", "mtllib nameless.mtl\n");
    EXPECT_EXIT(readWithStdoutOnStderr(obj), testing::ExitedWithCode(1),
                "^glmReadMTL\\(\\) failed: \"" + dir.path() +
                    "/nameless\\.mtl\" line 2: a "
                    "material without a name\\.\n$");
}

TEST(ObjReader, MaterialNamesOnOneLineWithColoursStayWithinTheLibrary) {
    TempDir dir;
    // Every "newmtl" a reading scan meets is counted, even one that follows numbers on a line.
    dir.write("packed.mtl", "newmtl a\nKd 1 0 0 newmtl b\nKd 0 1 0\n");
    ObjModel* m = read(dir.write("x.obj", "mtllib packed.mtl\nv 0 0 0\n")).model;
    ASSERT_EQ(m->materialCount, 3u);
    EXPECT_STREQ(m->materials[1].name, "a");
    EXPECT_STREQ(m->materials[2].name, "b");
    EXPECT_EQ(m->materials[2].diffuse[1], 1.0f);
    glmDelete(m);
}

TEST(ObjReader, VertexLinesFollowedByKeywordsCountWhatTheyFill) {
    TempDir dir;
    // Both passes read words the same way, so elements packed on one line are counted and filled
    // alike.
    ObjModel* m = read(dir.write("packed.obj", "v 0 0 0 v 1 0 0 v 0 1 0 f 1 2 3\n")).model;
    EXPECT_EQ(m->vertexCount, 3u);
    ASSERT_EQ(m->triangleCount, 1u);
    EXPECT_EQ(m->vertices[3 * 2], 1.0f);
    glmDelete(m);
}
