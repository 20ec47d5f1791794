// The scene objects, null until scene loading creates them.
#include "app/scene_objects.h"

SceneObject* mainObject = nullptr;
SceneObject* yokeWoodObject = nullptr;
SceneObject* yokeMetalObject = nullptr;
SceneObject* supportsObject = nullptr;
