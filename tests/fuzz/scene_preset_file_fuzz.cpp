// libFuzzer target for a scene folder's preset file, "ring/presets.json": an input is the file.
// The reader is built with TONWELL_READERS_THROW, so a refused file ends in an InputExit exception
// with code 1 instead of exit(1). A file it accepts must hand the program presets it can start
// with: a positive camera radius within the zoom limit, an elevation short of the poles, positive
// spinner limits around the magnitude, damping and colours in range, lights of 0 or 1, and data
// files inside the folder.
#include <cmath>
#include <cstring>
#include <filesystem>

#include "app/scene_preset_file.h"
#include "platform/input_exit.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::InScratchDirectory inScratch;
    std::filesystem::create_directories("ring");
    fuzz::writeFile("ring/presets.json", data, size);
    ScenePresetFile presets;
    try {
        readScenePresetFileOrExit("ring", &presets);
    } catch (const InputExit& exit) {
        if (exit.code != 1) abort();
        return 0;
    }
    const SceneParameters& p = presets.parameters;
    fuzz::require(p.initialCameraRadius > 0 && p.maxCameraDistance >= p.initialCameraRadius,
                  "the camera starts at a positive distance within its zoom limit");
    fuzz::require(std::fabs(p.cameraTheta) < 90, "the elevation is short of the poles");
    fuzz::require(p.impactMagnitudeMin > 0 && p.impactMagnitudeMin <= p.impactMagnitude &&
                      p.impactMagnitude <= p.impactMagnitudeMax &&
                      std::isfinite(p.impactMagnitudeMax),
                  "the magnitude lies within positive, finite spinner limits");
    fuzz::require(p.massDamping >= 0 && p.stiffnessDamping >= 0 && std::isfinite(p.massDamping) &&
                      std::isfinite(p.stiffnessDamping),
                  "the damping coefficients are finite and not negative");
    fuzz::require(p.modalRendererGain > 0, "the Modal gain is positive");
    for (int i = 0; i < 8; ++i)
        fuzz::require(p.lightEnabled[i] == 0 || p.lightEnabled[i] == 1, "lights are 0 or 1");
    for (float c : presets.background) fuzz::require(c >= 0 && c <= 1, "colours lie in [0, 1]");
    for (const char* file : {p.meshFile, p.modeShapeFile, p.frequencyFile, p.transferListFile})
        fuzz::require(strncmp(file, "ring/", 5) == 0 && file[5] != '\0' && file[5] != '/',
                      "the data files lie inside the folder");
    fuzz::require(presets.name == "ring", "the scene's name is the folder's");
    return 0;
}
