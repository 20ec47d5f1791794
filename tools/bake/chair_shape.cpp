// The chair's boxes (see chair_shape.h). Metres; x across, y up, z from back (-) to front (+).
#include "tools/bake/chair_shape.h"

std::vector<Box> chairBoxes() {
    using V = Eigen::Vector3d;
    const double floor = -0.45, seatBottom = -0.03, seatTop = 0.0, top = 0.45;
    const double legOuter = 0.20, legInner = 0.16;      // |x| of the legs' faces
    const double frontOuter = 0.21, frontInner = 0.17;  // z of the front legs' faces
    const double backInner = -0.15, backOuter = -0.19;  // z of the back posts' faces
    std::vector<Box> boxes;
    // Seat, overhanging the legs a little at the front and sides.
    boxes.push_back({V(-0.215, seatBottom, -0.205), V(0.215, seatTop, 0.225)});
    for (double s : {-1.0, 1.0}) {
        const double xl = s < 0 ? -legOuter : legInner, xu = s < 0 ? -legInner : legOuter;
        // Front leg up to the seat, back post from the floor to the top rail.
        boxes.push_back({V(xl, floor, frontInner), V(xu, seatBottom, frontOuter)});
        boxes.push_back({V(xl, floor, backOuter), V(xu, top, backInner)});
        // Side stretcher between them, flush with the legs, meeting both face to face.
        boxes.push_back({V(xl, -0.31, backInner), V(xu, -0.28, frontInner)});
    }
    // Front and back stretchers between the legs, higher than the side ones.
    boxes.push_back({V(-legInner, -0.22, frontInner), V(legInner, -0.19, frontOuter)});
    boxes.push_back({V(-legInner, -0.22, backOuter), V(legInner, -0.19, backInner)});
    // Top rail between the back posts, and three vertical slats from the seat up to it.
    boxes.push_back({V(-legInner, 0.37, backOuter), V(legInner, 0.43, backInner)});
    for (double x : {-0.09, 0.0, 0.09})
        boxes.push_back({V(x - 0.02, seatTop, -0.18), V(x + 0.02, 0.37, -0.16)});
    return boxes;
}
