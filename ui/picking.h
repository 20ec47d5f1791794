// Picking and strikes in the window: a left press on the object becomes a point force at the
// nearest mesh vertex, directed from the eye to that vertex, which the impact (sound/impact.h)
// projects on the modes and adds to the pending modal forces the audio callback takes at the end
// of its current block. In the bell scene the click also kicks the swing, and a click on the
// fixtures only pushes it; every strike shows the impact marker for a second.
// GUI thread; only the impact touches data shared with the audio thread (under forceMutex).
#pragma once

#include "platform/interval_timer.h"

// The one remembered strike.
struct LastImpact {
    int vertex;           // 0-based vertex of the struck object's mesh
    double direction[3];  // unit vector from the eye to the vertex, world axes; or 0
    double torque;        // angular impulse for the bell's swing (bell scene only)
};
extern LastImpact lastImpact;
extern bool impactMarkerOn;  // the green marker is shown (cleared 1 s after the last impact)
// Time of the last impact, for the marker's lifetime (the idle handler reads it); initialised
// before main.
extern IntervalTimer impactTime;

// Records the scene's modelview and projection matrices and viewport as the display leaves them,
// before the control panel changes them; strikeAt unprojects with these.
void saveSceneViewForPicking();

// Left press at window pixel (x, y), origin top left: reads depth and stencil under the pointer
// and strikes the object (stencil 1), pushes the swing (stencil 2) or does nothing.
void strikeAt(int x, int y);

// The world point of the struck object under window pixel (x, y) (stencil 1), read from the
// depth buffer and unprojected with the saved scene view, into world; false when the pixel
// shows anything else.
bool pickObjectSurface(int x, int y, double world[3]);

// Index of the vertex of the struck object's mesh nearest to the world point (px, py, pz),
// brought into the object's frame with the current pose.
int pickVertex(double px, double py, double pz);

// A strike of the window at `vertex` along the unit vector `direction` (world axes, or 0): the
// impact of the current impactMagnitude on the active modes through the scene's mode shapes
// (applyImpact, under forceMutex); `torque` added to the swing in the bell scene; the impact
// marker started. Precondition: the scene is loaded (modeShapes exists).
void strikeVertex(int vertex, const double direction[3], double torque);

// strikeVertex with the remembered vertex, direction and torque, at the current magnitude.
void repeatLastImpact();
