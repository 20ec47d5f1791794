// The window's moving contact: Shift + left drag scrapes the object under the pointer, Shift +
// Ctrl + left drag rolls a ball over it. Every frame of the drag picks the surface under the
// pointer (depth and stencil as the strike's picking reads them), finds the nearest point of the
// mesh and its triangle (sound/surface_point.h), takes the speed from the contact point's motion
// over the surface between frames, and publishes the contact to the audio block
// (programAudioContext.publishedContact, a seqlock), which plays it
// (sound/contact_excitation.h). The panel's "Contact" section sets the kind of a Shift drag, the
// force, the roughness and the ball's radius.
// GUI thread.
#pragma once

// The panel's settings. contactForce starts at the scene's preset impact magnitude (the panel
// sets it on its first frame); the roughness at kDefaultContactRoughness.
extern int contactKind;  // 0 scrape, 1 roll (what a Shift drag does; Shift + Ctrl always rolls)
extern float contactForce;
extern float contactRoughness;
extern float contactBallRadius_mm;

// Shift + left press at window pixel (x, y): the drag starts (a roll when `roll`); the contact
// touches at the next frame's pick.
void beginContactDrag(int x, int y, bool roll);
// The pointer moved during the drag.
void moveContactDrag(int x, int y);
// Each frame, after the scene is drawn and its view saved for picking: picks under the pointer
// and publishes the contact (lifted while the pointer is off the object).
void updateContactDrag();
// The left button is released: the contact is lifted (its sound fades over one block).
void endContactDrag();
bool contactDragActive();
