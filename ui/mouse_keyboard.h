// Mouse and keyboard handlers of the main window's 3-D view: the left button strikes, the right
// button orbits the camera, the middle button zooms; Escape quits, 'r' repeats the last strike,
// 's' toggles the camera spin, 'm' opens and closes the Modes window (ui/modes_window.h). Events
// over the control panel, and mouse events over the open Modes window, never reach these handlers
// (see ui/input_router.h). GUI thread only.
#pragma once

extern int leftButtonDown, middleButtonDown, rightButtonDown;
extern double lastMouseX, lastMouseY;

class OrbitCamera;

// One orbit step of a right-button drag by (dx, dy) pixels: 0.01 rad per pixel of azimuth and
// elevation; the whole step is undone when it would take the eye below the floor
// (groundConstraint).
void orbitCamera(OrbitCamera& camera, double dx, double dy);

// One zoom step of a middle-button drag by dy pixels (down brings the eye closer); undone when it
// would take the eye below the floor or farther than maxCameraDistance from cameraFocus. The
// clipping planes then follow the radius in force.
void zoomCamera(OrbitCamera& camera, double dy);

// GLUT mouse-button callback; x, y in window pixels, origin top left.
void onMouseButton(int button, int state, int x, int y);
// GLUT motion callback (a button is held).
void onMouseMotion(int x, int y);
// GLUT keyboard callback.
void onKey(unsigned char key, int x, int y);
// GLUT special-key callback: no special key does anything.
void onSpecialKey(int key, int x, int y);
