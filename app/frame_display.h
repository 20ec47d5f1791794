// The display handler: draws one frame of the scene and its screen-space overlays, then swaps
// the buffers. GUI thread only.
#pragma once

void onDisplay();
