// The main window's input router: GLUT hands every mouse and keyboard event of the main window to
// the handlers here. An event over the control panel goes to the panel (Dear ImGui's GLUT back
// end) only, and so does a mouse event over the open Modes window (ui/modes_window.h); every other
// one goes to the 3-D view's handlers (ui/mouse_keyboard.h). The panel is
// chosen by position, not by ImGui's io.WantCaptureMouse, which lags one frame; a mouse button
// pressed over the panel keeps its motion and release there.
//
// ImGui 1.86 samples its input once per frame, so the router also paces what the panel sees: at
// most one mouse button change per frame, at its own position, and no key released in the frame
// it was pressed in; the rest waits for the frames after (deliverHeldPanelInput).
//
// GUI thread only.
#pragma once

// The GLUT callbacks of the main window (ui/window.cpp registers them). Positions in window
// pixels, origin top left.
void routeMouseButton(int button, int state, int x, int y);
void routeMouseMotion(int x, int y);
void routePassiveMotion(int x, int y);
void routeKeyboard(unsigned char key, int x, int y);
void routeKeyboardUp(unsigned char key, int x, int y);
void routeSpecial(int key, int x, int y);
void routeSpecialUp(int key, int x, int y);

// Forgets every held event and every key press the panel saw. Called once when the panel is
// built.
void resetHeldPanelInput();

// Ends the panel's frame: hands ImGui the mouse events held back so far, in order, up to and
// including the first button change, then every held key release. The panel calls it after it
// has rendered each frame.
void deliverHeldPanelInput();
