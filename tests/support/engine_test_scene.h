// The engine's view of the tests' synthetic scenes (tests/support/test_scene.h): the files of a
// chair written by writeTestScene, as EngineObjectFiles with the chair's preset damping, and a
// listener whose ears sit 8 cm either side of the eye along x.
#pragma once

#include "engine/engine_object.h"
#include "geometry/listener_points.h"
#include "tests/support/temp_dir.h"

// The chair writeTestScene put in `dir` (its "chair" folder), with Rayleigh alpha 8 1/s and
// beta 7e-6 s.
EngineObjectFiles testChairFiles(const TempDir& dir);

// Eye at (x, y, z) m, ears at x -+ 0.08 m.
ListenerPoints testListenerAt(double x, double y, double z);
