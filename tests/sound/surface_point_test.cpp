// The modal force at a point of the surface: the strike's projection at a vertex, the linear
// interpolation of the shapes inside a triangle; and the nearest point of a mesh.
#include "sound/surface_point.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "geometry/mode_shape_matrix.h"
#include "geometry/obj_model.h"
#include "sound/impact.h"

namespace {

// Four vertices, three modes of arbitrary shapes.
std::vector<double> fourVerticesThreeModes() {
    std::vector<double> U(4 * 3 * 3);
    for (size_t i = 0; i < U.size(); ++i) U[i] = std::sin(1.7 * i + 0.3) * (1.0 + 0.1 * i);
    return U;
}

// A unit right triangle in the z = 0 plane, counter-clockwise seen from +z.
struct OneTriangle {
    OneTriangle() {
        model.vertexCount = 3;
        model.vertices = vertices;
        model.triangleCount = 1;
        model.triangles = &triangle;
        triangle.vertexIndices[0] = 1;
        triangle.vertexIndices[1] = 2;
        triangle.vertexIndices[2] = 3;
    }
    float vertices[12] = {0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0};
    ObjTriangle triangle{};
    ObjModel model{};
};

}  // namespace

TEST(ModalSurfaceForces, AtAVertexEqualsTheStrike) {
    const std::vector<double> U = fourVerticesThreeModes();
    const ModeShapeMatrix shapes(4, 3, U.data());
    const double direction[3] = {0.36, -0.48, 0.8};
    for (int v = 0; v < 4; ++v) {
        double strike[3] = {0, 0, 0}, contact[3] = {0, 0, 0}, corner[3] = {0, 0, 0};
        ASSERT_TRUE(modalImpactForces(shapes, v, direction, 3.5, strike));
        // The contact standing on v: all corners v, or v with full weight in a triangle.
        ASSERT_TRUE(modalSurfaceForces(shapes, SurfacePoint{{v, v, v}, {0.2, 0.3, 0.5}}, direction,
                                       3.5, contact));
        const int other = (v + 1) % 4, third = (v + 2) % 4;
        ASSERT_TRUE(modalSurfaceForces(shapes, SurfacePoint{{other, v, third}, {0.0, 1.0, 0.0}},
                                       direction, 3.5, corner));
        for (int j = 0; j < 3; ++j) {
            EXPECT_NEAR(contact[j], strike[j], 1e-14 * std::fabs(strike[j]) + 1e-300);
            EXPECT_EQ(corner[j], strike[j]);
        }
    }
}

TEST(ModalSurfaceForces, InterpolatesTheShapesLinearlyOverTheTriangle) {
    const std::vector<double> U = fourVerticesThreeModes();
    const ModeShapeMatrix shapes(4, 3, U.data());
    const double direction[3] = {0.0, 0.6, 0.8};
    const double w[3] = {0.15, 0.25, 0.6};
    double contact[3] = {0, 0, 0};
    ASSERT_TRUE(modalSurfaceForces(shapes, SurfacePoint{{0, 2, 3}, {w[0], w[1], w[2]}}, direction,
                                   2.0, contact));
    const int corners[3] = {0, 2, 3};
    for (int j = 0; j < 3; ++j) {
        // u_j(p) = sum_k w_k u_j(v_k), read straight from the matrix's layout.
        double expected = 0.0;
        for (int k = 0; k < 3; ++k) {
            for (int a = 0; a < 3; ++a) {
                expected += w[k] * U[(corners[k] + j * 4) * 3 + a] * 2.0 * direction[a];
            }
        }
        EXPECT_NEAR(contact[j], expected, 1e-13);
    }
    // A corner without mode shape adds nothing.
    double untouched[3] = {0, 0, 0};
    EXPECT_FALSE(modalSurfaceForces(shapes, SurfacePoint{{0, 4, 1}, {0.3, 0.3, 0.4}}, direction,
                                    1.0, untouched));
    for (double f : untouched) EXPECT_EQ(f, 0.0);
}

TEST(FindSurfacePoint, ProjectsOntoTheFaceAndClampsToEdgesAndCorners) {
    OneTriangle mesh;
    SurfacePoint point;
    double normal[3];
    // Above the interior: the foot of the perpendicular, barycentric (1 - x - y, x, y).
    const double above[3] = {0.2, 0.3, 0.7};
    ASSERT_TRUE(findSurfacePoint(mesh.model, above, &point, normal));
    EXPECT_NEAR(point.weight[0], 0.5, 1e-12);
    EXPECT_NEAR(point.weight[1], 0.2, 1e-12);
    EXPECT_NEAR(point.weight[2], 0.3, 1e-12);
    EXPECT_EQ(point.vertex[0], 0);
    EXPECT_EQ(point.vertex[1], 1);
    EXPECT_EQ(point.vertex[2], 2);
    EXPECT_NEAR(normal[2], 1.0, 1e-12);
    // Beyond the corner (1, 0, 0): that corner alone.
    const double beyondCorner[3] = {3.0, -1.0, 0.5};
    ASSERT_TRUE(findSurfacePoint(mesh.model, beyondCorner, &point, normal));
    EXPECT_NEAR(point.weight[1], 1.0, 1e-12);
    // Beyond the hypotenuse x + y = 1: its point nearest, halfway along for (1, 1).
    const double beyondEdge[3] = {1.0, 1.0, -0.2};
    ASSERT_TRUE(findSurfacePoint(mesh.model, beyondEdge, &point, normal));
    EXPECT_NEAR(point.weight[0], 0.0, 1e-12);
    EXPECT_NEAR(point.weight[1], 0.5, 1e-12);
    EXPECT_NEAR(point.weight[2], 0.5, 1e-12);
}
