// Scene loading and the block loop of tonwell-render.
#include "tools/render/offline_render.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "app/scene_loading.h"
#include "app/scene_preset_file.h"
#include "app/startup.h"
#include "app/swing.h"
#include "engine/engine.h"
#include "geometry/listener_points.h"
#include "geometry/mode_shape_matrix.h"
#include "geometry/obj_model.h"
#include "geometry/obj_reader.h"
#include "geometry/object_pose.h"
#include "geometry/orbit_camera.h"
#include "geometry/scene_presets.h"
#include "sound/audio_block_context.h"
#include "sound/binaural_gains.h"
#include "sound/contact_excitation.h"
#include "sound/impact.h"
#include "sound/mode_levels.h"
#include "sound/mode_mask.h"
#include "sound/surface_point.h"
#include "sound/synthesis_state.h"

namespace {

ObjModel* mesh = nullptr;  // the struck object's mesh (vertices only are used)
// The engine the blocks run in, and the struck object in it: its bank, mode shapes and transfer,
// and its block context (the compact bank, the mask and the levels).
std::unique_ptr<Engine> engine;
EngineObject* struck = nullptr;
ScenePresetFile folderPresets;  // the presets of a folder of one's own
ObjectPose restPose = identityPose();
ListenerPoints renderListener{};  // the listener the engine was given

// One strike resolved against the loaded scene.
struct ResolvedStrike {
    int vertex;
    double direction[3];  // unit, world axes, or zero
    double magnitude;
    int duration;  // samples, or 0 for the engine's impact duration
    long block;    // first block it sounds in
};
std::vector<ResolvedStrike> resolvedStrikes;

// One contact resolved against the loaded scene: its path's corners in the mesh frame (which is
// the mode shapes' frame), its blocks and its speed.
struct ResolvedContact {
    const ContactRequest* request;
    std::vector<double> corners;  // 3 per path vertex
    double length;                // of the path, m
    double speed;                 // m/s
    long firstBlock;              // the first block it sounds in
    long endBlock;                // the block it is lifted before
};
std::vector<ResolvedContact> resolvedContacts;

// The point at arc length `s` along the contact's path (clamped to the path).
void pathPoint(const ResolvedContact& contact, double s, double point[3]) {
    const std::vector<double>& c = contact.corners;
    const size_t corners = c.size() / 3;
    for (size_t k = 0; k + 1 < corners; ++k) {
        double d[3];
        for (int a = 0; a < 3; ++a) d[a] = c[3 * (k + 1) + a] - c[3 * k + a];
        const double segment = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        if (s <= segment && segment > 0.0) {
            for (int a = 0; a < 3; ++a) point[a] = c[3 * k + a] + d[a] * (s / segment);
            return;
        }
        s -= segment;
    }
    for (int a = 0; a < 3; ++a) point[a] = c[3 * (corners - 1) + a];
}

// Moves the object's contact to where `contact` is at the end of block b.
void moveContact(const ResolvedContact& contact, long b, int blockFrames) {
    const double t = static_cast<double>((b + 1) * blockFrames) / kAudioSamplingRate -
                     static_cast<double>(contact.firstBlock * blockFrames) / kAudioSamplingRate;
    double q[3];
    pathPoint(contact, contact.speed * t, q);
    SurfacePoint point;
    double normal[3];
    if (!findSurfacePoint(*mesh, q, &point, normal)) return;
    const ContactRequest& r = *contact.request;
    struck->setContact(point, normal, r.force, contact.speed,
                       r.kind == 1 ? ContactKind::kRoll : ContactKind::kScrape,
                       r.roughness >= 0.0 ? r.roughness : struck->contactRoughness(), r.slope,
                       r.radius);
}

bool isDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isReadableFile(const char* path) {
    FILE* file = fopen(path, "rb");
    if (file == nullptr) return false;
    fclose(file);
    return true;
}

std::string numberText(double value) {
    char text[64];
    snprintf(text, sizeof(text), "%g", value);
    return text;
}

// The world position of 0-based mesh vertex v under the rest pose: R p + T.
void vertexWorld(int v, double world[3]) {
    const float* p = &mesh->vertices[3 * (v + 1)];
    const double* R = restPose.rotation;
    for (int k = 0; k < 3; ++k) {
        world[k] =
            R[3 * k] * p[0] + R[3 * k + 1] * p[1] + R[3 * k + 2] * p[2] + restPose.translation[k];
    }
}

// The camera the program starts with, or one placed by the options; it publishes the listener.
void placeCamera(const RenderOptions& options, const SceneParameters& preset) {
    double radius = preset.initialCameraRadius;
    double azimuth = preset.cameraPhi * degreesToRadians;
    double elevation = preset.cameraTheta * degreesToRadians;
    if (options.hasCamera) {
        radius = options.camera[0];
        azimuth = options.camera[1] * degreesToRadians;
        elevation = options.camera[2] * degreesToRadians;
    } else if (options.hasListener) {
        // Invert the camera's placement eye = focus + r (cos el cos az, sin el, -cos el sin az).
        const double d[3] = {options.listener[0] - preset.cameraFocus[0],
                             options.listener[1] - preset.cameraFocus[1],
                             options.listener[2] - preset.cameraFocus[2]};
        radius = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        elevation = radius > 0 ? std::asin(d[1] / radius) : 0.0;
        azimuth = (d[0] == 0 && d[2] == 0) ? 0.0 : std::atan2(-d[2], d[0]);
    }
    const double up[3] = {0.0, 1.0, 0.0};
    delete camera;
    camera = new OrbitCamera(radius, azimuth, elevation, preset.cameraFocus, up, cameraMotionScale);
    if (options.hasListener) {
        // The placement above reproduces the point up to rounding; the eye is the point itself.
        ListenerPoints listener = publishedListener.load();
        for (int k = 0; k < 3; ++k) {
            const double shift = options.listener[k] - listener.eye[k];
            listener.eye[k] += shift;
            listener.leftEar[k] += shift;
            listener.rightEar[k] += shift;
        }
        publishedListener.store(listener);
    }
}

}  // namespace

int sceneSelectorForFolder(const std::string& folder) {
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name == "bell") return 0;
    if (name == "chair") return 1;
    if (name == "dragon") return 2;
    return -1;
}

long strikeBlock(double seconds, int blockFrames) {
    // Rounding of seconds * 44100 must not push a strike given exactly on a boundary to the next.
    const double blocks = seconds * kAudioSamplingRate / blockFrames;
    return static_cast<long>(std::ceil(blocks - 1e-9));
}

bool folderHasPresetFile(const std::string& folder) {
    return isReadableFile((folder + "/" + kScenePresetFileName).c_str());
}

ListenerPoints headTurnedListener(const ListenerPoints& listener, double yawDegrees) {
    double forward[3], left[3], up[3];
    listenerHeadFrame(listener, forward, left, up);
    const double angle = yawDegrees * degreesToRadians;
    const double c = std::cos(angle), s = std::sin(angle);
    // v' = v cos a + (u x v) sin a + u (u . v) (1 - cos a), u the head's up: a turn to the left
    // for a > 0, since forward x left = up.
    auto turn = [&](const double v[3], double out[3]) {
        const double cross[3] = {up[1] * v[2] - up[2] * v[1], up[2] * v[0] - up[0] * v[2],
                                 up[0] * v[1] - up[1] * v[0]};
        const double along = up[0] * v[0] + up[1] * v[1] + up[2] * v[2];
        for (int k = 0; k < 3; ++k) out[k] = v[k] * c + cross[k] * s + up[k] * along * (1 - c);
    };
    ListenerPoints turned = listener;
    turn(forward, turned.forward);
    for (int k = 0; k < 3; ++k) turned.up[k] = up[k];
    double offset[3], turnedOffset[3];
    for (int k = 0; k < 3; ++k) offset[k] = listener.leftEar[k] - listener.eye[k];
    turn(offset, turnedOffset);
    for (int k = 0; k < 3; ++k) turned.leftEar[k] = listener.eye[k] + turnedOffset[k];
    for (int k = 0; k < 3; ++k) offset[k] = listener.rightEar[k] - listener.eye[k];
    turn(offset, turnedOffset);
    for (int k = 0; k < 3; ++k) turned.rightEar[k] = listener.eye[k] + turnedOffset[k];
    return turned;
}

std::string loadRenderScene(const RenderOptions& options, std::unique_ptr<HrtfSet> hrtf) {
    // The folder as the working directory (its parent) sees it: its last component.
    std::string name = options.sceneFolder;
    while (name.size() > 1 && name.back() == '/') name.pop_back();
    if (name.rfind('/') != std::string::npos) name = name.substr(name.rfind('/') + 1);
    if (!isDirectory(name)) return "scene folder \"" + options.sceneFolder + "\" does not exist";
    const int selector = sceneSelectorForFolder(name);
    const SceneParameters* presetOrNull = selector >= 0 ? scenePreset(selector) : nullptr;
    if (presetOrNull == nullptr) {
        if (!folderHasPresetFile(name)) {
            return "scene folder \"" + options.sceneFolder +
                   "\": its name must be bell, chair or dragon, or it must hold the " +
                   kScenePresetFileName + " that tonwell-bake writes for a scene of one's own";
        }
        readScenePresetFileOrExit(name, &folderPresets);
        presetOrNull = &folderPresets.parameters;
    }
    const SceneParameters& preset = *presetOrNull;

    // Presets, as scene loading copies them.
    massDamping = previousMassDamping = preset.massDamping;
    stiffnessDamping = previousStiffnessDamping = preset.stiffnessDamping;
    impactMagnitude = preset.impactMagnitude;
    modalRendererGain = preset.modalRendererGain;
    blockSize = kAudioSamplingRate / options.zepRate;
    zepSamplingRate = options.zepRate;

    // The pose at rest: the bell hangs below its pivot; the other objects sit at the origin.
    if (selector == 0) {
        computeSwingPose(0.0, restPose.translation, restPose.rotation);
    } else {
        restPose = identityPose();
    }
    memcpy(objectTranslation, restPose.translation, sizeof(objectTranslation));
    memcpy(objectRotation, restPose.rotation, sizeof(objectRotation));
    publishedObjectPose.store(restPose);
    placeCamera(options, preset);

    // The struck object's mesh; its mode shapes, frequencies, resonators and transfer model as
    // an engine object. The readers print and exit on bad input, as in the demo. The transfer:
    // the "ZEP" renderer needs it; "Modal" uses it when it is there.
    mesh = glmReadOBJ(preset.meshFile);
    const bool haveList = isReadableFile(preset.transferListFile);
    engine.reset(new Engine(options.channelCount, options.zepRate));
    if (options.binaural && hrtf != nullptr) engine->setHrtf(std::move(hrtf));
    EngineObjectFiles files;
    files.modeShapeFile = preset.modeShapeFile;
    files.frequencyFile = preset.frequencyFile;
    files.transferListFile = haveList ? preset.transferListFile : "";
    files.massDamping = massDamping;
    files.stiffnessDamping = stiffnessDamping;
    files.modalRendererGain = modalRendererGain;
    files.programMessages = true;
    std::string problem;
    std::unique_ptr<EngineObject> loaded = engine->loadObject(files, &problem);
    if (loaded == nullptr) return problem;
    struck = loaded.get();
    engine->addObject(std::move(loaded));
    const int r = struck->modeCount();
    if (!haveList && options.rendererType == 0) {
        return std::string(preset.transferListFile) +
               ": the transfer list cannot be read; the \"ZEP\" renderer needs the scene's "
               "acoustic transfer (use --renderer Modal to render without it)";
    }

    // The panel's settings.
    if (options.modeCount > r) {
        return "--modes " + std::to_string(options.modeCount) + ": the scene has only " +
               std::to_string(r) + " modes";
    }
    struck->setActiveModeCount(options.modeCount > 0 ? options.modeCount : r);
    // Solo and mute, against the modes that are synthesised.
    const int active = struck->activeModeCount();
    std::vector<std::pair<std::string, int>> masked;
    if (options.soloMode >= 0) masked.emplace_back("--solo", options.soloMode);
    for (int mode : options.mutedModes) masked.emplace_back("--mute", mode);
    for (const auto& [option, mode] : masked) {
        if (mode >= active) {
            return option + " " + std::to_string(mode) + ": the render synthesises modes 0.." +
                   std::to_string(active - 1);
        }
    }
    AudioBlockContext& blockContext = struck->blockContext();
    blockContext.modeMask.soloMode(options.soloMode);
    for (int mode : options.mutedModes) blockContext.modeMask.setModeMuted(mode, true);
    blockContext.modeLevelsWanted = !options.modesCsvFile.empty();
    engine->setImpactDuration(options.impactDuration);
    engine->setRendererType(options.rendererType);

    // The listener the camera published, the object at rest; the strikes against this mesh and
    // listener.
    const ListenerPoints listener =
        options.headYaw == 0.0 ? publishedListener.load()
                               : headTurnedListener(publishedListener.load(), options.headYaw);
    engine->setListener(listener);
    renderListener = listener;
    struck->setPose(restPose);
    const long frames = std::lround(options.lengthSeconds * kAudioSamplingRate);
    resolvedStrikes.clear();
    for (const StrikeRequest& request : options.strikes) {
        ResolvedStrike strike;
        if (request.hasPoint) {
            double object[3];
            worldToObject(restPose, request.point, object);
            strike.vertex = findNearestVertex(*mesh, object[0], object[1], object[2]);
        } else {
            strike.vertex = request.vertex;
        }
        const int vertexCount = static_cast<int>(mesh->vertexCount);
        if (strike.vertex >= vertexCount) {
            return request.origin + ": unknown vertex " + std::to_string(strike.vertex) +
                   " (the mesh " + preset.meshFile + " has " + std::to_string(vertexCount) +
                   " vertices, 0.." + std::to_string(vertexCount - 1) + ")";
        }
        if (strike.vertex >= struck->vertexCount()) {
            return request.origin + ": vertex " + std::to_string(strike.vertex) +
                   " has no mode shape (" + preset.modeShapeFile + " covers vertices 0.." +
                   std::to_string(struck->vertexCount() - 1) + ")";
        }
        // As a click: from the eye to the vertex's world position, or the given direction.
        double d[3];
        if (request.fromListener) {
            double V[3];
            vertexWorld(strike.vertex, V);
            for (int k = 0; k < 3; ++k) d[k] = V[k] - listener.eye[k];
        } else {
            for (int k = 0; k < 3; ++k) d[k] = request.direction[k];
        }
        const double L = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        for (int k = 0; k < 3; ++k) strike.direction[k] = L == 0.0 ? 0.0 : d[k] * (1.0 / L);
        // The panel's magnitude is a single-precision float.
        strike.magnitude = request.hasMagnitude ? static_cast<float>(request.magnitude)
                                                : static_cast<double>(preset.impactMagnitude);
        strike.duration = request.duration;
        strike.block = strikeBlock(request.time, blockSize);
        if (strike.block * blockSize >= frames) {
            return request.origin + ": time " + numberText(request.time) +
                   " s starts after the end of the output (--length " +
                   numberText(options.lengthSeconds) + ")";
        }
        resolvedStrikes.push_back(strike);
    }
    // The contacts: their paths against this mesh; one at a time, as the object has one.
    resolvedContacts.clear();
    for (const ContactRequest& request : options.contacts) {
        ResolvedContact contact;
        contact.request = &request;
        for (int vertex : request.path) {
            const int vertexCount = static_cast<int>(mesh->vertexCount);
            if (vertex >= vertexCount || vertex >= struck->vertexCount()) {
                return request.origin + ": vertex " + std::to_string(vertex) +
                       " is not a mesh vertex with a mode shape (0.." +
                       std::to_string(std::min(vertexCount, struck->vertexCount()) - 1) + ")";
            }
            const float* p = &mesh->vertices[3 * (vertex + 1)];
            for (int a = 0; a < 3; ++a) contact.corners.push_back(p[a]);
        }
        contact.length = 0.0;
        for (size_t k = 3; k < contact.corners.size(); k += 3) {
            double d2 = 0.0;
            for (int a = 0; a < 3; ++a) {
                const double d = contact.corners[k + a] - contact.corners[k - 3 + a];
                d2 += d * d;
            }
            contact.length += std::sqrt(d2);
        }
        contact.speed = contact.length / request.duration;
        if (contact.speed > kMaxContactSpeed_mps) {
            return request.origin + ": the path (" + numberText(contact.length) + " m in " +
                   numberText(request.duration) + " s) runs at " + numberText(contact.speed) +
                   " m/s, above the contact's " + numberText(kMaxContactSpeed_mps) + " m/s";
        }
        contact.firstBlock = strikeBlock(request.time, blockSize);
        contact.endBlock = strikeBlock(request.time + request.duration, blockSize);
        if (contact.endBlock <= contact.firstBlock) contact.endBlock = contact.firstBlock + 1;
        if (contact.firstBlock * blockSize >= frames) {
            return request.origin + ": time " + numberText(request.time) +
                   " s starts after the end of the output (--length " +
                   numberText(options.lengthSeconds) + ")";
        }
        for (const ResolvedContact& other : resolvedContacts) {
            if (contact.firstBlock < other.endBlock && other.firstBlock < contact.endBlock) {
                return request.origin + ": overlaps " + other.request->origin +
                       " (the object has one contact at a time)";
            }
        }
        resolvedContacts.push_back(contact);
    }
    // The engine takes StrikeQueue::kCapacity strikes of one object per block.
    for (const ResolvedStrike& strike : resolvedStrikes) {
        long sameBlock = 0;
        for (const ResolvedStrike& other : resolvedStrikes)
            sameBlock += other.block == strike.block;
        if (sameBlock > static_cast<long>(StrikeQueue::kCapacity)) {
            return "more than " + std::to_string(StrikeQueue::kCapacity) +
                   " strikes start in block " + std::to_string(strike.block);
        }
    }
    return "";
}

void releaseRenderScene() {
    if (mesh != nullptr) glmDelete(mesh);
    mesh = nullptr;
    delete camera;
    camera = nullptr;
    struck = nullptr;
    engine.reset();
    resolvedStrikes.clear();
    resolvedContacts.clear();
}

Engine& renderEngine() { return *engine; }

EngineObject& renderObject() { return *struck; }

int renderedModeCount() { return struck == nullptr ? 0 : struck->activeModeCount(); }

std::string writeModeLevelsCsv(const std::string& fileName, const std::vector<double>& levels_dB) {
    FILE* file = fopen(fileName.c_str(), "w");
    if (file == nullptr) return fileName + ": cannot be written";
    const int modes = renderedModeCount();
    fprintf(file, "block,time_s");
    for (int e = 0; e < modes; ++e) {
        fprintf(file, ",mode%d_%.6gHz", e, struck->modeOmega()[e] / twoPi);
    }
    fprintf(file, "\n");
    const size_t blocks = modes > 0 ? levels_dB.size() / modes : 0;
    for (size_t b = 0; b < blocks; ++b) {
        // The levels at the end of block b.
        fprintf(file, "%zu,%.6f", b, static_cast<double>((b + 1) * blockSize) / kAudioSamplingRate);
        for (int e = 0; e < modes; ++e) fprintf(file, ",%.4f", levels_dB[b * modes + e]);
        fprintf(file, "\n");
    }
    const bool failed = ferror(file) != 0;
    if (fclose(file) != 0 || failed) return fileName + ": cannot be written";
    return "";
}

std::string describeBinaural(const RenderOptions& options) {
    if (!options.binaural || engine == nullptr || engine->hrtf() == nullptr) return "";
    const HrtfSet& set = *engine->hrtf();
    double direction[3];
    objectDirectionInHead(struck->transfer(), restPose, renderListener, direction);
    const double azimuth = std::atan2(direction[1], direction[0]) / degreesToRadians;
    const double elevation =
        std::asin(std::max(-1.0, std::min(1.0, direction[2]))) / degreesToRadians;
    char line[512];
    snprintf(line, sizeof line,
             "Binaural: HRTF set %s (%d directions, %g Hz); the object's centre at azimuth %.2f, "
             "elevation %.2f degrees in the head's frame\n",
             set.name().c_str(), set.directionCount(), set.sampleRate(), azimuth, elevation);
    return line;
}

std::string describeStrikes(const RenderOptions& options) {
    std::string text;
    for (size_t s = 0; s < resolvedStrikes.size(); ++s) {
        const ResolvedStrike& strike = resolvedStrikes[s];
        char line[256];
        snprintf(line, sizeof(line),
                 "Strike %zu: vertex %d, direction (%.6g, %.6g, %.6g), magnitude %g, force from "
                 "%.6f s (block %ld)\n",
                 s + 1, strike.vertex, strike.direction[0], strike.direction[1],
                 strike.direction[2], strike.magnitude,
                 static_cast<double>(strike.block * blockSize) / kAudioSamplingRate, strike.block);
        text += line;
    }
    (void)options;
    return text;
}

void renderStrikes(const RenderOptions& options, std::vector<float>* samples,
                   std::vector<double>* modeLevels_dB) {
    const int N = engine->blockFrames();
    const int channels = options.channelCount;
    const long frames = std::lround(options.lengthSeconds * kAudioSamplingRate);
    const long blocks = (frames + N - 1) / N;
    std::vector<float> all(static_cast<size_t>(blocks) * N * channels, 0.0f);

    // A strike of block b is queued before the engine renders block b: the engine turns the
    // strikes queued since its last block into the forces of the next, as the demo's force
    // exchange passes the clicks of one block to the one after it.
    if (modeLevels_dB != nullptr) modeLevels_dB->clear();
    ModeLevelBuffer& levels = struck->blockContext().modeLevels;
    for (long b = 0; b < blocks; ++b) {
        for (const ResolvedStrike& strike : resolvedStrikes) {
            if (strike.block != b) continue;
            const int v = strike.vertex;
            struck->strikeAt(SurfacePoint{{v, v, v}, {1.0, 0.0, 0.0}}, strike.direction,
                             strike.magnitude, strike.duration);
        }
        // A contact moves before each of its blocks to where it is at the block's end (the
        // engine glides to it across the block), and is lifted before its end block.
        for (const ResolvedContact& contact : resolvedContacts) {
            if (b >= contact.firstBlock && b < contact.endBlock) moveContact(contact, b, N);
            if (b == contact.endBlock) struck->endContact();
        }
        engine->render(&all[static_cast<size_t>(b) * N * channels], N);
        // The levels this block published, read as the Modes window reads them.
        if (modeLevels_dB != nullptr && levels.acquireLatest()) {
            for (int e = 0; e < levels.modeCount(); ++e) {
                modeLevels_dB->push_back(
                    modeLevelDecibels(levels.levelsSquared()[e], kModeLevelsCsvFloor_dB));
            }
        }
    }
    all.resize(static_cast<size_t>(frames) * channels);
    samples->swap(all);
}
