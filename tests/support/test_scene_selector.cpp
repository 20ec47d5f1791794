// The unit-test program is built like the chair program: the chair is the default scene.
#include "app/scene_selector.h"

extern const int sceneSelector = 1;
