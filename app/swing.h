// The bell's swing: the bell and its yoke swing as one damped pendulum about a horizontal axis
// along x through the pivot (0, 1.308643, 0); the supports and the floor stay put. This file owns
// the pose of the swinging parts (world = R p + T), the swing's state and its integration step,
// which the idle handler runs once per frame in the bell scene. In the chair and dragon scenes
// the pose stays the identity.
//
// Everything here runs on the GUI thread. The audio thread never reads these globals: every
// change of the pose is published as one unit to publishedObjectPose (geometry/object_pose.h).
#pragma once

#include "geometry/scene_presets.h"  // kSwingPivotOffset, kSwingPivotHeight

// Swing state.
extern double swingAngle;     // rotation about the x axis, radians
extern double swingVelocity;  // rad/s, kept within +-kSwingVelocityLimit
extern double swingImpulse;   // angular impulse collected since the last step; zeroed by it

// The pose of the swinging parts: world = objectRotation * p + objectTranslation.
extern double objectTranslation[3];  // T, world units
extern double objectRotation[9];     // R, row-major

// Swing constants.
constexpr double kSwingDamping = 0.2;                       // 1/s
constexpr double kSwingStiffness = 22.206609902451014;      // 1/s^2: about 0.75 Hz at small angles
constexpr double kSwingImpulseScale = 0.03333333333333333;  // 1/30
constexpr double kSwingVelocityLimit = 18.849539999999998;  // three turns per second
constexpr double kSwingPush = 150.0;  // impulse of one "Spin bell" press: 5 rad/s

// The pose for swing angle `angle` (radians): R the rotation by the angle about x,
// T = (0, 1.308643 - 0.308643 cos a, -0.308643 sin a), so that the model's pivot
// (0, 0.308643, 0) stays at world (0, 1.308643, 0). Writes T (3 doubles) and R (9, row-major).
// When T and R are objectTranslation and objectRotation, publishes the new pose.
void computeSwingPose(double angle, double T[3], double R[9]);

// Publishes objectTranslation and objectRotation to the audio thread as one unit.
void publishObjectPose();

// Object-frame coordinates (u, v, w) of the world point (x, y, z) under the current pose:
// R^T (q - T).
void worldToObject(double x, double y, double z, double* u, double* v, double* w);

// One integration step (semi-implicit Euler) of
//   angle'' = impulse * rate / 30 - 0.2 angle' - 22.2066 sin(angle),
// then the velocity clamp, the impulse consumed and the new pose computed and published.
// dt is the frame interval in seconds (at most 1 s counts); rate is 1 / the unclamped interval,
// so an impulse I changes the velocity by I / 30 rad/s at once. A step with dt <= 0 or a rate
// that is not finite changes nothing and keeps the impulse for the next step.
void swingStep(double dt, double rate);

// Copies objectTranslation and objectRotation into the poses of mainObject, yokeWoodObject and
// yokeMetalObject (those that exist); the supports keep theirs.
void applyPoseToObjects();

// "Spin bell": while |swingVelocity| <= 18.84954, adds 150 to swingImpulse when the velocity is
// >= 0 and subtracts 150 otherwise (pushing the way the bell already moves); at a larger speed
// does nothing.
void pushSwing();
