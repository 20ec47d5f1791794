// The chair program: this file's sceneSelector over the libraries and main (ui/main.cpp).
#include "app/scene_selector.h"

extern const int sceneSelector = 1;
