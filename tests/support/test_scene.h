// Small scenes in the real file formats, for tests of scene loading and of the whole program:
// a closed mesh of a few hundred vertices, a handful of modes with mass-normalised-looking mode
// shapes, one order-0 transfer source per mode, and in the bell scene the three fixtures and
// their materials. Written where the program expects them ("chair/chair.obj", ...).
#pragma once

#include <array>
#include <string>
#include <vector>

struct TestSceneOptions {
    // Mode frequencies in Hz; one mode each.
    std::vector<double> frequencies = {310.0, 520.0, 870.0, 1330.0, 2050.0};
    // Level of the transfer: the pressure of mode i at distance r is
    // sourceStrength / (k_i r) (order-0 source at the object's centre).
    double sourceStrength = 1000.0;
    // Radius of the mesh (a UV sphere about the object's origin) in metres.
    double radius = 0.2;
    // Order-0 sources per mode: one at the centre, or n spread on a sphere of a third of the
    // radius (a Fibonacci lattice) sharing the strength equally, as many as a baked scene's fit
    // uses, so that the audio thread evaluates as many sources as it would there.
    int sourcesPerMode = 1;
};

// Writes the scene of `sceneSelector` (0 bell, 1 chair, 2 dragon) under `demoDirectory`.
void writeTestScene(const std::string& demoDirectory, int sceneSelector,
                    const TestSceneOptions& options = TestSceneOptions());

// `count` frequencies spaced evenly on a logarithmic scale from `lowest` to `highest` Hz.
std::vector<double> logSpacedFrequencies(int count, double lowest, double highest);

// The vertex positions of a scene's OBJ file ("v" lines, in order), in single precision as the
// program's reader keeps them.
std::vector<std::array<float, 3>> readObjVertices(const std::string& objFile);

// The scene folder's name and file prefix: "bell", "chair" or "dragon".
std::string sceneName(int sceneSelector);
