// Frame display and status line: the display handler draws one frame (shadows, lights, floor,
// fixtures, the struck object (or its mode shape, when the Modes window asks), the mesh overlay,
// the impact marker, then the level meters and warnings in screen space, then the control panel
// and the Modes window); the idle handler advances the swing and
// the camera spin, refreshes the status line in the window title once per second and asks for
// the next frame. GUI thread only.
#pragma once

#include "platform/interval_timer.h"

extern double graphicsRate;   // Hz, 1 / the last idle interval
extern double audioWorkload;  // percent of a block's real time the last audio callback used
extern int cpuOverloaded;     // audioWorkload was above 100 at the last status refresh
extern int meterSaturated;    // a level meter saturated in the current frame

// The display's and the idle handler's interval timers, initialised before main.
extern IntervalTimer lastIdleTime;        // idle handler: frame interval
extern IntervalTimer lastStatusTime;      // idle handler: status line once per second
extern IntervalTimer lastSaturationTime;  // display handler: saturation message hold

// GLUT display handler.
void onDisplay();
// GLUT idle handler.
void onIdle();

// The idle handler's per-frame step for a frame interval in seconds: graphicsRate = 1 / interval;
// the bell's swing and the camera spin advance by the interval, at most one second. A zero
// interval (two calls within one counter tick) changes nothing.
void advanceFrame(double interval);

// The eight fixed lights at the corners of the cube from -10 to 10, grey level `intensity`,
// light i on when enabled[i] is non-zero; then lighting on.
void setupLights(const int enabled[8], double intensity);

// Draws one level meter for the peak `value` at pixel column x, `top` pixels below the top of
// the viewport; returns 1 when it saturated (value >= 1).
int drawLevelMeter(int x, int top, double value);

// Draws `text` at the raster position (x, y, z) with a GLUT bitmap font.
void drawText(double x, double y, double z, void* font, const char* text);
