// The three scenes' presets. The float entries hold the nearest single-precision values of the
// decimals written here (4.68874e-8 and 1.3 are not exact).
#include "geometry/scene_presets.h"

namespace {

const SceneParameters kScenePresets[3] = {
    // Bell: bronze, swinging in its yoke above a floor; lights 2 and 7.
    {1.8,
     -59.427,
     14.2704,
     {0, 1.0, 0},
     7.0,
     10.0f,
     1.0f,
     20.0f,
     0.75f,
     4.68874e-8f,
     30000.0,
     0.6,
     {0, 0, 1, 0, 0, 0, 0, 1},
     1,
     "bell/bell.obj",
     "bell/bell.U",
     "bell/bell.freq",
     "bell/bell-ZEPObjectsList-05.txt"},
    // Chair: wood; lights 2 and 7.
    {1.2,
     -70.0,
     20.0,
     {0, -0.05, 0},
     10.0,
     0.25f,
     0.01f,
     1.0f,
     8.0f,
     7e-6f,
     15000.0,
     0.6,
     {0, 0, 1, 0, 0, 0, 0, 1},
     0,
     "chair/chair.obj",
     "chair/chair.U",
     "chair/chair.freq",
     "chair/chair-ZEPObjectsList-15.txt"},
    // Dragon: ceramic; lights 0, 2, 4 and 6.
    {0.25,
     -80.0,
     20.0,
     {0, 0, 0},
     3.0,
     1.3f,
     0.1f,
     2.5f,
     10.0f,
     4.2e-8f,
     30000.0,
     0.8,
     {1, 0, 1, 0, 1, 0, 1, 0},
     0,
     "dragon/dragon.obj",
     "dragon/dragon.U",
     "dragon/dragon.freq",
     "dragon/dragon-ZEPObjectsList-04.txt"},
};

}  // namespace

const SceneParameters* scenePreset(int selector) {
    if (selector < 0 || selector > 2) return nullptr;
    return &kScenePresets[selector];
}
