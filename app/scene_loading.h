// Scene presets and scene loading: the one-time start-up step that fills every per-scene setting
// from the preset table of the build's scene, creates the camera, loads the meshes, the modal
// data and the acoustic transfer model, and allocates every per-mode array the audio callbacks
// and the panel use. GUI thread, before the control panel and the audio stream exist.
#pragma once

#include "geometry/scene_presets.h"  // twoPi, degreesToRadians

class OrbitCamera;
class ModeShapeMatrix;

// Preset values of the loaded scene (from the table in geometry/scene_presets.cpp, or from an
// object folder's presets.json).
extern double initialCameraRadius;  // camera distance from cameraFocus at start
extern double cameraPhi;            // initial azimuth, degrees
extern double cameraTheta;          // initial elevation, degrees
extern double cameraFocus[3];       // the point the camera orbits
extern double maxCameraDistance;    // farthest eye-to-focus distance zooming may reach
extern float impactMagnitude, impactMagnitudeMin, impactMagnitudeMax;
extern float massDamping, stiffnessDamping;                  // Rayleigh alpha (1/s), beta (s)
extern float previousMassDamping, previousStiffnessDamping;  // the last accepted values
extern double lightIntensity;
extern int lightEnabled[8];
extern int groundConstraint;  // the scene has a floor at y = 0 (the bell)

// Clipping distances of the perspective projection; 0 until the scene is loaded, then
// nearPlaneFactor and farPlaneFactor times the camera distance (zooming keeps them so).
extern double nearPlane, farPlane;
// Clipping planes as multiples of the camera distance; the camera's motion scale.
constexpr double nearPlaneFactor = 0.05;
constexpr double farPlaneFactor = 20.0;
constexpr double cameraMotionScale = 0.05;
// Crease angle of the smoothed vertex normals, degrees.
constexpr double normalCreaseAngle = 85.0;

// The program's one camera, and the modal displacement matrix of the struck object.
extern OrbitCamera* camera;
extern ModeShapeMatrix* modeShapes;
// Display list of the floor (bell scene).
extern unsigned int floorList;

// Loads the scene of sceneSelector and sizes the program's audio block context with its bank
// (app/audio_context.h); ends the process on any error (exit(1), with the message of the reader
// that failed; no message for an unknown selector).
void loadScene();

// The loaded scene's default contact roughness: as loud at 0.3 m/s as a strike of the same force
// (sound/contact_loudness.h), computed by loadScene; kDefaultContactRoughness before.
double sceneContactRoughness();

// Reads the struck object's mode shapes (".U") into modeShapes and its frequencies (".freq",
// checked to be an r x 1 column: check codes 0 and 1), allocates the zeroed per-mode arrays, sets
// modeOmega, modeStiffness and activeModeCount, and creates the resonators with the current
// massDamping and stiffnessDamping. With `report`, prints the mode-count and frequency lines.
// Returns r. Ends the process on a missing or malformed file. Used by scene loading and the offline
// renderer.
int loadModalData(const char* modeShapeFile, const char* frequencyFile, bool report);

// The floor's drawing commands: a 100 x 100 grid of quads on y = 0 from -15 to 15 in x and z.
void drawFloor();
