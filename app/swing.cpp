// The swing of the bell as a damped pendulum, and the pose it gives the swinging parts.
#include "app/swing.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

#include "app/scene_objects.h"
#include "geometry/object_pose.h"

double swingAngle = 0;
double swingVelocity = 0;
double swingImpulse = 0;
double objectTranslation[3] = {0, 0, 0};
double objectRotation[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};

void computeSwingPose(double angle, double T[3], double R[9]) {
    const double c = cos(angle);
    const double s = sin(angle);
    T[0] = 0;
    T[1] = kSwingPivotHeight - kSwingPivotOffset * c;
    T[2] = -kSwingPivotOffset * s;
    const double rotation[9] = {1, 0, 0, 0, c, -s, 0, s, c};
    memcpy(R, rotation, sizeof rotation);
    if (T == objectTranslation && R == objectRotation) publishObjectPose();
}

void publishObjectPose() {
    ObjectPose pose;
    memcpy(pose.translation, objectTranslation, sizeof pose.translation);
    memcpy(pose.rotation, objectRotation, sizeof pose.rotation);
    publishedObjectPose.store(pose);
}

void worldToObject(double x, double y, double z, double* u, double* v, double* w) {
    ObjectPose pose;
    memcpy(pose.translation, objectTranslation, sizeof pose.translation);
    memcpy(pose.rotation, objectRotation, sizeof pose.rotation);
    const double world[3] = {x, y, z};
    double object[3];
    worldToObject(pose, world, object);
    *u = object[0];
    *v = object[1];
    *w = object[2];
}

void swingStep(double dt, double rate) {
    if (!(dt > 0) || !std::isfinite(rate)) return;
    if (dt > 1.0) dt = 1.0;
    // The angle moves with the velocity of the previous step; the velocity then takes the
    // torque at the new angle (symplectic Euler).
    swingAngle = swingAngle + swingVelocity * dt;
    swingVelocity =
        swingVelocity + dt * (swingImpulse * rate * kSwingImpulseScale -
                              kSwingDamping * swingVelocity - kSwingStiffness * sin(swingAngle));
    if (swingVelocity > kSwingVelocityLimit) {
        swingVelocity = kSwingVelocityLimit;
    } else if (swingVelocity < -kSwingVelocityLimit) {
        swingVelocity = -kSwingVelocityLimit;
    }
    swingImpulse = 0;
    computeSwingPose(swingAngle, objectTranslation, objectRotation);
}

void applyPoseToObjects() {
    for (SceneObject* object : {mainObject, yokeWoodObject, yokeMetalObject}) {
        if (object != nullptr) object->setPose(objectTranslation, objectRotation);
    }
}

void pushSwing() {
    if (fabs(swingVelocity) > kSwingVelocityLimit) return;
    swingImpulse += swingVelocity >= 0 ? kSwingPush : -kSwingPush;
}
