// Which scene a build shows: 0 the bell, 1 the chair, 2 the dragon, 3 a baked folder of one's own.
//
// The selector is a constant of each program: tonwell-bell, tonwell-chair, tonwell-dragon and
// tonwell-object each are one small file that defines it (app/scene_*.cpp) over the libraries,
// and the test programs define their own. Every scene-dependent value in the code is a branch on
// it. The object scene takes its presets from the folder named on its command line
// (app/object_folder.h) and otherwise behaves as the chair: no floor, no fixtures, no swing.
#pragma once

#include "geometry/scene_presets.h"  // SceneId

extern const int sceneSelector;
