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

#include "sound/contact_excitation.h"

// The panel's "Contact" settings, owned by the frame display, which hands them to the panel (to
// edit) and to the drag (to play) each frame. The force and the roughness start below zero,
// meaning "the scene's preset impact magnitude" and "the scene's roughness as loud as a strike"
// (sceneContactRoughness), which the panel puts in on its first frame.
struct ContactPanelSettings {
    int kind = 0;  // 0 scrape, 1 roll (what a Shift drag does; Shift + Ctrl always rolls)
    float force = -1.0f;
    float roughness = -1.0f;
    float ballRadius_mm = static_cast<float>(kDefaultBallRadius_m * 1000.0);
};

// Shift + left press at window pixel (x, y): the drag starts (a roll when `roll`); the contact
// touches at the next frame's pick.
void beginContactDrag(int x, int y, bool roll);
// The pointer moved during the drag.
void moveContactDrag(int x, int y);
// Each frame, after the scene is drawn and its view saved for picking: picks under the pointer
// and publishes the contact with `settings` (lifted while the pointer is off the object).
void updateContactDrag(const ContactPanelSettings& settings);
// The left button is released: the contact is lifted (its sound fades over one block).
void endContactDrag();
bool contactDragActive();
