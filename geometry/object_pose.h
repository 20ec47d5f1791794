// The pose of the swinging parts of the scene (the bell and its yokes; the identity in the other
// scenes), as the audio thread sees it. The GUI thread owns the pose (objectTranslation and
// objectRotation, app/swing.h) and publishes it here as one unit after every change; the audio
// callback takes one snapshot per block and brings the listener into the object's frame with it.
// It sits beside the listener (geometry/listener_points.h): the two seqlocks the audio thread
// reads the scene's geometry from.
#pragma once

#include "platform/seqlock.h"

// World = R * p + T, R stored row by row.
struct ObjectPose {
    double translation[3];
    double rotation[9];
};

// The identity pose: T = 0, R = I.
inline ObjectPose identityPose() { return ObjectPose{{0, 0, 0}, {1, 0, 0, 0, 1, 0, 0, 0, 1}}; }

// Object-frame coordinates of the world point q under `pose`: R^T (q - T).
// Real-time: no allocation, no I/O, no lock.
inline void worldToObject(const ObjectPose& pose, const double world[3], double object[3]) {
    const double d[3] = {world[0] - pose.translation[0], world[1] - pose.translation[1],
                         world[2] - pose.translation[2]};
    const double* R = pose.rotation;
    object[0] = R[0] * d[0] + R[3] * d[1] + R[6] * d[2];
    object[1] = R[1] * d[0] + R[4] * d[1] + R[7] * d[2];
    object[2] = R[2] * d[0] + R[5] * d[1] + R[8] * d[2];
}

// Written by the GUI thread whenever the pose changes; read by the audio callback.
extern SeqLock<ObjectPose> publishedObjectPose;
