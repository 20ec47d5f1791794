// What the Python module's Scene reads from a baked scene folder, with the program's own readers:
// the preset of the folder (a built-in scene's fixed one, or the folder's presets.json), the mesh
// (the OBJ reader), the mode shapes, frequencies and acoustic transfer (an engine object, as
// libtonwell and tonwell-render load it). Read once on the Python thread that opens the scene;
// read-only afterwards, so the numpy views the module hands out stay valid while it lives.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "engine/engine_object.h"
#include "geometry/obj_model.h"

// A problem with a scene folder's files, with the reader's message (which names the file).
struct SceneDataError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The folder named in a SceneData error that does not exist.
struct SceneFolderMissing : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class SceneData {
  public:
    // Reads the scene folder `folder` (absolute or relative to the working directory; trailing
    // slashes ignored). The files are found as tonwell-render finds them: a folder named bell,
    // chair or dragon takes that scene's fixed preset, whose files are named relative to the
    // folder's parent; any other folder needs the presets.json tonwell-bake writes.
    // Throws SceneFolderMissing when the folder is not a directory, SceneDataError with the
    // reader's message for a missing or broken file (the readers' exits are captured, never
    // taken: platform/input_exit.h). A folder without a transfer list loads without transfer.
    explicit SceneData(const std::string& folder);
    ~SceneData();
    SceneData(const SceneData&) = delete;
    SceneData& operator=(const SceneData&) = delete;

    const std::string& folder() const { return folder_; }  // absolute, normalised
    const std::string& name() const { return name_; }      // its last component
    const ObjModel& mesh() const { return *mesh_; }
    const EngineObject& object() const { return *object_; }
    bool hasTransfer() const { return hasTransfer_; }
    double massDamping() const { return massDamping_; }            // preset Rayleigh alpha, 1/s
    double stiffnessDamping() const { return stiffnessDamping_; }  // preset Rayleigh beta, s
    double impactMagnitude() const { return impactMagnitude_; }    // preset strike magnitude

  private:
    std::string folder_, name_;
    ObjModel* mesh_ = nullptr;
    std::unique_ptr<EngineObject> object_;
    bool hasTransfer_ = false;
    double massDamping_ = 0.0, stiffnessDamping_ = 0.0, impactMagnitude_ = 0.0;
};
