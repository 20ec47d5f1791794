// The scene folder of tonwell-object: its argument, its parent as the working directory, its
// presets and its ZEP sampling rate.
#include "app/object_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/startup.h"
#include "platform/input_exit.h"
#include "sound/synthesis_state.h"

ScenePresetFile objectScenePresets;

namespace {

const char* const kObjectUsage =
    "Usage: tonwell-object FOLDER\n"
    "  Shows and sounds the object of a scene folder baked by tonwell-bake (for example\n"
    "  tonwell-bake --mesh cup.obj --material ceramic demo/cup, then tonwell-object demo/cup).\n"
    "  The folder holds presets.json, the mesh, its modes and its acoustic transfer.\n"
    "  ZEPSamplingRate.txt is read beside the folder, else inside it, else the rate is 200 Hz.\n";

bool isFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool isDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

void openObjectFolder(int argc, char** argv) {
    if (argc == 2 && (std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help")) {
        fputs(kObjectUsage, stdout);
        exit(0);
    }
    if (argc != 2) {
        fputs(argc < 2 ? "tonwell-object: the scene folder is missing\n"
                       : "tonwell-object: one scene folder only\n",
              stderr);
        fputs(kObjectUsage, stderr);
        exit(2);
    }
    const std::string given = argv[1];
    if (!isDirectory(given)) {
        printf("Error: scene folder \"%s\" does not exist or is not a folder.\n", given.c_str());
        exitOnBadInput(1);
    }
    // "demo/ring/", "." and "../ring" all become the folder's absolute path without a trailing
    // separator, so its parent and its name are plain path components.
    std::filesystem::path folder = std::filesystem::absolute(given).lexically_normal();
    if (!folder.has_filename()) folder = folder.parent_path();
    const std::string name = folder.filename().string();
    const std::filesystem::path parent = folder.parent_path();
    if (name.empty() || parent == folder || chdir(parent.c_str()) != 0) {
        printf("Error: scene folder \"%s\": cannot work from its parent folder.\n", given.c_str());
        exitOnBadInput(1);
    }
    printf("Scene folder: %s\n", folder.c_str());
    readScenePresetFileOrExit(name, &objectScenePresets);
}

void readObjectZepSamplingRate() {
    if (isFile(kZepSamplingRateFile)) {
        readZepSamplingRate(kZepSamplingRateFile);
        return;
    }
    const std::string inside = objectScenePresets.name + "/" + kZepSamplingRateFile;
    if (isFile(inside)) {
        readZepSamplingRate(inside.c_str());
        return;
    }
    zepSamplingRate = kDefaultZepSamplingRate;
    blockSize = kAudioSamplingRate / kDefaultZepSamplingRate;
    printf("ZEP sampling rate: no %s beside or in \"%s\", using %d\n", kZepSamplingRateFile,
           objectScenePresets.name.c_str(), kDefaultZepSamplingRate);
}
