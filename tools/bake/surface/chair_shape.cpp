// The chair's boxes (see chair_shape.h). Metres; x across, y up, z from back (-) to front (+).
//
// Placed for the chair's start camera (geometry/scene_presets.cpp: focus (0, -0.05, 0), 1.2 m away,
// 20 degrees above, a 45-degree vertical field of view, so about 0.99 m of height at the focus):
// the chair is 0.75 m tall with its seat 0.43 m above the floor, centred on the focus across and
// front to back, and 4 cm above it, because its front legs, nearest the camera, look larger than
// its back: so its picture sits in the middle of the 570 x 480 view, about 25 pixels from the top
// and the bottom edges.
#include "tools/bake/surface/chair_shape.h"

std::vector<Box> chairBoxes() {
    using V = Eigen::Vector3d;
    const double floor = -0.385, seatBottom = 0.015, seatTop = 0.045, top = 0.365;
    const double legOuter = 0.20, legInner = 0.16;      // |x| of the legs' faces
    const double frontOuter = 0.20, frontInner = 0.16;  // z of the front legs' faces
    const double backInner = -0.16, backOuter = -0.20;  // z of the back posts' faces
    const double stretcher = floor + 0.14;              // bottom of the side stretchers
    const double crossStretcher = floor + 0.23;         // bottom of the front and back ones
    const double railBottom = top - 0.08, railTop = top - 0.02;
    std::vector<Box> boxes;
    // Seat, overhanging the legs a little on every side.
    boxes.push_back({V(-0.215, seatBottom, -0.215), V(0.215, seatTop, 0.215)});
    for (double s : {-1.0, 1.0}) {
        const double xl = s < 0 ? -legOuter : legInner, xu = s < 0 ? -legInner : legOuter;
        // Front leg up to the seat, back post from the floor to the top rail.
        boxes.push_back({V(xl, floor, frontInner), V(xu, seatBottom, frontOuter)});
        boxes.push_back({V(xl, floor, backOuter), V(xu, top, backInner)});
        // Side stretcher between them, flush with the legs, meeting both face to face.
        boxes.push_back({V(xl, stretcher, backInner), V(xu, stretcher + 0.03, frontInner)});
    }
    // Front and back stretchers between the legs, higher than the side ones.
    boxes.push_back(
        {V(-legInner, crossStretcher, frontInner), V(legInner, crossStretcher + 0.03, frontOuter)});
    boxes.push_back(
        {V(-legInner, crossStretcher, backOuter), V(legInner, crossStretcher + 0.03, backInner)});
    // Top rail between the back posts, and three vertical slats from the seat up to it.
    boxes.push_back({V(-legInner, railBottom, backOuter), V(legInner, railTop, backInner)});
    for (double x : {-0.09, 0.0, 0.09})
        boxes.push_back({V(x - 0.02, seatTop, -0.19), V(x + 0.02, railBottom, -0.17)});
    return boxes;
}
