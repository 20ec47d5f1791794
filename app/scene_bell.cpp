// The bell build of the demo: links the core library and app/main.cpp with this selector.
#include "app/scene_selector.h"

extern const int sceneSelector = 0;
