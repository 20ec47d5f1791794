// OrbitCamera: spherical placement of the eye, its right vector, and the listener it publishes.
#include "geometry/orbit_camera.h"

#include <GL/glu.h>

#include <cmath>
#include <cstring>

#include "geometry/listener_points.h"

OrbitCamera::OrbitCamera(double radius_, double azimuth_, double elevation_, const double focus_[3],
                         const double up_[3], double motionScale_)
    : initialRadius(radius_),
      initialAzimuth(azimuth_),
      initialElevation(elevation_),
      focus{focus_[0], focus_[1], focus_[2]},
      up{up_[0], up_[1], up_[2]},
      eye{0, 0, 0},
      radius(radius_),
      azimuth(azimuth_),
      elevation(elevation_),
      right{0, 0, 0},
      motionScale(motionScale_),
      savedRadius(radius_),
      savedAzimuth(azimuth_),
      savedElevation(elevation_),
      savedFocus{focus_[0], focus_[1], focus_[2]} {
    update();
}

void OrbitCamera::update() {
    // Spherical coordinates about the focus, y up.
    const double cosElevation = cos(elevation);
    eye[0] = focus[0] + radius * cos(azimuth) * cosElevation;
    eye[1] = focus[1] + radius * sin(elevation);
    eye[2] = focus[2] - radius * sin(azimuth) * cosElevation;

    // Right = the horizontal derivative of the eye along azimuth, normalised. With a zero
    // radius or cos(elevation) that vector vanishes; its direction is then the limit
    // (-sin azimuth, 0, -cos azimuth).
    const double rx = -radius * cosElevation * sin(azimuth);
    const double rz = -radius * cosElevation * cos(azimuth);
    const double length = sqrt(rx * rx + rz * rz);
    if (length > 0) {
        right[0] = rx / length;
        right[1] = 0;
        right[2] = rz / length;
    } else {
        right[0] = -sin(azimuth);
        right[1] = 0;
        right[2] = -cos(azimuth);
    }

    ListenerPoints listener;
    memcpy(listener.eye, eye, sizeof eye);
    getEarPositions(kPublishedEarSeparation, &listener.leftEar[0], &listener.leftEar[1],
                    &listener.leftEar[2], &listener.rightEar[0], &listener.rightEar[1],
                    &listener.rightEar[2]);
    // The head faces the focus, as the eye does, with the camera's up.
    const double view[3] = {focus[0] - eye[0], focus[1] - eye[1], focus[2] - eye[2]};
    const double viewLength = sqrt(view[0] * view[0] + view[1] * view[1] + view[2] * view[2]);
    for (int k = 0; k < 3; ++k) {
        listener.forward[k] = viewLength > 0 ? view[k] / viewLength : 0.0;
        listener.up[k] = up[k];
    }
    publishedListener.store(listener);
}

void OrbitCamera::look() const {
    gluLookAt(eye[0], eye[1], eye[2], focus[0], focus[1], focus[2], up[0], up[1], up[2]);
}

void OrbitCamera::getEyePosition(double* x, double* y, double* z) const {
    *x = eye[0];
    *y = eye[1];
    *z = eye[2];
}

void OrbitCamera::getEarPositions(double separation, double* leftX, double* leftY, double* leftZ,
                                  double* rightX, double* rightY, double* rightZ) const {
    const double half = separation / 2;
    *leftX = eye[0] - half * right[0];
    *leftY = eye[1] - half * right[1];
    *leftZ = eye[2] - half * right[2];
    *rightX = eye[0] + half * right[0];
    *rightY = eye[1] + half * right[1];
    *rightZ = eye[2] + half * right[2];
}

void OrbitCamera::rotateAzimuth(double delta) {
    azimuth += delta * motionScale;
    update();
}

void OrbitCamera::rotateElevation(double delta) {
    // pi/2 and 89 degrees, both with pi taken as 3.14159265358979.
    const double kQuarterTurn = 1.570796326794895;
    const double k89Degrees = 1.5533430342749517;
    elevation += delta * motionScale;
    if (elevation > kQuarterTurn) {
        elevation = k89Degrees;
    } else if (elevation < -kQuarterTurn) {
        elevation = -k89Degrees;
    }
    update();
}

void OrbitCamera::zoom(double delta) {
    radius -= delta * motionScale;
    if (radius <= 0) radius = fabs(motionScale);
    update();
}

void OrbitCamera::saveState() {
    savedRadius = radius;
    savedAzimuth = azimuth;
    savedElevation = elevation;
    memcpy(savedFocus, focus, sizeof focus);
}

void OrbitCamera::restoreState() {
    radius = savedRadius;
    azimuth = savedAzimuth;
    elevation = savedElevation;
    memcpy(focus, savedFocus, sizeof focus);
    update();
}
