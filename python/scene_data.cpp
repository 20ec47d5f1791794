// Reading a scene folder for the Python module with the program's readers, their exits captured.
#include "python/scene_data.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>

#include "app/scene_preset_file.h"
#include "geometry/obj_reader.h"
#include "geometry/scene_presets.h"
#include "platform/input_exit.h"
#include "tools/render/offline_render.h"

namespace {

bool isReadableFile(const std::string& path) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    fclose(file);
    return true;
}

}  // namespace

SceneData::SceneData(const std::string& given) {
    namespace fs = std::filesystem;
    std::string path = given;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    std::error_code error;
    if (path.empty() || !fs::is_directory(path, error)) {
        throw SceneFolderMissing("scene folder \"" + given + "\" does not exist");
    }
    folder_ = fs::absolute(path).lexically_normal().string();
    while (folder_.size() > 1 && folder_.back() == '/') folder_.pop_back();
    const size_t slash = folder_.rfind('/');
    name_ = folder_.substr(slash + 1);
    const std::string parent = folder_.substr(0, slash + 1);  // with its slash

    EngineObjectFiles files;
    std::string meshFile;
    files.transferBaseDirectory = slash == 0 ? "/" : folder_.substr(0, slash);
    const int selector = sceneSelectorForFolder(folder_);
    BadInputCapture capture;
    try {
        if (selector >= 0) {
            const SceneParameters& preset = *scenePreset(selector);
            meshFile = parent + preset.meshFile;
            files.modeShapeFile = parent + preset.modeShapeFile;
            files.frequencyFile = parent + preset.frequencyFile;
            files.transferListFile = parent + preset.transferListFile;
            massDamping_ = preset.massDamping;
            stiffnessDamping_ = preset.stiffnessDamping;
            impactMagnitude_ = preset.impactMagnitude;
            files.modalRendererGain = preset.modalRendererGain;
        } else {
            if (!isReadableFile(folder_ + "/" + kScenePresetFileName)) {
                throw SceneDataError("scene folder \"" + given +
                                     "\": its name must be bell, chair or dragon, or it must "
                                     "hold the " +
                                     std::string(kScenePresetFileName) +
                                     " that tonwell-bake writes for a scene of one's own");
            }
            ScenePresetFile presets;
            readScenePresetFileOrExit(folder_, &presets);
            meshFile = presets.meshFile;
            files.modeShapeFile = presets.modeShapeFile;
            files.frequencyFile = presets.frequencyFile;
            files.transferListFile = presets.transferListFile;
            massDamping_ = presets.parameters.massDamping;
            stiffnessDamping_ = presets.parameters.stiffnessDamping;
            impactMagnitude_ = presets.parameters.impactMagnitude;
            files.modalRendererGain = presets.parameters.modalRendererGain;
        }
        files.massDamping = massDamping_;
        files.stiffnessDamping = stiffnessDamping_;
        hasTransfer_ = isReadableFile(files.transferListFile);
        if (!hasTransfer_) files.transferListFile.clear();
        mesh_ = glmReadOBJ(meshFile.c_str());
    } catch (const BadInput& bad) {
        throw SceneDataError(bad.message);
    }
    std::string problem;
    object_ = EngineObject::load(files, 1, 1, &problem);
    if (object_ == nullptr) {
        glmDelete(mesh_);
        mesh_ = nullptr;
        throw SceneDataError(problem);
    }
}

SceneData::~SceneData() {
    if (mesh_ != nullptr) glmDelete(mesh_);
}
