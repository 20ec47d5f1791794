// The orbit camera, which is also the listener: the eye sits on a sphere around a fixed focus,
// placed by a radius and two angles (azimuth about the vertical axis, elevation above the
// horizontal plane). Mouse dragging turns and zooms it, the frame display looks through it, and
// picking reads the eye. It lives on the GUI thread; whenever the eye moves it publishes the eye,
// the two ear points and the head's orientation (facing the focus), as one unit, to
// publishedListener (geometry/listener_points.h), which
// is where the audio thread reads them.
//
// Conventions: angles in radians, world units; azimuth 0 puts the eye on the +x side of the
// focus, positive azimuth turns it towards -z, positive elevation lifts it.
#pragma once

// Distance between the two published ear points, in world units (the stereo renderer's
// earSeparation).
constexpr double kPublishedEarSeparation = 0.2;

class OrbitCamera {
  public:
    // Stores the initial values, focus, up vector and motion scale, starts at the initial
    // radius and angles, computes eye and right, and publishes the listener.
    OrbitCamera(double radius, double azimuth, double elevation, const double focus[3],
                const double up[3], double motionScale);

    // gluLookAt(eye, focus, up). The caller has selected the model-view matrix and loaded the
    // identity.
    void look() const;

    // The eye, world coordinates.
    void getEyePosition(double* x, double* y, double* z) const;

    // The ear points eye -/+ (separation / 2) * right: first the left ear, then the right one.
    void getEarPositions(double separation, double* leftX, double* leftY, double* leftZ,
                         double* rightX, double* rightY, double* rightZ) const;

    // azimuth += delta * motionScale.
    void rotateAzimuth(double delta);
    // elevation += delta * motionScale; a result beyond +-90 degrees (+-1.570796326794895)
    // snaps back to +-89 degrees (+-1.5533430342749517); values in between are kept.
    void rotateElevation(double delta);
    // radius -= delta * motionScale; a result <= 0 becomes |motionScale|.
    void zoom(double delta);

    // Keeps radius, azimuth, elevation and focus; restoreState brings them back.
    void saveState();
    void restoreState();

    double initialRadius, initialAzimuth, initialElevation;
    double focus[3];
    double up[3];
    double eye[3];
    double radius, azimuth, elevation;
    double right[3];  // unit vector to the camera's right, horizontal
    double motionScale;
    double savedRadius, savedAzimuth, savedElevation;
    double savedFocus[3];

  private:
    // eye and right from radius, azimuth, elevation and focus; then publishes the listener.
    void update();
};
