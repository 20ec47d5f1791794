#include "tests/render/render_test_support.h"

#include <sndfile.h>
#include <sys/wait.h>

#include <cstdio>
#include <stdexcept>

namespace {

std::string shellQuoted(const std::string& word) {
    std::string quoted = "'";
    for (char c : word) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

}  // namespace

RenderRun runRenderer(const std::vector<std::string>& arguments) {
    std::string command = shellQuoted(TONWELL_RENDER_EXECUTABLE);
    for (const std::string& a : arguments) command += " " + shellQuoted(a);
    command += " 2>&1";
    RenderRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

WavSamples readWav(const std::string& fileName) {
    SF_INFO info = {};
    SNDFILE* file = sf_open(fileName.c_str(), SFM_READ, &info);
    if (file == nullptr) throw std::runtime_error("cannot read " + fileName);
    WavSamples wav;
    wav.channels = info.channels;
    wav.sampleRate = info.samplerate;
    wav.format = info.format;
    wav.samples.resize(static_cast<size_t>(info.frames) * info.channels);
    sf_readf_float(file, wav.samples.data(), info.frames);
    sf_close(file);
    return wav;
}
