// The presets of a scene the demo has no fixed table for: a user's own object. The baker computes
// them from the object and its material and writes them as "presets.json" beside the scene's
// files, where the object program and the offline renderer read them. The loudness calibration
// strikes with them and fills in the impact magnitude and the "Modal" gain
// (loudness_calibration.h).
//
// The file ("format": "tonwell-presets/1"; every field required, unknown ones ignored; angles in
// degrees, lengths in metres, file names relative to the scene folder):
//   { "format": "tonwell-presets/1", "name": "ring",
//     "camera": { "radius": 0.62, "azimuth": -70.0, "elevation": 20.0, "focus": [0, 0, 0],
//                 "maxDistance": 2.5 },
//     "impact": { "magnitude": 0.8, "min": 0.032, "max": 3.2 },
//     "damping": { "mass": 5.0, "stiffness": 2e-8 },
//     "modalGain": 15000.0,
//     "lights": { "intensity": 0.6, "enabled": [0, 0, 1, 0, 0, 0, 0, 1] },
//     "background": [0.12, 0.12, 0.14], "floor": false,
//     "files": { "mesh": "ring.obj", "modeShapes": "ring.U", "frequencies": "ring.freq",
//                "transferList": "ring-ZEPObjectsList-05.txt" } }
// camera = the start camera as geometry/orbit_camera places it (azimuth = the preset's cameraPhi,
// elevation = cameraTheta; eye = focus + r (cos el cos az, sin el, -cos el sin az)); impact = the
// preset magnitude and its spinner limits; damping = Rayleigh alpha (1/s) and beta (s);
// modalGain = the "Modal" renderer's gain; background = the window's clear colour.
#pragma once

#include <Eigen/Core>
#include <string>

#include "tools/bake/recipe/recipe.h"
#include "tools/bake/surface/surface_mesh.h"

// The format tag of the presets file.
inline const char* kObjectPresetsFormat = "tonwell-presets/1";
// The presets file's name inside a scene folder.
inline const char* kObjectPresetsFileName = "presets.json";

// The window the presets frame the object for (ui/window.cpp, ui/control_panel.cpp): a 45 degree
// vertical field of view on the 3-D area of the 900 x 480 window left of the 330 pixel panel.
constexpr double kViewVerticalFieldOfView_deg = 45.0;
constexpr double kViewAspect = (900.0 - 330.0) / 480.0;

struct ObjectPresets {
    std::string name;
    double cameraRadius = 0.0;                              // m, eye to focus at start
    double cameraAzimuth_deg = 0.0;                         // cameraPhi
    double cameraElevation_deg = 0.0;                       // cameraTheta
    Eigen::Vector3d cameraFocus = Eigen::Vector3d::Zero();  // m
    double maxCameraDistance = 0.0;                         // m, the zoom limit
    double impactMagnitude = 1.0, impactMagnitudeMin = 0.04, impactMagnitudeMax = 4.0;
    double massDamping = 0.0;       // Rayleigh alpha, 1/s
    double stiffnessDamping = 0.0;  // Rayleigh beta, s
    double modalRendererGain = 15000.0;
    double lightIntensity = 0.6;
    int lightEnabled[8] = {0, 0, 1, 0, 0, 0, 0, 1};
    Eigen::Vector3d background = Eigen::Vector3d::Zero();  // RGB in [0, 1]
    std::string meshFile, modeShapeFile, frequencyFile, transferListFile;
};

// The presets of `recipe`'s object, whose surface (m, the object's frame = the world at rest) is
// `surface`, before the loudness calibration (impact magnitude 1, limits 1/25 and 4, the chair's
// "Modal" gain):
//   focus = the centre of the bounding box; R = the largest distance of a vertex from it;
//   radius = 1.1 R / sin(22.5 deg), so the bounding sphere seen from the eye subtends at most
//   sin(22.5 deg) / 1.1 of the half field of view, from any direction (the vertical field is the
//   narrower: the view is wider than high); zoom limit 8 x radius; azimuth -70 and elevation 20
//   degrees and the lights of the chair; the material's damping; a dark background behind a light
//   diffuse colour and a light one behind a dark colour (relative luminance); no floor.
// Precondition: the surface has at least one vertex; recipe.hasDamping.
ObjectPresets computeObjectPresets(const Recipe& recipe, const SurfaceMesh& surface);

// Writes `presets` as JSON to `path`. Throws BakeError when it cannot.
void writeObjectPresets(const std::string& path, const ObjectPresets& presets);

// The presets as a few indented lines of text, for the report.
std::string describeObjectPresets(const ObjectPresets& presets);
