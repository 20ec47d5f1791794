// Which scene a build shows: 0 the bell, 1 the chair, 2 the dragon.
//
// The selector is a constant of each program: tonwell-bell, tonwell-chair and tonwell-dragon
// each are one small file that defines it (app/scene_*.cpp) over the libraries, and the
// test programs define their own. Every scene-dependent value in the code is a branch on it.
#pragma once

extern const int sceneSelector;

enum SceneId { kBellScene = 0, kChairScene = 1, kDragonScene = 2 };
