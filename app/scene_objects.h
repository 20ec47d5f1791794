// The scene's objects: the struck object, and in the bell scene the wooden and metal yoke and
// the supports. Scene loading creates them; until then (and in the chair and dragon scenes for
// the three fixtures) the pointers are null. GUI thread only.
#pragma once

#include "geometry/scene_object.h"

extern SceneObject* mainObject;       // the struck object: bell, chair or dragon
extern SceneObject* yokeWoodObject;   // bell scene: the wooden headstock, swings with the bell
extern SceneObject* yokeMetalObject;  // bell scene: straps and gudgeons, swing with the bell
extern SceneObject* supportsObject;   // bell scene: the supports, fixed at the rest pose
