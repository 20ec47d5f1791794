// The C interface of libtonwell (library/tonwell.h) over the engine (engine/engine.h): handles,
// error codes and messages, and the resolution of a baked scene folder into the files and
// presets an engine object loads. Control-thread calls may allocate and read files; the render
// call is the engine's render and nothing more.
#include "tonwell.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "app/scene_preset_file.h"
#include "engine/engine.h"
#include "geometry/obj_model.h"
#include "geometry/obj_reader.h"
#include "geometry/orbit_camera.h"
#include "geometry/scene_presets.h"
#include "platform/input_exit.h"
#include "sound/mode_levels.h"
#include "sound/sofa_file.h"
#include "sound/surface_point.h"

struct tonwell_object {
    tonwell_engine* owner;
    int id;
    double presetMagnitude;
    std::string meshFile;  // the scene's mesh, read on the first surface query
    std::unique_ptr<ObjModel, void (*)(ObjModel*)> mesh{nullptr, glmDelete};
};

struct tonwell_engine {
    tonwell_engine(int channels, int transferRate) : engine(channels, transferRate) {}
    Engine engine;
    tonwell_object* handles[Engine::kMaxObjects] = {};
};

namespace {

// [SECTION] Errors

struct LastError {
    int code = TONWELL_OK;
    std::string message;
};

LastError& lastError() {
    static thread_local LastError error;
    return error;
}

int fail(int code, const std::string& message) {
    LastError& error = lastError();
    error.code = code;
    error.message = message;
    return code;
}

int failArgument(const char* function, const char* what) {
    return fail(TONWELL_ERROR_ARGUMENT, std::string(function) + ": " + what);
}

bool finite3(const double v[3]) {
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

// [SECTION] Scene folders

bool isDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isReadableFile(const std::string& path) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    fclose(file);
    return true;
}

// The files and presets of the folder, as tonwell-render finds them: a built-in name (bell,
// chair, dragon) takes its fixed preset, whose file names are relative to the folder's parent;
// any other folder its presets.json, whose file names are "<folder>/<file>". The transfer list's
// prefixes are relative to the parent in both. Returns TONWELL_OK or the error (already set).
int resolveFolder(const std::string& given, EngineObjectFiles* files, double* presetMagnitude,
                  std::string* meshFile) {
    std::string folder = given;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (!isDirectory(folder)) {
        return fail(TONWELL_ERROR_FILE, "scene folder \"" + given + "\" does not exist");
    }
    const size_t slash = folder.rfind('/');
    const std::string name = slash == std::string::npos ? folder : folder.substr(slash + 1);
    const std::string parent = slash == std::string::npos ? "" : folder.substr(0, slash + 1);
    files->transferBaseDirectory = parent.empty() ? "" : parent.substr(0, parent.size() - 1);
    if (files->transferBaseDirectory.empty() && !parent.empty()) {
        files->transferBaseDirectory = "/";
    }

    int selector = -1;
    if (name == "bell") selector = kBellScene;
    if (name == "chair") selector = kChairScene;
    if (name == "dragon") selector = kDragonScene;
    if (selector >= 0) {
        const SceneParameters& preset = *scenePreset(selector);
        files->modeShapeFile = parent + preset.modeShapeFile;
        files->frequencyFile = parent + preset.frequencyFile;
        files->transferListFile = parent + preset.transferListFile;
        files->massDamping = preset.massDamping;
        files->stiffnessDamping = preset.stiffnessDamping;
        files->modalRendererGain = preset.modalRendererGain;
        *presetMagnitude = preset.impactMagnitude;
        *meshFile = parent + preset.meshFile;
        return TONWELL_OK;
    }
    if (!isReadableFile(folder + "/" + kScenePresetFileName)) {
        return fail(TONWELL_ERROR_FILE,
                    "scene folder \"" + given +
                        "\": its name must be bell, chair or dragon, or it must hold the " +
                        kScenePresetFileName + " that tonwell-bake writes");
    }
    ScenePresetFile presets;
    BadInputCapture capture;
    try {
        readScenePresetFileOrExit(folder, &presets);
    } catch (const BadInput& bad) {
        return fail(TONWELL_ERROR_FILE, bad.message);
    }
    files->modeShapeFile = presets.modeShapeFile;
    files->frequencyFile = presets.frequencyFile;
    files->transferListFile = presets.transferListFile;
    files->massDamping = presets.parameters.massDamping;
    files->stiffnessDamping = presets.parameters.stiffnessDamping;
    files->modalRendererGain = presets.parameters.modalRendererGain;
    *presetMagnitude = presets.parameters.impactMagnitude;
    *meshFile = presets.meshFile;
    return TONWELL_OK;
}

// The live engine object of a handle, or null.
EngineObject* engineObject(const tonwell_object* object) {
    return object->owner->engine.object(object->id);
}

// A vertex outside the object's mode shapes, with `function`'s message.
int failVertex(const char* function, int vertex, const EngineObject& target) {
    return fail(TONWELL_ERROR_ARGUMENT, std::string(function) + ": vertex " +
                                            std::to_string(vertex) +
                                            " has no mode shape (the object's cover vertices 0.." +
                                            std::to_string(target.vertexCount() - 1) + ")");
}

// A point of a triangle given by its corners and barycentric weights, as strikes and contacts
// take it: the weights finite, at least 0 and summing to 1, the corners vertices with mode
// shapes. TONWELL_OK with *point set, or the refusal with `function`'s message.
int surfacePointOf(const char* function, const EngineObject& target, const int vertices[3],
                   const double weights[3], SurfacePoint* point) {
    if (!finite3(weights)) return failArgument(function, "the weights are not finite");
    const double sum = weights[0] + weights[1] + weights[2];
    if (weights[0] < 0 || weights[1] < 0 || weights[2] < 0 || std::fabs(sum - 1.0) > 1e-6)
        return failArgument(function, "the weights must be at least 0 and sum to 1");
    for (int k = 0; k < 3; ++k) {
        if (vertices[k] < 0 || vertices[k] >= target.vertexCount())
            return failVertex(function, vertices[k], target);
        point->vertex[k] = vertices[k];
        point->weight[k] = weights[k];
    }
    return TONWELL_OK;
}

}  // namespace

// [SECTION] The interface

extern "C" {

int tonwell_last_error(void) { return lastError().code; }

const char* tonwell_last_error_message(void) { return lastError().message.c_str(); }

const char* tonwell_error_name(int code) {
    switch (code) {
        case TONWELL_OK:
            return "TONWELL_OK";
        case TONWELL_ERROR_ARGUMENT:
            return "TONWELL_ERROR_ARGUMENT";
        case TONWELL_ERROR_FILE:
            return "TONWELL_ERROR_FILE";
        case TONWELL_ERROR_FULL:
            return "TONWELL_ERROR_FULL";
        case TONWELL_ERROR_MEMORY:
            return "TONWELL_ERROR_MEMORY";
    }
    return "unknown";
}

int tonwell_engine_create(int channels, int transfer_rate_hz, tonwell_engine** engine) {
    if (engine == nullptr) return failArgument("tonwell_engine_create", "engine is null");
    *engine = nullptr;
    if (channels != 1 && channels != 2) {
        return failArgument("tonwell_engine_create", "channels must be 1 or 2");
    }
    if (transfer_rate_hz < 100 || transfer_rate_hz > 300) {
        return failArgument("tonwell_engine_create", "the transfer rate must be 100 .. 300 Hz");
    }
    try {
        *engine = new tonwell_engine(channels, transfer_rate_hz);
    } catch (const std::bad_alloc&) {
        return fail(TONWELL_ERROR_MEMORY, "tonwell_engine_create: out of memory");
    }
    return TONWELL_OK;
}

void tonwell_engine_destroy(tonwell_engine* engine) {
    if (engine == nullptr) return;
    for (tonwell_object*& handle : engine->handles) {
        delete handle;
        handle = nullptr;
    }
    delete engine;
}

int tonwell_engine_set_listener(tonwell_engine* engine, const double eye[3],
                                const double left_ear[3], const double right_ear[3]) {
    const char* function = "tonwell_engine_set_listener";
    if (engine == nullptr || eye == nullptr || left_ear == nullptr || right_ear == nullptr) {
        return failArgument(function, "a pointer is null");
    }
    if (!finite3(eye) || !finite3(left_ear) || !finite3(right_ear)) {
        return failArgument(function, "a coordinate is not finite");
    }
    ListenerPoints listener;
    for (int k = 0; k < 3; ++k) {
        listener.eye[k] = eye[k];
        listener.leftEar[k] = left_ear[k];
        listener.rightEar[k] = right_ear[k];
    }
    engine->engine.setListener(listener);
    return TONWELL_OK;
}

int tonwell_engine_set_listener_pose(tonwell_engine* engine, const double position[3],
                                     const double forward[3], const double up[3]) {
    const char* function = "tonwell_engine_set_listener_pose";
    if (engine == nullptr || position == nullptr || forward == nullptr || up == nullptr) {
        return failArgument(function, "a pointer is null");
    }
    if (!finite3(position) || !finite3(forward) || !finite3(up)) {
        return failArgument(function, "a coordinate is not finite");
    }
    // The head's right axis r = forward x up, normalised; the ears at eye -+ (separation / 2) r.
    const double right[3] = {forward[1] * up[2] - forward[2] * up[1],
                             forward[2] * up[0] - forward[0] * up[2],
                             forward[0] * up[1] - forward[1] * up[0]};
    const double length =
        std::sqrt(right[0] * right[0] + right[1] * right[1] + right[2] * right[2]);
    if (!(length > 0) || !std::isfinite(length)) {
        return failArgument(function, "forward and up must be non-zero and not parallel");
    }
    const double half = kPublishedEarSeparation / 2;
    ListenerPoints listener;
    // The head's orientation: forward normalised, up made perpendicular to it (up = right x
    // forward, normalised).
    const double forwardLength =
        std::sqrt(forward[0] * forward[0] + forward[1] * forward[1] + forward[2] * forward[2]);
    const double headUp[3] = {right[1] * forward[2] - right[2] * forward[1],
                              right[2] * forward[0] - right[0] * forward[2],
                              right[0] * forward[1] - right[1] * forward[0]};
    const double upLength =
        std::sqrt(headUp[0] * headUp[0] + headUp[1] * headUp[1] + headUp[2] * headUp[2]);
    for (int k = 0; k < 3; ++k) {
        listener.eye[k] = position[k];
        listener.leftEar[k] = position[k] - half * (right[k] / length);
        listener.rightEar[k] = position[k] + half * (right[k] / length);
        listener.forward[k] = forward[k] / forwardLength;
        listener.up[k] = headUp[k] / upLength;
    }
    engine->engine.setListener(listener);
    return TONWELL_OK;
}

int tonwell_engine_set_binaural(tonwell_engine* engine, int on, const char* sofa_file) {
    const char* function = "tonwell_engine_set_binaural";
    if (engine == nullptr) return failArgument(function, "engine is null");
    if (engine->engine.channelCount() != 2) {
        return failArgument(function, "binaural output needs an engine of 2 channels");
    }
    if (on == 0) {
        engine->engine.setHrtf(nullptr);
        return TONWELL_OK;
    }
    std::string problem;
    std::unique_ptr<HrtfSet> hrtf;
    try {
        hrtf = readSofaFile(sofa_file != nullptr ? sofa_file : kDefaultHrtfFile, &problem);
    } catch (const std::bad_alloc&) {
        return fail(TONWELL_ERROR_MEMORY, std::string(function) + ": out of memory");
    }
    if (hrtf == nullptr) return fail(TONWELL_ERROR_FILE, problem);
    engine->engine.setHrtf(std::move(hrtf));
    return TONWELL_OK;
}

int tonwell_engine_set_renderer(tonwell_engine* engine, int renderer) {
    if (engine == nullptr) return failArgument("tonwell_engine_set_renderer", "engine is null");
    if (renderer != TONWELL_RENDERER_ZEP && renderer != TONWELL_RENDERER_MODAL) {
        return failArgument("tonwell_engine_set_renderer", "unknown renderer");
    }
    engine->engine.setRendererType(renderer);
    return TONWELL_OK;
}

int tonwell_engine_set_single_precision_transfer(tonwell_engine* engine, int on) {
    const char* function = "tonwell_engine_set_single_precision_transfer";
    if (engine == nullptr) return failArgument(function, "engine is null");
    if (on != 0 && on != 1) return failArgument(function, "on must be 0 or 1");
    engine->engine.setSinglePrecisionTransfer(on == 1);
    return TONWELL_OK;
}

int tonwell_engine_set_impact_duration(tonwell_engine* engine, int samples) {
    const char* function = "tonwell_engine_set_impact_duration";
    if (engine == nullptr) return failArgument(function, "engine is null");
    if (samples < 1 || samples > 256) return failArgument(function, "samples must be 1 .. 256");
    engine->engine.setImpactDuration(samples);
    return TONWELL_OK;
}

int tonwell_engine_render(tonwell_engine* engine, float* out, long frames) {
    // Real-time: no message (it would allocate); the code alone.
    if (engine == nullptr || (out == nullptr && frames > 0) || frames < 0) {
        return TONWELL_ERROR_ARGUMENT;
    }
    engine->engine.render(out, frames);
    return TONWELL_OK;
}

int tonwell_object_load(tonwell_engine* engine, const char* folder, tonwell_object** object) {
    const char* function = "tonwell_object_load";
    if (object == nullptr) return failArgument(function, "object is null");
    *object = nullptr;
    if (engine == nullptr || folder == nullptr) return failArgument(function, "a pointer is null");
    try {
        EngineObjectFiles files;
        double presetMagnitude = 0.0;
        std::string meshFile;
        const int resolved = resolveFolder(folder, &files, &presetMagnitude, &meshFile);
        if (resolved != TONWELL_OK) return resolved;
        std::string problem;
        std::unique_ptr<EngineObject> loaded = engine->engine.loadObject(files, &problem);
        if (loaded == nullptr) return fail(TONWELL_ERROR_FILE, problem);
        tonwell_object* handle = new tonwell_object{engine, -1, presetMagnitude, meshFile};
        handle->id = engine->engine.addObject(std::move(loaded));
        if (handle->id < 0) {
            delete handle;
            return fail(TONWELL_ERROR_FULL, std::string(function) + ": \"" + folder +
                                                "\": the engine already holds " +
                                                std::to_string(Engine::kMaxObjects) + " objects");
        }
        engine->handles[handle->id] = handle;
        *object = handle;
    } catch (const std::bad_alloc&) {
        return fail(TONWELL_ERROR_MEMORY,
                    std::string(function) + ": \"" + folder + "\": out of memory");
    }
    return TONWELL_OK;
}

int tonwell_object_unload(tonwell_object* object) {
    if (object == nullptr) return failArgument("tonwell_object_unload", "object is null");
    tonwell_engine* engine = object->owner;
    engine->engine.removeObject(object->id);
    engine->handles[object->id] = nullptr;
    delete object;
    return TONWELL_OK;
}

int tonwell_object_contact(tonwell_object* object, int kind, const int vertices[3],
                           const double weights[3], const double direction[3], double force,
                           double speed, double roughness, double slope, double ball_radius) {
    const char* function = "tonwell_object_contact";
    if (object == nullptr || vertices == nullptr || weights == nullptr || direction == nullptr)
        return failArgument(function, "a pointer is null");
    if (kind != TONWELL_CONTACT_SCRAPE && kind != TONWELL_CONTACT_ROLL)
        return failArgument(function, "the kind must be TONWELL_CONTACT_SCRAPE or _ROLL");
    if (!finite3(direction)) return failArgument(function, "the direction is not finite");
    if (!std::isfinite(force) || force < 0)
        return failArgument(function, "the force must be finite and not negative");
    if (!std::isfinite(speed) || speed < 0)
        return failArgument(function, "the speed must be finite and not negative");
    if (!std::isfinite(roughness) || roughness < 0)
        return failArgument(function, "the roughness must be finite and not negative");
    if (!std::isfinite(slope) || slope < 0 || slope > 2)
        return failArgument(function, "the slope must lie in 0 .. 2");
    if (kind == TONWELL_CONTACT_ROLL && !(std::isfinite(ball_radius) && ball_radius > 0))
        return failArgument(function, "a roll needs a ball radius above 0");
    EngineObject* target = engineObject(object);
    SurfacePoint point;
    if (const int code = surfacePointOf(function, *target, vertices, weights, &point);
        code != TONWELL_OK)
        return code;
    const ContactKind contactKind =
        kind == TONWELL_CONTACT_ROLL ? ContactKind::kRoll : ContactKind::kScrape;
    target->setContact(point, direction, force, speed, contactKind, roughness, slope,
                       kind == TONWELL_CONTACT_ROLL ? ball_radius : 0.0);
    return TONWELL_OK;
}

int tonwell_object_surface_point(tonwell_object* object, const double position[3], int vertices[3],
                                 double weights[3], double normal[3]) {
    const char* function = "tonwell_object_surface_point";
    if (object == nullptr || position == nullptr || vertices == nullptr || weights == nullptr ||
        normal == nullptr)
        return failArgument(function, "a pointer is null");
    if (!std::isfinite(position[0]) || !std::isfinite(position[1]) || !std::isfinite(position[2]))
        return failArgument(function, "the position must be finite");
    if (object->mesh == nullptr) {
        BadInputCapture capture;
        try {
            object->mesh.reset(glmReadOBJ(object->meshFile.c_str()));
        } catch (const BadInput& bad) {
            return fail(TONWELL_ERROR_FILE, bad.message.find(object->meshFile) == std::string::npos
                                                ? object->meshFile + ": " + bad.message
                                                : bad.message);
        } catch (const std::bad_alloc&) {
            return fail(TONWELL_ERROR_MEMORY,
                        std::string(function) + ": " + object->meshFile + ": out of memory");
        }
    }
    SurfacePoint point;
    if (!findSurfacePoint(*object->mesh, position, &point, normal)) {
        return fail(TONWELL_ERROR_FILE, object->meshFile + ": the mesh has no triangles");
    }
    for (int k = 0; k < 3; ++k) {
        vertices[k] = point.vertex[k];
        weights[k] = point.weight[k];
    }
    return TONWELL_OK;
}

int tonwell_object_contact_end(tonwell_object* object) {
    if (object == nullptr) return failArgument("tonwell_object_contact_end", "object is null");
    engineObject(object)->endContact();
    return TONWELL_OK;
}

namespace {

// The checks every strike makes first: the pointers, a finite direction, a finite magnitude
// >= 0; TONWELL_OK or the failure's code, with `function`'s message.
int checkStrike(const char* function, const tonwell_object* object, const double direction[3],
                double magnitude) {
    if (object == nullptr || direction == nullptr)
        return failArgument(function, "a pointer is null");
    if (!finite3(direction)) return failArgument(function, "the direction is not finite");
    if (!std::isfinite(magnitude) || magnitude < 0) {
        return failArgument(function, "the magnitude must be finite and not negative");
    }
    return TONWELL_OK;
}

// The direction normalised as the demo normalises a click's (zero stays zero).
void unitDirection(const double direction[3], double unit[3]) {
    const double L = std::sqrt(direction[0] * direction[0] + direction[1] * direction[1] +
                               direction[2] * direction[2]);
    for (int k = 0; k < 3; ++k) unit[k] = L == 0.0 ? 0.0 : direction[k] * (1.0 / L);
}

int failFullQueue(const char* function) {
    return fail(TONWELL_ERROR_FULL, std::string(function) + ": " +
                                        std::to_string(StrikeQueue::kCapacity) +
                                        " strikes already wait for the next block");
}

// A strike at a triangle's point, for `duration` samples (0: the engine's impact duration).
int strikePoint(const char* function, tonwell_object* object, const int vertices[3],
                const double weights[3], const double direction[3], double magnitude,
                int duration) {
    if (const int code = checkStrike(function, object, direction, magnitude); code != TONWELL_OK)
        return code;
    if (vertices == nullptr || weights == nullptr)
        return failArgument(function, "a pointer is null");
    EngineObject* target = engineObject(object);
    SurfacePoint point;
    if (const int code = surfacePointOf(function, *target, vertices, weights, &point);
        code != TONWELL_OK)
        return code;
    double unit[3];
    unitDirection(direction, unit);
    return target->strikeAt(point, unit, magnitude, duration) ? TONWELL_OK
                                                              : failFullQueue(function);
}

}  // namespace

int tonwell_object_strike(tonwell_object* object, int vertex, const double direction[3],
                          double magnitude) {
    const char* function = "tonwell_object_strike";
    if (const int code = checkStrike(function, object, direction, magnitude); code != TONWELL_OK)
        return code;
    EngineObject* target = engineObject(object);
    if (vertex < 0 || vertex >= target->vertexCount()) return failVertex(function, vertex, *target);
    double unit[3];
    unitDirection(direction, unit);
    return target->strike(vertex, unit, magnitude) ? TONWELL_OK : failFullQueue(function);
}

int tonwell_object_strike_point(tonwell_object* object, const int vertices[3],
                                const double weights[3], const double direction[3],
                                double magnitude) {
    return strikePoint("tonwell_object_strike_point", object, vertices, weights, direction,
                       magnitude, 0);
}

int tonwell_object_strike_for(tonwell_object* object, const int vertices[3],
                              const double weights[3], const double direction[3], double magnitude,
                              int samples) {
    const char* function = "tonwell_object_strike_for";
    if (samples < 1 || samples > EngineObject::kMaxStrikeDuration) {
        const std::string what = "samples " + std::to_string(samples) + " is not in 1 .. " +
                                 std::to_string(EngineObject::kMaxStrikeDuration);
        return failArgument(function, what.c_str());
    }
    return strikePoint(function, object, vertices, weights, direction, magnitude, samples);
}

int tonwell_object_set_pose(tonwell_object* object, const double translation[3],
                            const double rotation[9]) {
    const char* function = "tonwell_object_set_pose";
    if (object == nullptr || translation == nullptr || rotation == nullptr) {
        return failArgument(function, "a pointer is null");
    }
    ObjectPose pose;
    for (int k = 0; k < 3; ++k) pose.translation[k] = translation[k];
    for (int k = 0; k < 9; ++k) pose.rotation[k] = rotation[k];
    if (!finite3(pose.translation) || !finite3(pose.rotation) || !finite3(pose.rotation + 3) ||
        !finite3(pose.rotation + 6)) {
        return failArgument(function, "a value is not finite");
    }
    engineObject(object)->setPose(pose);
    return TONWELL_OK;
}

int tonwell_object_set_gain(tonwell_object* object, double gain) {
    if (object == nullptr) return failArgument("tonwell_object_set_gain", "object is null");
    if (!std::isfinite(gain)) return failArgument("tonwell_object_set_gain", "gain not finite");
    engineObject(object)->setGain(gain);
    return TONWELL_OK;
}

int tonwell_object_set_damping(tonwell_object* object, double alpha, double beta) {
    const char* function = "tonwell_object_set_damping";
    if (object == nullptr) return failArgument(function, "object is null");
    if (!std::isfinite(alpha) || !std::isfinite(beta) || alpha < 0 || beta < 0) {
        return failArgument(function, "alpha and beta must be finite and not negative");
    }
    std::string problem;
    if (!engineObject(object)->setDamping(alpha, beta, &problem)) {
        return fail(TONWELL_ERROR_ARGUMENT, std::string(function) + ": " + problem);
    }
    return TONWELL_OK;
}

int tonwell_object_set_active_modes(tonwell_object* object, int count) {
    const char* function = "tonwell_object_set_active_modes";
    if (object == nullptr) return failArgument(function, "object is null");
    if (count < 0) return failArgument(function, "count is negative");
    engineObject(object)->setActiveModeCount(count);
    return TONWELL_OK;
}

int tonwell_object_mode_count(const tonwell_object* object, int* count) {
    if (object == nullptr || count == nullptr) {
        return failArgument("tonwell_object_mode_count", "a pointer is null");
    }
    *count = engineObject(object)->modeCount();
    return TONWELL_OK;
}

int tonwell_object_vertex_count(const tonwell_object* object, int* count) {
    if (object == nullptr || count == nullptr) {
        return failArgument("tonwell_object_vertex_count", "a pointer is null");
    }
    *count = engineObject(object)->vertexCount();
    return TONWELL_OK;
}

int tonwell_object_preset_magnitude(const tonwell_object* object, double* magnitude) {
    if (object == nullptr || magnitude == nullptr) {
        return failArgument("tonwell_object_preset_magnitude", "a pointer is null");
    }
    *magnitude = object->presetMagnitude;
    return TONWELL_OK;
}

int tonwell_object_contact_roughness(const tonwell_object* object, double* roughness) {
    if (object == nullptr || roughness == nullptr) {
        return failArgument("tonwell_object_contact_roughness", "a pointer is null");
    }
    *roughness = engineObject(object)->contactRoughness();
    return TONWELL_OK;
}

int tonwell_object_frequencies(const tonwell_object* object, double* hz, int capacity, int* count) {
    const char* function = "tonwell_object_frequencies";
    if (object == nullptr || (hz == nullptr && capacity > 0)) {
        return failArgument(function, "a pointer is null");
    }
    if (capacity < 0) return failArgument(function, "capacity is negative");
    const EngineObject& o = *engineObject(object);
    for (int i = 0; i < std::min(capacity, o.modeCount()); ++i) hz[i] = o.modeFrequencies()[i];
    if (count != nullptr) *count = o.modeCount();
    return TONWELL_OK;
}

int tonwell_object_watch_levels(tonwell_object* object, int on) {
    if (object == nullptr) return failArgument("tonwell_object_watch_levels", "object is null");
    engineObject(object)->blockContext().modeLevelsWanted.store(on != 0, std::memory_order_relaxed);
    return TONWELL_OK;
}

int tonwell_object_levels(tonwell_object* object, double* levels_db, int capacity, int* count) {
    const char* function = "tonwell_object_levels";
    if (object == nullptr || count == nullptr || (levels_db == nullptr && capacity > 0)) {
        return failArgument(function, "a pointer is null");
    }
    if (capacity < 0) return failArgument(function, "capacity is negative");
    // The control thread is the level buffer's one reader; the newest published slot stays its
    // own until the next call.
    ModeLevelBuffer& levels = engineObject(object)->blockContext().modeLevels;
    levels.acquireLatest();
    *count = levels.modeCount();
    for (int i = 0; i < std::min(capacity, *count); ++i)
        levels_db[i] = modeLevelDecibels(levels.levelsSquared()[i], -200.0);
    return TONWELL_OK;
}

}  // extern "C"
