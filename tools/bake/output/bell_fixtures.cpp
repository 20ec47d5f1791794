// Geometry and materials of the headstock, straps, gudgeons and supports (see bell_fixtures.h).
#include "tools/bake/output/bell_fixtures.h"

#include <Eigen/Geometry>
#include <cmath>

#include "tools/bake/surface/solid_primitives.h"

std::vector<BellFixture> makeBellFixtures(double bellRadius, double crownTopY) {
    using V = Eigen::Vector3d;
    const double beamHalfLength = bellRadius + 0.03;  // the headstock overhangs the bell a little
    const double beamHalfWidth = 0.08;
    const double beamTop = kPivotY + 0.065;
    const double gudgeonRadius = 0.025;
    const double postInner = beamHalfLength + 0.07;  // clear of the headstock's swing
    const double postOuter = postInner + 0.10;

    BellFixture wood{"yoke-wood",
                     {"yoke-wood", "oak", {}},
                     {"oak", V(0.22, 0.15, 0.08), V(0.55, 0.37, 0.19), V(0.12, 0.10, 0.08), 90.0}};
    wood.part.mesh = makeBox(V(-beamHalfLength, crownTopY - 0.005, -beamHalfWidth),
                             V(beamHalfLength, beamTop, beamHalfWidth));

    BellFixture metal{
        "yoke-metal",
        {"yoke-metal", "iron", {}},
        {"iron", V(0.08, 0.08, 0.09), V(0.22, 0.22, 0.24), V(0.55, 0.55, 0.6), 400.0}};
    for (double side : {-1.0, 1.0}) {
        // Gudgeon: the iron pin on the swing axis, from inside the headstock into the bearing.
        appendMesh(metal.part.mesh,
                   makeCylinder(V(side * (beamHalfLength - 0.04), kPivotY, 0.0),
                                V(side * (postOuter + 0.01), kPivotY, 0.0), gudgeonRadius, 16));
        // Strap: over the headstock and down both faces to the crown.
        const double x0 = side * 0.10, x1 = side * 0.125;
        appendMesh(metal.part.mesh,
                   makeBox(V(std::min(x0, x1), beamTop, -beamHalfWidth - 0.008),
                           V(std::max(x0, x1), beamTop + 0.008, beamHalfWidth + 0.008)));
        for (double face : {-1.0, 1.0}) {
            const double z0 = face * beamHalfWidth, z1 = face * (beamHalfWidth + 0.008);
            appendMesh(metal.part.mesh,
                       makeBox(V(std::min(x0, x1), crownTopY - 0.01, std::min(z0, z1)),
                               V(std::max(x0, x1), beamTop + 0.008, std::max(z0, z1))));
        }
    }

    BellFixture supports{
        "supports",
        {"supports", "timber", {}},
        {"timber", V(0.20, 0.14, 0.08), V(0.46, 0.33, 0.18), V(0.08, 0.07, 0.05), 40.0}};
    const double postHalfDepth = 0.05, footHalfLength = 0.40, footHeight = 0.08;
    const double bearingY = kPivotY - gudgeonRadius;
    for (double side : {-1.0, 1.0}) {
        const double xa = side * postInner, xb = side * postOuter;
        const double xl = std::min(xa, xb), xu = std::max(xa, xb);
        appendMesh(supports.part.mesh,
                   makeBox(V(xl, kFloorY, -postHalfDepth), V(xu, bearingY, postHalfDepth)));
        appendMesh(supports.part.mesh, makeBox(V(xl - 0.02, kFloorY, -footHalfLength),
                                               V(xu + 0.02, kFloorY + footHeight, footHalfLength)));
        // Two braces from the foot to the post, in the y-z plane.
        for (double face : {-1.0, 1.0}) {
            const V bottom(0.5 * (xl + xu), kFloorY + footHeight, face * (footHalfLength - 0.08));
            const V top(0.5 * (xl + xu), kFloorY + 0.75, face * postHalfDepth);
            const V along = (top - bottom).normalized();
            Eigen::Matrix3d axes;
            axes.col(0) = V::UnitX();
            axes.col(1) = along;
            axes.col(2) = V::UnitX().cross(along);
            appendMesh(supports.part.mesh,
                       makeOrientedBox(
                           0.5 * (bottom + top), axes,
                           V(0.5 * (xu - xl) - 0.01, 0.5 * (top - bottom).norm() + 0.03, 0.03)));
        }
    }
    return {wood, metal, supports};
}
