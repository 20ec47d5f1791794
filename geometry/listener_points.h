// Where the listener is, as the audio thread sees it: the camera's eye (mono), its two ear
// points (stereo) and the head's orientation (binaural: the head's centre is the eye), in world
// coordinates. The camera (geometry/orbit_camera.h) publishes them here
// as one unit whenever it moves, on the GUI thread; the audio callback takes one snapshot per
// block.
#pragma once

#include "platform/seqlock.h"

struct ListenerPoints {
    double eye[3];
    double leftEar[3];
    double rightEar[3];
    // The head's orientation: the direction it faces and its up, both unit vectors and at right
    // angles (the camera: towards its focus, and its up made perpendicular to that). Zero when
    // the one who placed the listener gave ear points only: the head then faces the horizontal
    // direction at right angles to the ears, with the world's +y up (listenerHeadFrame).
    double forward[3] = {0, 0, 0};
    double up[3] = {0, 0, 0};
};

// The head's frame of `listener`: unit vectors forward, left (to the left ear) and up, a
// right-handed frame (forward x left = up). From listener.forward and listener.up when they are
// set (up made perpendicular to forward); otherwise left along leftEar - rightEar, up the world's
// +y made perpendicular to it, forward = left x up; and when the ears coincide as well, forward
// -z, left -x, up +y (the camera's start at azimuth 90 degrees). Real-time: no allocation, no
// I/O, no lock; three square roots.
void listenerHeadFrame(const ListenerPoints& listener, double forward[3], double left[3],
                       double up[3]);

// Written by the GUI thread whenever the camera moves; read by the audio callback.
extern SeqLock<ListenerPoints> publishedListener;
