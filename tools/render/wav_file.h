// Writing the rendered samples to a WAV file with libsndfile: 44100 Hz, one or two channels,
// 32-bit float or 16-bit PCM. Used by tonwell-render after the last block.
#pragma once

#include <string>
#include <vector>

// Writes `samples` (frames * channelCount interleaved values, full scale +-1) to `fileName` as a
// 44100 Hz WAV file, 32-bit float when `float32` is true, else 16-bit PCM (libsndfile rounds and
// clips). Returns an empty string on success, otherwise "<file>: <libsndfile's reason>".
std::string writeWavFile(const std::string& fileName, const std::vector<float>& samples,
                         int channelCount, bool float32);
