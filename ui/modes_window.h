// The Modes window: what is ringing, one mode at a time. A Dear ImGui window over the bottom of
// the 3-D view, opened and closed with the key 'm' (closed at start), that draws one bar per
// sounding mode at its frequency on a logarithmic axis (50 Hz to 20 kHz), as high as the mode's
// level at the listener (sound/mode_levels.h) with a short peak hold; names a mode's frequency,
// damping, decay time, transfer and level when the pointer rests on its bar; solos a mode on a
// left click and mutes it on a right click (sound/mode_mask.h); and shows the selected mode's
// shape on the object when asked (ui/mode_shape_view.h).
//
// While the window is closed nothing of it runs: no level is published, nothing is soloed or
// muted, and the picture and the sound are those of the program without it. GUI thread only;
// drawn inside the control panel's ImGui frame.
#pragma once

// Whether the window is open.
bool modesWindowOpen();

// The key 'm': opens the window (and asks the audio block for the per-mode levels) or closes it
// (stops the levels, clears every solo and mute, hides the mode shape).
void toggleModesWindow();

// Draws the window when it is open; call between the ImGui frame's start and its rendering.
void drawModesWindow();

// Whether the window pixel (x, y) (origin top left) lies on the open window, so that the input
// router hands mouse events there to ImGui rather than to the 3-D view.
bool insideModesWindow(int x, int y);

// The mode whose shape the object shows (0-based), or -1: the soloed mode, else the last one the
// pointer rested on, while the window is open and its "Show mode shape" box is ticked.
int modeShapeShown();
