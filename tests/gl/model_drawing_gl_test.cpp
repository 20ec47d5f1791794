// Model drawing and scene objects with real OpenGL: pictures read back from the frame buffer,
// vertices caught in feedback mode, names caught in selection mode. Needs an X display; the
// end-to-end wrapper tests/e2e/geometry_drawing_test.sh starts one with Xvfb.
#include <GL/freeglut.h>
#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "app/scene_selector.h"
#include "geometry/model_drawing.h"
#include "geometry/obj_normals.h"
#include "geometry/obj_reader.h"
#include "geometry/scene_object.h"
#include "tests/support/temp_dir.h"

extern const int sceneSelector = kChairScene;

namespace {

constexpr int kSize = 64;

// Viewport kSize x kSize with x and y in pixel units, white background, no lighting or depth.
void pixelSpace() {
    glViewport(0, 0, kSize, kSize);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, kSize, 0, kSize, -10, 10);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glColor3f(0, 0, 0);
}

struct Picture {
    std::vector<unsigned char> rgb = std::vector<unsigned char>(3 * kSize * kSize);
    const unsigned char* at(int x, int y) const { return &rgb[3 * (y * kSize + x)]; }
    bool black(int x, int y) const { return at(x, y)[0] < 64 && at(x, y)[1] < 64; }
    bool white(int x, int y) const { return at(x, y)[0] == 255 && at(x, y)[1] == 255; }
};

Picture readBack() {
    glFinish();
    Picture picture;
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kSize, kSize, GL_RGB, GL_UNSIGNED_BYTE, picture.rgb.data());
    return picture;
}

// A scene object read from OBJ text, its loading lines kept out of the test's output.
struct LoadedObject {
    TempDir dir;
    SceneObject* object;
    std::string output;
    explicit LoadedObject(const std::string& text, const std::string& mtl = "") {
        if (!mtl.empty()) dir.write("m.mtl", mtl);
        const std::string name = dir.write("m.obj", text);
        testing::internal::CaptureStdout();
        object = new SceneObject(name.c_str());
        output = testing::internal::GetCapturedStdout();
    }
    ~LoadedObject() { delete object; }
};

// One primitive caught in feedback mode: its token and its vertices in window coordinates.
struct Primitive {
    GLfloat token;
    std::vector<std::vector<GLfloat>> vertices;
};

template <typename Draw>
std::vector<Primitive> feedback(Draw draw) {
    std::vector<GLfloat> buffer(4096);
    glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), GL_3D, buffer.data());
    glRenderMode(GL_FEEDBACK);
    draw();
    const GLint count = glRenderMode(GL_RENDER);
    std::vector<Primitive> primitives;
    for (GLint i = 0; i < count;) {
        Primitive p;
        p.token = buffer[i++];
        int n = 0;
        if (p.token == GL_POINT_TOKEN)
            n = 1;
        else if (p.token == GL_LINE_TOKEN || p.token == GL_LINE_RESET_TOKEN)
            n = 2;
        else if (p.token == GL_POLYGON_TOKEN)
            n = static_cast<int>(buffer[i++]);
        else if (p.token == GL_PASS_THROUGH_TOKEN)
            i++;
        for (int v = 0; v < n; ++v, i += 3)
            p.vertices.push_back({buffer[i], buffer[i + 1], buffer[i + 2]});
        primitives.push_back(p);
    }
    return primitives;
}

}  // namespace

TEST(ModelDrawing, QuadEdgesAreItsFourSidesWithoutTheDiagonal) {
    LoadedObject quad("v 8.5 8.5 0\nv 55.5 8.5 0\nv 55.5 55.5 0\nv 8.5 55.5 0\nf 1 2 3 4\n");
    pixelSpace();
    quad.object->drawEdges();
    const Picture picture = readBack();
    for (int t = 12; t <= 52; t += 4) {
        EXPECT_TRUE(picture.black(t, 8)) << "bottom side at x " << t;
        EXPECT_TRUE(picture.black(t, 55)) << "top side at x " << t;
        EXPECT_TRUE(picture.black(8, t)) << "left side at y " << t;
        EXPECT_TRUE(picture.black(55, t)) << "right side at y " << t;
        EXPECT_TRUE(picture.white(t, t)) << "no diagonal at " << t;
        EXPECT_TRUE(picture.white(t, kSize - 1 - t)) << "no other diagonal at " << t;
    }
    // Exactly four segments, the outline's.
    const std::vector<Primitive> lines = feedback([&] { quad.object->drawEdges(); });
    ASSERT_EQ(lines.size(), 4u);
    for (const Primitive& line : lines) {
        EXPECT_TRUE(line.token == GL_LINE_TOKEN || line.token == GL_LINE_RESET_TOKEN);
        const bool horizontal = line.vertices[0][1] == line.vertices[1][1];
        const bool vertical = line.vertices[0][0] == line.vertices[1][0];
        EXPECT_TRUE(horizontal != vertical) << "a side, not a diagonal";
    }
}

TEST(ModelDrawing, ModelWithoutNormalsWarnsOnceAndDrawsWithItsMaterialOnly) {
    LoadedObject triangle("mtllib m.mtl\nusemtl red\nv 8 8 0\nv 56 8 0\nv 8 56 0\nf 1 2 3\n",
                          "newmtl red\nKa 0 0 0\nKd 1 0 0\nKs 0 0 0\n");
    testing::internal::CaptureStdout();
    triangle.object->mesh.buildDisplayList();
    pixelSpace();
    // One white directional light from +z; no ambient light anywhere.
    const GLfloat black[4] = {0, 0, 0, 1}, white[4] = {1, 1, 1, 1}, fromZ[4] = {0, 0, 1, 0};
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, black);
    glLightfv(GL_LIGHT0, GL_AMBIENT, black);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, white);
    glLightfv(GL_LIGHT0, GL_SPECULAR, black);
    glLightfv(GL_LIGHT0, GL_POSITION, fromZ);
    glEnable(GL_LIGHT0);
    glEnable(GL_LIGHTING);
    // The model sets no normal, so the current one lights it: cos = 0.8 of the red diffuse.
    glNormal3f(0.6f, 0, 0.8f);
    triangle.object->draw();
    triangle.object->draw();
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(output, "glmDraw() warning: smooth render mode requested with no normals defined.\n");
    GLfloat normal[3];
    glGetFloatv(GL_CURRENT_NORMAL, normal);
    EXPECT_FLOAT_EQ(normal[0], 0.6f);
    EXPECT_FLOAT_EQ(normal[2], 0.8f);
    const Picture picture = readBack();
    glDisable(GL_LIGHTING);
    glDisable(GL_LIGHT0);
    const unsigned char* inside = picture.at(20, 20);
    EXPECT_NEAR(inside[0], 204, 2);  // 255 * 0.8
    EXPECT_EQ(inside[1], 0);
    EXPECT_EQ(inside[2], 0);
    EXPECT_TRUE(picture.white(50, 50));  // beyond the hypotenuse
}

TEST(ModelDrawing, ModeChecksWarnAndDropBits) {
    TempDir dir;
    ObjModel* model =
        glmReadOBJ(dir.write("n.obj",
                             "v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 1 0 0\nvn 0 1 0\nvn 0.6 0 0.8\n"
                             "f 1//1 2//2 3//3\n")
                       .c_str());
    glmComputeFacetNormals(model);  // facet normal (0, 0, 1)
    pixelSpace();

    // Flat and smooth: smooth wins; the last normal sent is the third corner's, not the facet's.
    testing::internal::CaptureStdout();
    glmDraw(model, RenderFlat | RenderSmooth);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "glmDraw() warning: flat render mode requested and smooth render mode requested "
              "(using smooth).\n");
    GLfloat normal[3];
    glGetFloatv(GL_CURRENT_NORMAL, normal);
    EXPECT_FLOAT_EQ(normal[0], 0.6f);
    EXPECT_FLOAT_EQ(normal[2], 0.8f);

    // Flat alone sends the facet normal.
    glmDraw(model, RenderFlat);
    glGetFloatv(GL_CURRENT_NORMAL, normal);
    EXPECT_FLOAT_EQ(normal[0], 0.0f);
    EXPECT_FLOAT_EQ(normal[2], 1.0f);

    // Colour and material: material only, colour material switched off.
    glEnable(GL_COLOR_MATERIAL);
    testing::internal::CaptureStdout();
    glmDraw(model, RenderColor | RenderMaterial);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "glmDraw() warning: color and material render mode requested using only material "
              "mode.\n");
    EXPECT_FALSE(glIsEnabled(GL_COLOR_MATERIAL));

    // Colour alone enables colour material and sets the diffuse colour as the current colour.
    glColor3f(0, 0, 1);
    glmDraw(model, RenderColor);
    EXPECT_TRUE(glIsEnabled(GL_COLOR_MATERIAL));
    glDisable(GL_COLOR_MATERIAL);
    GLfloat colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_FLOAT_EQ(colour[0], 0.6f);

    // Texture without texture coordinates: warned and dropped.
    testing::internal::CaptureStdout();
    glmDraw(model, RenderTexture);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "glmDraw() warning: texture render mode requested with no texture coordinates "
              "defined.\n");
    glmDelete(model);
}

TEST(SceneObjectDrawing, ShadowOfAPointFromALightAboveLandsOnTheGround) {
    // A small triangle at height 2 with the corner (1, 2, 0).
    LoadedObject triangle("v 1 2 0\nv 1.5 2 0\nv 1 2 0.5\nf 1 2 3\n");
    glViewport(0, 0, 80, 80);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-4, 4, -4, 4, -4, 4);  // window x = 10 (x + 4), y = 10 (y + 4), depth (1 - z/4) / 2
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    const double ground[4] = {0, 1, 0, 0}, light[4] = {0, 5, 0, 1};
    const std::vector<Primitive> shadow =
        feedback([&] { triangle.object->drawShadow(ground, light); });
    ASSERT_EQ(shadow.size(), 1u);
    ASSERT_EQ(shadow[0].token, GL_POLYGON_TOKEN);
    ASSERT_EQ(shadow[0].vertices.size(), 3u);
    // (1, 2, 0) seen from (0, 5, 0) lands at (5/3, 0, 0); the others scale by 5/3 too.
    EXPECT_NEAR(shadow[0].vertices[0][0], 10 * (5.0 / 3 + 4), 1e-3);
    EXPECT_NEAR(shadow[0].vertices[0][1], 40, 1e-3);
    EXPECT_NEAR(shadow[0].vertices[0][2], 0.5, 1e-5);
    EXPECT_NEAR(shadow[0].vertices[1][0], 10 * (2.5 + 4), 1e-3);
    EXPECT_NEAR(shadow[0].vertices[2][2], (1 - (5.0 / 6) / 4) / 2, 1e-5);
    // The matrix stack is left as it was.
    GLint depth;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
    EXPECT_EQ(depth, 1);
}

TEST(SceneObjectDrawing, FreshObjectDrawsAtTheOriginAndPoseMovesIt) {
    LoadedObject triangle("v -4 -4 0\nv 4 -4 0\nv 0 4 0\nf 1 2 3\n");
    pixelSpace();
    glTranslated(32, 32, 0);               // the origin at the picture's centre
    triangle.object->mesh.renderMode = 0;  // plain geometry, in the current colour
    triangle.object->draw();
    Picture picture = readBack();
    EXPECT_TRUE(picture.black(32, 31));
    EXPECT_TRUE(picture.white(32 + 6, 32));
    // A quarter turn about z and a shift by (20, 0, 0).
    const double t[3] = {20, 0, 0}, R[9] = {0, -1, 0, 1, 0, 0, 0, 0, 1};
    triangle.object->setPose(t, R);
    glClear(GL_COLOR_BUFFER_BIT);
    triangle.object->draw();
    picture = readBack();
    EXPECT_TRUE(picture.white(32, 32));
    EXPECT_TRUE(picture.black(52, 32));
    EXPECT_TRUE(picture.black(49, 32));  // the apex (0, 4) turned to (-4, 0), then shifted
    EXPECT_TRUE(picture.white(57, 32));  // the base now lies at x = +4, just inside 56
}

TEST(SceneObjectDrawing, SelectionNameSevenIsVertexIndexSix) {
    LoadedObject points(
        "v 1 0 0\nv 2 0 0\nv 3 0 0\nv 4 0 0\nv 5 0 0\nv 6 0 0\nv 7.25 0.5 0\n"
        "v 8 0 0\nf 1 2 3\n");
    const double t[3] = {0.5, 0, 0}, R[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    points.object->setPose(t, R);
    const GLint viewport[4] = {0, 0, 100, 20};
    glViewport(0, 0, 100, 20);
    GLuint hits[64];
    glSelectBuffer(64, hits);
    glRenderMode(GL_SELECT);
    glInitNames();
    glPushName(0);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    // Vertex 7 at (7.75, 0.5) under the pose: window (77.5, 15).
    gluPickMatrix(77.5, 15, 3, 3, const_cast<GLint*>(viewport));
    glOrtho(0, 10, -1, 1, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    points.object->drawVertexNames();
    const GLint hitCount = glRenderMode(GL_RENDER);
    ASSERT_EQ(hitCount, 1);
    ASSERT_EQ(hits[0], 1u);  // one name on the stack
    const GLuint name = hits[3];
    EXPECT_EQ(name, 7u);
    double x, y, z;
    points.object->vertexWorldPosition(static_cast<int>(name) - 1, &x, &y, &z);
    EXPECT_DOUBLE_EQ(x, 7.75);
    EXPECT_DOUBLE_EQ(y, 0.5);
}

TEST(SceneObjectDrawing, PointsAndSelectedPoints) {
    LoadedObject points("v 1 1 0\nv 2 2 0\nv 3 3 0\nf 1 2 3\n");
    pixelSpace();
    EXPECT_EQ(feedback([&] { points.object->drawPoints(); }).size(), 3u);
    EXPECT_TRUE(feedback([&] { points.object->drawSelectedPoints(0, nullptr); }).empty());
    const int chosen[1] = {2};
    const std::vector<Primitive> one =
        feedback([&] { points.object->drawSelectedPoints(1, chosen); });
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].token, GL_POINT_TOKEN);
    EXPECT_NEAR(one[0].vertices[0][0], 3, 1e-4);  // 0-based 2 is the third vertex
}

TEST(SceneObjectDrawing, GroupsWithoutTrianglesDrawNothing) {
    LoadedObject empty("v 0 0 0\nv 1 0 0\ng nothing\ng more\n");
    pixelSpace();
    EXPECT_TRUE(feedback([&] { glmDraw(empty.object->mesh.model, 18); }).empty());
}

TEST(SceneObjectDrawing, RebuildingTheDisplayListDeletesTheOldOne) {
    LoadedObject triangle("v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nf 1//1 2//1 3//1\n");
    triangle.object->mesh.buildDisplayList();
    const GLuint first = triangle.object->mesh.displayList;
    ASSERT_TRUE(glIsList(first));
    triangle.object->mesh.buildDisplayList();
    const GLuint second = triangle.object->mesh.displayList;
    EXPECT_TRUE(glIsList(second));
    // glGenLists hands out only unused names: the first name is either gone or was free again.
    EXPECT_TRUE(second == first || !glIsList(first));
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH | GLUT_STENCIL);
    glutInitWindowSize(128, 128);
    glutCreateWindow("Tonwell geometry drawing tests");
    glutDisplayFunc([] {});
    for (int i = 0; i < 10; ++i) glutMainLoopEvent();
    return RUN_ALL_TESTS();
}
