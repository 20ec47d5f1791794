// The wooden chair as a union of boxes: seat, four legs, side, front and back stretchers, two
// back posts running from the floor to the top rail, and three back slats. 0.75 m tall and
// 0.43 m across and deep, placed so that the chair's start camera shows all of it with a margin
// (floor at y = -0.385, top at y = 0.365). Every joint overlaps by whole faces.
#pragma once

#include <vector>

#include "tools/bake/surface/box_union.h"

std::vector<Box> chairBoxes();
