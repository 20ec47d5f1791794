// WAV output of tonwell-render through libsndfile.
#include "tools/render/wav_file.h"

#include <sndfile.h>

std::string writeWavFile(const std::string& fileName, const std::vector<float>& samples,
                         int channelCount, bool float32) {
    SF_INFO info = {};
    info.samplerate = 44100;
    info.channels = channelCount;
    info.format = SF_FORMAT_WAV | (float32 ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16);
    SNDFILE* file = sf_open(fileName.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return fileName + ": " + sf_strerror(nullptr);
    // Full scale +-1 maps to the 16-bit range without wrapping at +1.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const sf_count_t frames = static_cast<sf_count_t>(samples.size() / channelCount);
    const sf_count_t written = sf_writef_float(file, samples.data(), frames);
    std::string problem;
    if (written != frames) problem = fileName + ": " + sf_strerror(file);
    if (sf_close(file) != 0 && problem.empty()) problem = fileName + ": could not be closed";
    return problem;
}
