// The program for a scene folder of one's own, tonwell-object FOLDER: this file's sceneSelector
// over the libraries and main (ui/main.cpp). The folder's presets.json stands in for the fixed
// preset table (app/object_folder.h).
#include "app/scene_selector.h"

extern const int sceneSelector = kObjectScene;
