// The per-scene preset table: camera, impact strength, Rayleigh damping, renderer gain, lights,
// floor, and the scene's data file names; and where the bell's swing axis lies. Scene loading
// copies a row into the live globals, the offline renderer reads the same rows, and the baker's
// loudness calibration strikes each scene as the program does from them: so they live below
// both. Plain data, any thread.
#pragma once

// The program's angle constants, at the precision it has always used: the presets' camera angles
// are in degrees, every omega is 2 pi f.
constexpr double twoPi = 6.28318530717958;
constexpr double degreesToRadians = 0.017453292519943278;

// The scenes, by the selector value that shows them (app/scene_selector.h).
enum SceneId { kBellScene = 0, kChairScene = 1, kDragonScene = 2, kObjectScene = 3 };

// The bell swings about the x axis through its pivot: model point (0, kSwingPivotOffset, 0),
// held at world (0, kSwingPivotHeight, 0).
constexpr double kSwingPivotOffset = 0.308643;  // model y of the pivot
constexpr double kSwingPivotHeight = 1.308643;  // world y of the pivot

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
