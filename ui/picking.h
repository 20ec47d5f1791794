// Picking and impacts: a left press on the object becomes a point force at the nearest mesh
// vertex, directed from the eye to that vertex, projected on the modes and added to the pending
// modal forces the audio callback takes at the end of its current block. In the bell scene the
// click also kicks the swing, and a click on the fixtures only pushes it.
// GUI thread; only applyImpact touches data shared with the audio thread (under forceMutex).
#pragma once

#include "platform/interval_timer.h"

struct ObjModel;

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

// Index of the vertex of the struck object's mesh nearest to the world point (px, py, pz),
// brought into the object's frame with the current pose.
int pickVertex(double px, double py, double pz);

// Index (0-based) of the vertex of `mesh` nearest to (qx, qy, qz) in the mesh's own frame; ties
// go to the lowest index; 0 for a mesh without vertices.
int findNearestVertex(const ObjModel& mesh, double qx, double qy, double qz);

// Adds the force impactMagnitude * (dx, dy, dz) at `vertex` to the pending modal forces of the
// active modes (under forceMutex); adds `torque` to the swing in the bell scene; starts the
// impact marker.
void applyImpact(int vertex, double dx, double dy, double dz, double torque);

// applyImpact with the remembered vertex, direction and torque, at the current magnitude.
void repeatLastImpact();
