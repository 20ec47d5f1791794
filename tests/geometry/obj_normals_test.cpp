// Facet and crease-angle vertex normals against the geometry they come from: unit length,
// orientation by the corner order, shared normals on flat surfaces, separate ones across a
// sharp edge, the membership rule at each vertex.
#include "geometry/obj_normals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "geometry/obj_reader.h"
#include "tests/support/temp_dir.h"

namespace {

ObjModel* readModel(const TempDir& dir, const std::string& text) {
    return glmReadOBJ(dir.write("m.obj", text).c_str());
}

const float* normalOfCorner(const ObjModel* m, uint32_t triangle, int corner) {
    return &m->normals[3 * m->triangles[triangle].normalIndices[corner]];
}

void expectVector(const float* v, float x, float y, float z, const char* what) {
    EXPECT_NEAR(v[0], x, 1e-6) << what;
    EXPECT_NEAR(v[1], y, 1e-6) << what;
    EXPECT_NEAR(v[2], z, 1e-6) << what;
}

// Two triangles folded along the edge 1-2 at a right angle: one in the plane z = 0 (normal +z),
// one in the plane y = 0 (normal +y).
const char* const kRightAngleFold =
    "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\n"
    "f 1 2 3\n"   // (1,0,0) x (0,1,0) = +z
    "f 1 4 2\n";  // (0,0,1) x (1,0,0) = +y

}  // namespace

TEST(ObjNormals, FacetNormalsAreUnitAndFollowTheCornerOrder) {
    TempDir dir;
    // Scaled triangles: the unit normal does not depend on the size.
    ObjModel* m = readModel(dir,
                            "v 0 0 0\nv 1e4 0 0\nv 0 1e4 0\nv 0 0 1e-4\n"
                            "f 1 2 3\nf 1 3 2\nf 1 2 4\n");
    glmComputeFacetNormals(m);
    ASSERT_EQ(m->facetNormalCount, 3u);
    for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(m->triangles[i].facetNormalIndex, i + 1);
    expectVector(&m->facetNormals[3], 0, 0, 1, "counter-clockwise seen from +z");
    expectVector(&m->facetNormals[6], 0, 0, -1, "clockwise seen from +z");
    expectVector(&m->facetNormals[9], 0, -1, 0, "in the plane y = 0");
    glmDelete(m);
}

TEST(ObjNormals, RightAngleEdgeStaysSharpAtEightyFiveDegrees) {
    TempDir dir;
    ObjModel* m = readModel(dir, kRightAngleFold);
    glmComputeFacetNormals(m);
    expectVector(&m->facetNormals[3], 0, 0, 1, "first facet");
    expectVector(&m->facetNormals[6], 0, 1, 0, "second facet");
    glmComputeVertexNormals(m, 85.0f);
    // The facets meet at 90 degrees > 85: at every shared vertex each keeps its facet normal.
    for (int k = 0; k < 3; ++k) expectVector(normalOfCorner(m, 0, k), 0, 0, 1, "first");
    for (int k = 0; k < 3; ++k) expectVector(normalOfCorner(m, 1, k), 0, 1, 0, "second");
    // Vertices 1 and 2 have two members each (a normal per member), 3 and 4 one: 6 normals.
    EXPECT_EQ(m->normalCount, 6u);
    glmDelete(m);
}

TEST(ObjNormals, WideCreaseAngleAveragesAcrossTheEdge) {
    TempDir dir;
    ObjModel* m = readModel(dir, kRightAngleFold);
    glmComputeFacetNormals(m);
    glmComputeVertexNormals(m, 95.0f);
    const float s = static_cast<float>(1 / sqrt(2.0));
    // On the shared edge both corners get the normalised sum (0, 1, 1) / sqrt 2, one normal.
    expectVector(normalOfCorner(m, 0, 0), 0, s, s, "vertex 1, first triangle");
    expectVector(normalOfCorner(m, 1, 0), 0, s, s, "vertex 1, second triangle");
    EXPECT_EQ(m->triangles[0].normalIndices[0], m->triangles[1].normalIndices[0]);
    expectVector(normalOfCorner(m, 0, 2), 0, 0, 1, "vertex 3, alone");
    // Averaged normal for vertices 1 and 2, facet normals for 3 and 4: 4 normals.
    EXPECT_EQ(m->normalCount, 4u);
    glmDelete(m);
}

TEST(ObjNormals, CoplanarTrianglesShareOneNormalPerVertex) {
    TempDir dir;
    // A tilted square split into four triangles around a centre vertex 5.
    ObjModel* m = readModel(dir,
                            "v 0 0 0\nv 1 0 1\nv 1 1 1\nv 0 1 0\nv 0.5 0.5 0.5\n"
                            "f 1 2 5\nf 2 3 5\nf 3 4 5\nf 4 1 5\n");
    glmComputeFacetNormals(m);
    glmComputeVertexNormals(m, 85.0f);
    const float s = static_cast<float>(1 / sqrt(2.0));
    // One normal per used vertex, all equal to the plane's unit normal (-1, 0, 1) / sqrt 2.
    EXPECT_EQ(m->normalCount, 5u);
    for (uint32_t t = 0; t < 4; ++t) {
        for (int k = 0; k < 3; ++k) expectVector(normalOfCorner(m, t, k), -s, 0, s, "corner");
    }
    const uint32_t centre = m->triangles[0].normalIndices[2];
    for (uint32_t t = 1; t < 4; ++t) EXPECT_EQ(m->triangles[t].normalIndices[2], centre);
    glmDelete(m);
}

TEST(ObjNormals, LastTriangleUsingAVertexDecidesWhatIsAveraged) {
    TempDir dir;
    // Around vertex 1: a flat fan of two triangles in z = 0, then a triangle tilted by 60
    // degrees about the x axis, written last. With a crease angle of 50 degrees the tilted one
    // heads the list and averages with neither (both lie 60 degrees away), so each flat
    // triangle keeps its facet normal there too.
    ObjModel* m = readModel(dir,
                            "v 0 0 0\nv 1 0 0\nv 0 1 0\nv -1 0 0\nv 0 -0.5 0.8660254\n"
                            "f 1 2 3\nf 1 3 4\nf 1 5 2\n");
    glmComputeFacetNormals(m);
    glmComputeVertexNormals(m, 50.0f);
    expectVector(normalOfCorner(m, 0, 0), 0, 0, 1, "flat 1");
    expectVector(normalOfCorner(m, 1, 0), 0, 0, 1, "flat 2");
    EXPECT_NE(m->triangles[0].normalIndices[0], m->triangles[1].normalIndices[0]);
    // Written first instead, a flat triangle heads the list: the two flat ones average.
    ObjModel* n = readModel(dir,
                            "v 0 0 0\nv 1 0 0\nv 0 1 0\nv -1 0 0\nv 0 -0.5 0.8660254\n"
                            "f 1 5 2\nf 1 2 3\nf 1 3 4\n");
    glmComputeFacetNormals(n);
    glmComputeVertexNormals(n, 50.0f);
    EXPECT_EQ(n->triangles[1].normalIndices[0], n->triangles[2].normalIndices[0]);
    EXPECT_NE(n->triangles[0].normalIndices[0], n->triangles[1].normalIndices[0]);
    glmDelete(m);
    glmDelete(n);
}

TEST(ObjNormals, FileNormalsAreReplacedAndUnusedVerticesGetNone) {
    TempDir dir;
    ObjModel* m = readModel(dir,
                            "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 5 5 5\n"
                            "vn 1 0 0\nvn 1 0 0\nvn 1 0 0\nvn 1 0 0\nvn 1 0 0\n"
                            "f 1//5 2//5 3//5\n");
    glmComputeFacetNormals(m);
    glmComputeVertexNormals(m, 85.0f);
    EXPECT_EQ(m->normalCount, 3u);  // vertex 4 is used by no triangle
    for (int k = 0; k < 3; ++k) {
        EXPECT_GE(m->triangles[0].normalIndices[k], 1u);
        EXPECT_LE(m->triangles[0].normalIndices[k], 3u);
        expectVector(normalOfCorner(m, 0, k), 0, 0, 1, "corner");
    }
    glmDelete(m);
}

TEST(ObjNormals, TriangleNamingAVertexTwiceGivesEveryCornerANormal) {
    TempDir dir;
    ObjModel* m = readModel(dir,
                            "v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\n"
                            "f 1 2 3\nf 1//1 1//1 2//1\n");
    glmComputeFacetNormals(m);
    glmComputeVertexNormals(m, 85.0f);
    for (int k = 0; k < 3; ++k) {
        EXPECT_GE(m->triangles[1].normalIndices[k], 1u) << k;
        EXPECT_LE(m->triangles[1].normalIndices[k], m->normalCount) << k;
    }
    glmDelete(m);
}
