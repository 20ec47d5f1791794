// The control panel: one Dear ImGui window pinned to the right edge of the main window, full
// height, exposing every run-time setting as a live variable (strike duration and magnitude,
// sounding modes, renderer and channels, Rayleigh damping, camera spin, mesh overlay) and the
// buttons for repeating a strike, pushing the bell, silencing and quitting.
//
// Its events come from the input router (ui/input_router.h). GUI thread only.
#pragma once

#include "ui/contact_drag.h"

// Live variables the panel owns (the others live with the code that reads them).
extern int spinEnabled;      // 0 or 1; also toggled by the key 's'
extern float spinFrequency;  // camera spin, turns per second
extern int showMesh;         // draw the computational mesh over the object

// Which Rayleigh coefficient applyDamping re-derives the modes after.
enum DampingCoefficient { kMassProportional = 0, kStiffnessProportional = 1 };

// Builds the panel (once, after the scene is loaded): creates the ImGui context and its GLUT
// and OpenGL 2 back ends and reserves the panel's width on the right of the window.
void buildControlPanel();
// Draws the panel over the whole window (called by the display handler after the scene); its
// "Contact" section edits `contact`.
void drawControlPanel(ContactPanelSettings& contact);
// Whether the panel exists: built and not yet shut down.
bool controlPanelBuilt();
// Releases the panel at exit; safe when it was never built.
void shutdownControlPanel();
// Lets the panel follow a window size change (the reshape handler calls it).
void controlPanelReshape(int width, int height);

// Stops all sound at once: silences every resonator and clears the active and pending modal
// forces, under synthesisMutex.
void silenceAllModes();

// Re-derives every mode's damping c = alpha + beta omega^2 after one coefficient was edited; a
// negative entry, or one that any mode refuses (not underdamped), is replaced by the previous
// value, which every mode then gets back. Holds synthesisMutex for the pass.
void applyDamping(DampingCoefficient which);
