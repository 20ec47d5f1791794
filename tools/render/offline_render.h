// The offline renderer's core: loads a scene folder the way scene loading does (presets, camera,
// mesh vertices) and its struck object into an engine (engine/engine.h: mode shapes,
// frequencies, resonators, transfer model), then runs the engine block by block with the strikes
// queued to the object as clicks would be, and collects the samples. Runs on the main thread of
// tonwell-render, which stands in for both the engine's control thread (strikes, camera) and its
// render thread; nothing runs concurrently.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sound/hrtf_set.h"
#include "tools/render/render_options.h"

struct ListenerPoints;
class Engine;
class EngineObject;

// The scene selector (0 bell, 1 chair, 2 dragon) named by the last component of `folder`
// (trailing slashes ignored), or -1 when the name is none of the three.
int sceneSelectorForFolder(const std::string& folder);

// Whether `folder` holds a preset file (app/scene_preset_file.h). A folder that is not named
// bell, chair or dragon is rendered with the presets of this file; the three built-in names keep
// their fixed presets.
bool folderHasPresetFile(const std::string& folder);

// Loads the scene of options.sceneFolder into a new engine of options.channelCount channels and
// blocks of 44100 / options.zepRate frames: the preset of the folder's
// scene (damping, gains, camera, impact magnitude, file names: the fixed preset of bell, chair
// or dragon, or else the folder's presets.json, whose problems end the process with exit(1) and
// the reader's message), the pose at rest, the camera
// (the preset's start camera, or options.listener / options.camera) which publishes the
// listener, the mesh (glmReadOBJ), and as the engine's one object the ".U" and ".freq" matrices,
// the resonators and, when the renderer is "ZEP" or the file exists, the transfer model; then
// the solo and mutes of the
// options (modes beyond the synthesised ones are refused) and, with a CSV file asked for, the
// per-mode level publication. With options.binaural the engine hears through `hrtf` (which it
// then owns). The listener's head turns by options.headYaw degrees about its up axis, positive
// to the left (its forward and its ear points about the eye; headTurnedListener).
// Precondition: the working directory is the folder's parent (the scene's files are named
// relative to it, as the demo names them relative to its demo directory).
// Returns an empty string, or one message for a problem found here (missing folder, a folder
// with neither a built-in name nor a preset file, missing transfer list for "ZEP", more modes asked
// than the scene has, a strike's vertex outside the mesh or without mode shape, a strike after the
// end, more strikes in one block than an engine object queues). Broken scene files end the process
// with exit(1) and the message of the reader that failed, as in the demo.
std::string loadRenderScene(const RenderOptions& options, std::unique_ptr<HrtfSet> hrtf = nullptr);

// `listener` with its head turned by yawDegrees about the head's up axis (listenerHeadFrame,
// geometry/listener_points.h), positive to the left: its forward and up set from the turned
// frame, its ear points turned about the eye (Rodrigues' rotation).
ListenerPoints headTurnedListener(const ListenerPoints& listener, double yawDegrees);

// The block that a strike at `seconds` first sounds in: the first block boundary at or after
// that time, for blocks of `blockFrames` frames at 44100 Hz.
long strikeBlock(double seconds, int blockFrames);

// Renders options.lengthSeconds of audio (rounded to whole frames) into `samples` (frames *
// channels interleaved floats, full scale +-1): blocks of 44100 / zepRate frames rendered by the
// engine, whose object block is the demo's audio block. Strike s is queued to the object (at its
// magnitude, towards its direction) before the engine renders block strikeBlock(s), which is the
// block the demo's force exchange would pass a click to. The listener stays still.
// With `modeLevels_dB`, also the level of each synthesised mode at the listener at the end of
// every block, as the Modes window shows it (sound/mode_levels.h), in dB floored at
// kModeLevelsCsvFloor_dB: blocks x modes values, block by block; loadRenderScene asked for them
// when options.modesCsvFile is set.
// Precondition: loadRenderScene succeeded for the same options.
void renderStrikes(const RenderOptions& options, std::vector<float>* samples,
                   std::vector<double>* modeLevels_dB = nullptr);

// The level written for a mode at rest (its level is 0, minus infinity in dB).
constexpr double kModeLevelsCsvFloor_dB = -300.0;

// Writes the levels renderStrikes collected as CSV: a header "block,time_s,mode0_<f>Hz,...",
// then per block its index, the time of its end in seconds and each mode's level in dB. Valid
// after renderStrikes, before releaseRenderScene. Returns an empty string, or the file's name
// and what went wrong.
std::string writeModeLevelsCsv(const std::string& fileName, const std::vector<double>& levels_dB);

// The engine the renderer runs its blocks in (engine/engine.h) and the scene's object in it (its
// bank, transfer and block context: mask and levels). Valid after loadRenderScene, until
// releaseRenderScene. Benchmarks that run blocks on a loaded scene use them too.
Engine& renderEngine();
EngineObject& renderObject();
// The modes the render synthesises (the object's active modes), 0 before loading.
int renderedModeCount();

// Releases what loadRenderScene loaded (mesh, mode shapes, camera, transfer model, per-mode
// arrays), so the renderer ends with nothing left allocated. Safe after a partial load.
void releaseRenderScene();

// For a binaural render, one line for the console: the HRTF set (its file, directions and rate)
// and the direction of the object's centre in the head's frame (sound/binaural_gains.h), as
// azimuth (0 ahead, 90 to the left) and elevation in degrees; empty otherwise. Valid after
// loadRenderScene.
std::string describeBinaural(const RenderOptions& options);

// One line per strike for the console: its vertex, direction, magnitude and the time its force
// starts. Valid after loadRenderScene.
std::string describeStrikes(const RenderOptions& options);
