// Running the real tonwell-render from the tests and reading back what it wrote.
#pragma once

#include <string>
#include <vector>

// What a run of the renderer printed (standard output and standard error together) and its
// exit code (-1 when it did not exit normally, e.g. on a crash).
struct RenderRun {
    std::string output;
    int exitCode = -1;
};

// Runs tonwell-render with `arguments` (each passed as one word, quoted for the shell).
RenderRun runRenderer(const std::vector<std::string>& arguments);

// The samples of a WAV file (interleaved), its channel count and sample rate; throws when the
// file cannot be read.
struct WavSamples {
    std::vector<float> samples;
    int channels = 0;
    int sampleRate = 0;
    int format = 0;  // libsndfile's format word
};
WavSamples readWav(const std::string& fileName);
