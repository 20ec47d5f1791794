// tonwell-render's core run in-process for the Python module.
#include "python/scene_render.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "platform/input_exit.h"
#include "python/scene_data.h"
#include "tools/render/offline_render.h"
#include "tools/render/render_options.h"

namespace {

// Works from the scene folder's parent for its lifetime, then returns to the directory the
// caller was in (held open, so a renamed or relative working directory comes back as it was).
class ParentDirectory {
  public:
    explicit ParentDirectory(const std::string& folder) {
        previous_ = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (previous_ < 0) throw RenderArgumentError("the working directory cannot be opened");
        const std::filesystem::path parent = std::filesystem::path(folder).parent_path();
        if (!parent.empty() && chdir(parent.c_str()) != 0) {
            close(previous_);
            throw RenderArgumentError("scene folder \"" + folder + "\": cannot enter its parent");
        }
    }
    ~ParentDirectory() {
        if (fchdir(previous_) != 0) perror("tonwell: returning to the working directory");
        close(previous_);
    }
    ParentDirectory(const ParentDirectory&) = delete;
    ParentDirectory& operator=(const ParentDirectory&) = delete;

  private:
    int previous_ = -1;
};

// Releases the render core's scene however the call ends.
struct LoadedRenderScene {
    ~LoadedRenderScene() { releaseRenderScene(); }
};

// Parses the arguments and loads the scene; the caller holds `directory` and `loaded`.
void parseAndLoad(const std::vector<std::string>& arguments, bool strikesRequired,
                  RenderOptions* options) {
    std::vector<std::string> words = arguments;
    // The parser asks for a strike or a contact; the listener alone needs neither.
    if (!strikesRequired) words.insert(words.end(), {"--strike", "vertex=0"});
    const std::string problem = parseRenderArguments(words, options);
    if (!problem.empty()) throw RenderArgumentError(problem);
    if (options->help || !options->spectrogramFile.empty() || !options->modesCsvFile.empty()) {
        throw RenderArgumentError("--help, --spectrogram and --modes-csv are not rendered here");
    }
    if (!strikesRequired) options->strikes.clear();
    std::string folder = options->sceneFolder;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
        throw SceneFolderMissing("scene folder \"" + options->sceneFolder + "\" does not exist");
    }
    options->sceneFolder = std::filesystem::absolute(folder).lexically_normal().string();
}

void loadScene(const RenderOptions& options) {
    std::string problem;
    try {
        BadInputCapture capture;
        problem = loadRenderScene(options);
    } catch (const BadInput& bad) {
        throw SceneDataError(bad.message);
    }
    if (!problem.empty()) throw RenderArgumentError(problem);
}

}  // namespace

std::vector<float> renderWithArguments(const std::vector<std::string>& arguments, int* channels) {
    RenderOptions options;
    parseAndLoad(arguments, true, &options);
    ParentDirectory directory(options.sceneFolder);
    LoadedRenderScene loaded;
    loadScene(options);
    std::vector<float> samples;
    renderStrikes(options, &samples);
    *channels = options.channelCount;
    return samples;
}

void renderListener(const std::vector<std::string>& arguments, ListenerPoints* listener,
                    ObjectPose* pose) {
    RenderOptions options;
    parseAndLoad(arguments, false, &options);
    ParentDirectory directory(options.sceneFolder);
    LoadedRenderScene loaded;
    loadScene(options);
    *listener = publishedListener.load();
    *pose = publishedObjectPose.load();
}
