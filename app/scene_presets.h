// The per-scene preset table: camera, impact strength, Rayleigh damping, renderer gain, lights,
// floor, and the scene's data file names. Scene loading copies a row into the live globals; the
// offline renderer reads the same rows. Plain data, any thread.
#pragma once

struct SceneParameters {
    double initialCameraRadius;  // camera distance from the focus at start
    double cameraPhi;            // initial azimuth, degrees
    double cameraTheta;          // initial elevation, degrees
    double cameraFocus[3];       // the point the camera orbits
    double maxCameraDistance;    // farthest eye-to-focus distance zooming may reach
    float impactMagnitude, impactMagnitudeMin, impactMagnitudeMax;  // strike strength and limits
    float massDamping;                                              // Rayleigh alpha, 1/s
    float stiffnessDamping;                                         // Rayleigh beta, s
    double modalRendererGain;  // numerator of the "Modal" renderer's 1/distance law
    double lightIntensity;
    int lightEnabled[8];
    int groundConstraint;  // a floor at y = 0 (the bell scene)
    const char* meshFile;
    const char* modeShapeFile;
    const char* frequencyFile;
    const char* transferListFile;
};

// The preset of scene 0 (bell), 1 (chair) or 2 (dragon); null for any other selector.
const SceneParameters* scenePreset(int selector);
