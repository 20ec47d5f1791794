// The preset file of a baked scene folder, "presets.json": what the fixed preset table
// (geometry/scene_presets.h) holds for the three built-in scenes, written by tonwell-bake for any other
// object, plus the window's clear colour. tonwell-object reads it at start-up (GUI thread, before
// the window's OpenGL state is set) and tonwell-render reads it for any folder that has one.
//
// Schema (every field required, unknown fields ignored; angles in degrees, lengths in metres, the
// camera as geometry/orbit_camera.h places it; file names relative to the scene folder):
//   { "format": "tonwell-presets/1", "name": "ring",
//     "camera": { "radius": 0.62, "azimuth": -70.0, "elevation": 20.0,
//                 "focus": [0.0, 0.0, 0.0], "maxDistance": 2.5 },
//     "impact": { "magnitude": 0.8, "min": 0.032, "max": 3.2 },
//     "damping": { "mass": 5.0, "stiffness": 2e-8 },
//     "modalGain": 15000.0,
//     "lights": { "intensity": 0.6, "enabled": [0, 0, 1, 0, 0, 0, 0, 1] },
//     "background": [0.12, 0.12, 0.14],
//     "floor": false,
//     "files": { "mesh": "ring.obj", "modeShapes": "ring.U", "frequencies": "ring.freq",
//                "transferList": "ring-ZEPObjectsList-15.txt" } }
// camera = initialCameraRadius, cameraPhi, cameraTheta, cameraFocus, maxCameraDistance; impact =
// impactMagnitude and the spinner's limits; damping = Rayleigh alpha (1/s) and beta (s);
// modalGain = modalRendererGain; lights = lightIntensity, lightEnabled; floor = groundConstraint.
// The transfer list inside the folder names its per-mode files relative to the folder's parent
// ("ring/ring-transfer-000"), so "name" must be the folder's own name.
#pragma once

#include <string>

#include "geometry/scene_presets.h"

// The value of "format" this reader understands.
constexpr const char* kScenePresetFormat = "tonwell-presets/1";
// The preset file's name inside a scene folder.
constexpr const char* kScenePresetFileName = "presets.json";

// One folder's presets. parameters' four file names point into the strings below, so the object
// is not copied.
struct ScenePresetFile {
    ScenePresetFile() = default;
    ScenePresetFile(const ScenePresetFile&) = delete;
    ScenePresetFile& operator=(const ScenePresetFile&) = delete;

    std::string name;  // the scene's name, equal to the folder's
    SceneParameters parameters{};
    float background[3] = {0.0f, 0.0f, 0.0f};  // clear colour, RGB in [0, 1]
    // The data files as the program opens them: "<folder>/<file>" (folder as given).
    std::string meshFile, modeShapeFile, frequencyFile, transferListFile;
};

// Parses the text of a preset file into `presets`. `fileName` is only used in messages;
// `folder` is the scene folder as the program names it ("ring", "demo/ring"): its last
// component must equal "name", and the four data files become "<folder>/<file>".
// Returns an empty string, or the one message for the first problem found, without a trailing
// newline: `Error: "ring/presets.json": "camera.radius" is missing` (also "must be a number",
// "must be positive", ...; "not valid JSON" with the parser's line and column). On a problem
// `presets` is left partly filled.
std::string parseScenePresetFile(const std::string& text, const std::string& fileName,
                                 const std::string& folder, ScenePresetFile* presets);

// Reads "<folder>/presets.json" (folder relative to the working directory or absolute) into
// `presets`. A file that cannot be read or any problem parseScenePresetFile finds: prints the
// message to standard output and ends the process with exit(1) (exitOnBadInput: a fuzzing build
// throws instead), as the program's other readers of scene data do.
void readScenePresetFileOrExit(const std::string& folder, ScenePresetFile* presets);
