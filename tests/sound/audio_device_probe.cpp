// A small program for the device tests of the audio path: it sets up a ringing three-mode bank
// the way scene loading would, starts the real PortAudio streams (startAudio), strikes, switches
// between mono and stereo (onAudioModeChanged) and ends through exit(), so that the at-exit
// handler stops and closes the streams. It also renders the same strike offline and checks the
// captured audio files against it. Run by tests/sound/audio_device_test.sh.
//
// Usage:
//   tonwell_audio_probe play strike     start mono, strike, stop
//   tonwell_audio_probe play switch     start mono, strike, switch to stereo and back
//   tonwell_audio_probe compare-strike MONO.raw
//   tonwell_audio_probe check-switch MONO.raw STEREO.raw
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/audio_context.h"
#include "app/scene_loading.h"
#include "app/scene_selector.h"
#include "app/startup.h"
#include "geometry/listener_points.h"
#include "sound/audio_block.h"
#include "sound/audio_block_context.h"
#include "sound/audio_device.h"
#include "sound/synthesis_state.h"
#include "ui/window.h"

extern const int sceneSelector = kChairScene;

namespace {

constexpr int kPrimingFrames = 1760;  // zero frames PortAudio writes at each stream start
constexpr int kBlock = 220;
const double kForces[3] = {320.0, -720.0, 1200.0};

// Three slowly decaying modes (bell damping), each radiating as a unit monopole at the object's
// origin; eye at distance 1.3, ears 0.1 to either side; `context` sized for them.
void setUpBank(AudioBlockContext& context) {
    const double frequencies[3] = {523.25, 1318.5, 2637.0};
    allocateModeArrays(3);
    context.allocate(3);
    for (int i = 0; i < 3; ++i) {
        modeOmega[i] = frequencies[i] * twoPi;
        modeStiffness[i] = modeOmega[i] * modeOmega[i];
        double* block = static_cast<double*>(calloc(11, sizeof(double)));
        block[3] = 1.0;
        transferModel.sourceBlocks.push_back(block);
        transferModel.sourceCounts.push_back(1);
        transferModel.waveNumbers.push_back(modeOmega[i] / 343.0);
    }
    transferModel.frequencyCount = 3;
    createResonators(0.75f, 4.68874e-8f);
    publishedListener.store(ListenerPoints{{0.5, 0.0, 1.2}, {0.4, 0.0, 1.2}, {0.6, 0.0, 1.2}});
}

void strike() {
    MutexLock lock(forceMutex);
    for (int i = 0; i < 3; ++i) pendingModalForce[i] += kForces[i];
}

void pause(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

std::vector<float> readFloats(const char* name) {
    std::vector<float> samples;
    FILE* f = fopen(name, "rb");
    if (f == nullptr) {
        printf("cannot open %s\n", name);
        exit(2);
    }
    float buffer[4096];
    size_t n;
    while ((n = fread(buffer, sizeof(float), 4096, f)) > 0)
        samples.insert(samples.end(), buffer, buffer + n);
    fclose(f);
    return samples;
}

// The strike rendered without a device: one silent block (the gains settle at the eye), the
// strike, then `blocks` blocks.
std::vector<float> offlineStrike(int blocks) {
    AudioBlockContext context;
    setUpBank(context);
    std::vector<float> out(kBlock), samples;
    MutexLock lock(synthesisMutex);
    synthesizeMonoBlock(context, out.data(), kBlock);
    strike();
    synthesizeMonoBlock(context, out.data(), kBlock);  // takes the strike at its end
    for (int b = 0; b < blocks; ++b) {
        synthesizeMonoBlock(context, out.data(), kBlock);
        samples.insert(samples.end(), out.begin(), out.end());
    }
    return samples;
}

// Index of the first non-zero sample at or after `from`, or -1.
long firstNonZero(const std::vector<float>& s, long from, int stride = 1) {
    for (long i = from; i < static_cast<long>(s.size()); i += stride) {
        if (s[i] != 0.0f) return i;
    }
    return -1;
}

double rms(const std::vector<float>& s, long from, long count, int stride = 1, int channel = 0) {
    double sum = 0.0;
    for (long i = 0; i < count; ++i) {
        const double v = s[(from + i) * stride + channel];
        sum += v * v;
    }
    return std::sqrt(sum / count);
}

int failures = 0;
void check(bool ok, const std::string& what) {
    printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
    failures += !ok;
}

int compareStrike(const char* monoFile) {
    const std::vector<float> captured = readFloats(monoFile);
    check(static_cast<long>(captured.size()) > kPrimingFrames + 10 * kBlock,
          "the mono capture holds " + std::to_string(captured.size()) + " samples");
    if (failures) return 1;
    const long onset = firstNonZero(captured, 0);
    check(onset >= kPrimingFrames, "the stream starts with PortAudio's " +
                                       std::to_string(kPrimingFrames) + " zero frames and silence");
    check(onset >= 0 && (onset - kPrimingFrames) % kBlock == 0,
          "the strike sounds from a block boundary (sample " + std::to_string(onset) + ")");
    if (onset < 0) return 1;
    const long available = static_cast<long>(captured.size()) - onset;
    const int blocks = static_cast<int>(available / kBlock);
    const std::vector<float> offline = offlineStrike(blocks);
    long differing = 0, firstDifference = -1;
    for (long i = 0; i < blocks * kBlock; ++i) {
        if (memcmp(&captured[onset + i], &offline[i], sizeof(float)) != 0) {
            if (firstDifference < 0) firstDifference = i;
            ++differing;
        }
    }
    check(blocks >= 20, std::to_string(blocks) + " blocks of the strike were captured");
    check(differing == 0, "captured samples equal the offline block samples bit for bit (" +
                              std::to_string(differing) + " differ, first at " +
                              std::to_string(firstDifference) + ")");
    double peak = 0.0;
    for (float v : offline) peak = std::fmax(peak, std::fabs(v));
    check(peak > 0.05 && peak < 1.0,
          "the strike is loud and unclipped (peak " + std::to_string(peak) + ")");
    return failures ? 1 : 0;
}

int checkSwitch(const char* monoFile, const char* stereoFile) {
    const std::vector<float> mono = readFloats(monoFile);
    const std::vector<float> stereo = readFloats(stereoFile);
    const long onset = firstNonZero(mono, 0);
    check(onset >= kPrimingFrames, "mono: silence, then the strike");
    if (onset < 0) return 1;
    // The mono stream was stopped and started again: its second segment begins with another run
    // of priming zeros, right after the ringing of the first.
    long zeroRun = 0, secondStart = -1, firstEnd = -1;
    for (long i = onset; i < static_cast<long>(mono.size()); ++i) {
        if (mono[i] == 0.0f) {
            if (zeroRun == 0) firstEnd = i;
            ++zeroRun;
        } else {
            if (zeroRun >= kPrimingFrames) {
                secondStart = i;
                break;
            }
            zeroRun = 0;
        }
    }
    check(secondStart > 0 && zeroRun == kPrimingFrames,
          "mono: a second segment after " + std::to_string(zeroRun) + " priming zeros");
    check(
        secondStart > 0 && (secondStart - onset) % kBlock == 0 && (firstEnd - onset) % kBlock == 0,
        "mono: both segments hold whole blocks");
    check(static_cast<long>(stereo.size()) > 2 * (kPrimingFrames + 10 * kBlock),
          "stereo: a segment of " + std::to_string(stereo.size() / 2) + " frames");
    if (failures) return 1;
    // The first stereo block ever fades in from the stereo gains' start value 0, so its frame 0
    // is silent and the ringing is heard from frame 1 on.
    const long stereoOnset = firstNonZero(stereo, 0) / 2;
    check(stereoOnset == kPrimingFrames + 1,
          "stereo: the ringing goes on from the second frame after the priming zeros (frame " +
              std::to_string(stereoOnset) + ")");
    const double monoEnd = rms(mono, firstEnd - kBlock, kBlock);
    const double left = rms(stereo, kPrimingFrames + kBlock, kBlock, 2, 0);
    const double right = rms(stereo, kPrimingFrames + kBlock, kBlock, 2, 1);
    const double stereoEnd = rms(stereo, stereo.size() / 2 - kBlock, kBlock, 2, 0);
    const double monoAgain = rms(mono, secondStart, kBlock);
    char line[200];
    snprintf(line, sizeof line,
             "levels carry over: mono end %.4g, stereo start %.4g / %.4g, stereo end %.4g, "
             "mono again %.4g",
             monoEnd, left, right, stereoEnd, monoAgain);
    check(monoEnd > 0.01 && left > 0.5 * monoEnd && left < 2.0 * monoEnd && right > 0.5 * monoEnd &&
              right < 2.0 * monoEnd && monoAgain > 0.5 * stereoEnd && monoAgain < 2.0 * stereoEnd,
          line);
    check(left != right, "stereo: the two ears hear different levels");
    return failures ? 1 : 0;
}

void play(const std::string& scenario) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    atexit(onExit);
    // The program's context, as the at-exit handler reports from it.
    setUpBank(programAudioContext);
    startAudio(programAudioContext);
    pause(0.3);
    strike();
    pause(0.6);
    if (scenario == "switch") {
        channelMode = 1;
        onAudioModeChanged();
        pause(0.5);
        channelMode = 0;
        onAudioModeChanged();
        pause(0.4);
    }
    exit(0);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "play" && argc == 3) play(argv[2]);
    if (command == "compare-strike" && argc == 3) return compareStrike(argv[2]);
    if (command == "check-switch" && argc == 4) return checkSwitch(argv[2], argv[3]);
    fprintf(stderr,
            "usage: %s play strike|switch | compare-strike MONO | check-switch MONO STEREO\n",
            argv[0]);
    return 2;
}
