// tonwell-render: renders strikes on a scene folder to a WAV file with the demo's own audio
// block code, without a window or an audio device. Used by people who want to hear or compare a
// scene offline, by the tests, and as the driver of the benchmarks.
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/scene_selector.h"
#include "sound/sofa_file.h"
#include "tools/render/offline_render.h"
#include "tools/render/render_options.h"
#include "tools/render/wav_file.h"

extern char** environ;

// The library's code branches on the build's scene; the renderer has none of its own (the scene
// folder chooses the preset: a built-in scene's name, or the folder's presets.json), so no
// scene-specific branch of the library applies.
extern const int sceneSelector = -1;

namespace {

int fail(const std::string& message, int code) {
    fprintf(stderr, "tonwell-render: %s\n", message.c_str());
    return code;
}

std::string absolute(const std::string& path) {
    if (path.empty()) return path;
    return std::filesystem::absolute(path).lexically_normal().string();
}

// Runs `sox WAV -n spectrogram -o PNG`; returns an empty string when it succeeded.
std::string writeSpectrogram(const std::string& wavFile, const std::string& pngFile) {
    std::vector<std::string> words = {"sox", wavFile, "-n", "spectrogram", "-o", pngFile};
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawnp(&child, "sox", nullptr, nullptr, argv.data(), environ) != 0) {
        return pngFile + ": sox could not be started (install sox for spectrograms)";
    }
    int status = 0;
    if (waitpid(child, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return pngFile + ": sox failed to make the spectrogram";
    }
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    RenderOptions options;
    const std::string problem =
        parseRenderArguments(std::vector<std::string>(argv + 1, argv + argc), &options);
    if (!problem.empty()) return fail(problem, 2);
    if (options.help) {
        fputs(renderUsage(), stdout);
        return 0;
    }

    // The scene's files are named relative to the folder's parent, as the demo names them
    // relative to its demo directory: work from there, with the output paths made absolute.
    options.outputFile = absolute(options.outputFile);
    options.spectrogramFile = absolute(options.spectrogramFile);
    options.modesCsvFile = absolute(options.modesCsvFile);
    std::string folder = options.sceneFolder;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    struct stat info;
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return fail("scene folder \"" + options.sceneFolder + "\" does not exist", 1);
    }
    if (sceneSelectorForFolder(folder) < 0 && !folderHasPresetFile(folder)) {
        return fail("scene folder \"" + options.sceneFolder +
                        "\": its name must be bell, chair or dragon (it chooses the scene's "
                        "preset), or it must hold the presets.json that tonwell-bake writes for "
                        "a scene of one's own",
                    2);
    }
    // The HRTF set, read before the scene (from the working directory the file was named in).
    std::unique_ptr<HrtfSet> hrtf;
    if (options.binaural) {
        std::string hrtfProblem;
        hrtf = readSofaFile(options.hrtfFile.empty() ? kDefaultHrtfFile : options.hrtfFile,
                            &hrtfProblem);
        if (hrtf == nullptr) return fail(hrtfProblem, 1);
    }
    const std::filesystem::path parent = std::filesystem::path(folder).parent_path();
    if (!parent.empty() && chdir(parent.c_str()) != 0) {
        return fail("scene folder \"" + options.sceneFolder + "\": cannot enter its parent", 1);
    }

    const std::string loadProblem = loadRenderScene(options, std::move(hrtf));
    if (!loadProblem.empty()) {
        releaseRenderScene();
        return fail(loadProblem, 2);
    }
    fputs(describeBinaural(options).c_str(), stdout);
    fputs(describeStrikes(options).c_str(), stdout);

    std::vector<float> samples;
    std::vector<double> levels;
    renderStrikes(options, &samples, options.modesCsvFile.empty() ? nullptr : &levels);
    if (!options.modesCsvFile.empty()) {
        const std::string csvProblem = writeModeLevelsCsv(options.modesCsvFile, levels);
        if (!csvProblem.empty()) {
            releaseRenderScene();
            return fail(csvProblem, 1);
        }
        printf("Wrote %s: %zu blocks of %d modes\n", options.modesCsvFile.c_str(),
               levels.size() / renderedModeCount(), renderedModeCount());
    }
    releaseRenderScene();
    const std::string writeProblem =
        writeWavFile(options.outputFile, samples, options.channelCount, options.float32);
    if (!writeProblem.empty()) return fail(writeProblem, 1);
    printf("Wrote %s: %.3f s, %s, %s, %d frames per block\n", options.outputFile.c_str(),
           static_cast<double>(samples.size() / options.channelCount) / 44100.0,
           options.binaural            ? "binaural"
           : options.channelCount == 2 ? "stereo"
                                       : "mono",
           options.rendererType == 1 ? "Modal" : "ZEP", 44100 / options.zepRate);

    if (!options.spectrogramFile.empty()) {
        const std::string spectrogramProblem =
            writeSpectrogram(options.outputFile, options.spectrogramFile);
        if (!spectrogramProblem.empty()) return fail(spectrogramProblem, 1);
        printf("Wrote %s\n", options.spectrogramFile.c_str());
    }
    return 0;
}
