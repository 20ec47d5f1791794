// The wooden chair as a union of boxes: seat, four legs, side, front and back stretchers, two
// back posts running from the floor to the top rail, and three back slats. About 0.9 m tall,
// centred on the origin (floor at y = -0.45). Every joint overlaps by whole faces.
#pragma once

#include <vector>

#include "tools/bake/box_union.h"

std::vector<Box> chairBoxes();
