// Where the listener is, as the audio thread sees it: the camera's eye (mono) and its two ear
// points (stereo), in world coordinates. The camera (geometry/orbit_camera.h) publishes them here
// as one unit whenever it moves, on the GUI thread; the audio callback takes one snapshot per
// block.
#pragma once

#include "platform/seqlock.h"

struct ListenerPoints {
    double eye[3];
    double leftEar[3];
    double rightEar[3];
};

// Written by the GUI thread whenever the camera moves; read by the audio callback.
extern SeqLock<ListenerPoints> publishedListener;
