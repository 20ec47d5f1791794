// The Python module's render: tonwell-render's own argument parser and offline render core
// (tools/render/offline_render.h) run in the interpreter's process, so Scene.render gives the
// samples of the program's WAV file for the same arguments by construction. The core keeps the
// scene in process-wide state and reads the files relative to the folder's parent, so each call
// loads, renders and releases the scene, working from the parent, and returns to the caller's
// working directory. Calls hold Python's global interpreter lock: one at a time.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "geometry/listener_points.h"
#include "geometry/object_pose.h"

// A bad argument or strike, with the message tonwell-render would print for it.
struct RenderArgumentError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Parses `arguments` as tonwell-render's command line (the scene folder, "-o" and a name, which
// is not written, then the options; parseRenderArguments) and renders them with its core:
// loadRenderScene, renderStrikes, releaseRenderScene. Returns the frames * channels interleaved
// float samples and sets *channels.
// Throws RenderArgumentError for what the parser or the loading refuses (a strike's NaN, a vertex
// outside the mesh, a missing folder, ...), SceneDataError (python/scene_data.h) with the reader's
// message for a broken scene file. Spectrogram, CSV and script options are refused.
std::vector<float> renderWithArguments(const std::vector<std::string>& arguments, int* channels);

// The listener the render starts with for `arguments` (as renderWithArguments parses them; the
// strikes may be none) and the object's pose at rest: the scene's start camera, or the one the
// options place. Throws as renderWithArguments.
void renderListener(const std::vector<std::string>& arguments, ListenerPoints* listener,
                    ObjectPose* pose);
