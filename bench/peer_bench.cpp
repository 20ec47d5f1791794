// Tonwell's modal synthesis against the modal synthesis people reach for today, in one process
// and one run: the same bank of modes (40 Hz to 18 kHz, the bell's Rayleigh damping), rendered
// in blocks of 220 frames with a struck pulse every 100 blocks, by
//   Tonwell   the audio block code the callbacks run (sound/audio_block.h, "Modal" renderer, mono)
//   literal   the plain per-mode loop (bench/literal_block.h)
//   STK       a bank of stk::BiQuad two-pole resonators (Debian libstk-dev), block by block
//   Faust     a modal bank of pm.modeFilter resonators written in Faust (bench/peer_modal_bank.dsp,
//             compiled to C++ with -double when this program is built), 100 modes per instance,
//             built with the project's flags and again with -O3 -mavx2 -mfma
// for 100, 1,000 and 10,000 modes. Prints ns per mode-sample (processor time, the best of several
// rounds) and each one's ratio to Tonwell. Before timing, it checks that every peer rings at
// Tonwell's frequencies and decay rates: the two-pole recursion fitted to each peer's impulse
// response for a few modes against the one fitted to Tonwell's resonator. Then it reports the
// cost of the acoustic transfer per source (Tonwell only: the peers have no transfer).
//
//   build/bench/tonwell_peer_bench        (about a minute)
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/scene_loading.h"
#include "bench/literal_block.h"
#include "geometry/listener_points.h"
#include "geometry/object_pose.h"
#include "sound/audio_block.h"
#include "sound/audio_block_context.h"
#include "sound/synthesis_state.h"

// STK's resonator.
#include <stk/BiQuad.h>

#include "peer_bank_constants.h"
#include "peer_faust_bank.h"

extern const int sceneSelector = 1;

int peerBankFirst = 0;
int peerBankTotal = 100;
int peerBankSolo = -1;
double peerBankMassDamping = 0.0;
double peerBankStiffnessDamping = 0.0;

namespace {

constexpr int kFrames = 220;
constexpr int kFaustModes = 100;   // modes per Faust instance (M in peer_modal_bank.dsp)
constexpr int kPulseFrames = 10;   // the impact duration
constexpr int kStrikeEvery = 100;  // blocks between strikes
constexpr double kTrueTwoPi = 6.283185307179586;
// The bell's damping, as single-precision preset values.
const double kMassDamping = 0.75f;
const double kStiffnessDamping = 4.68874e-8f;

double modeHz(int i, int total) { return 40.0 * std::pow(450.0, (i + 0.5) / total); }

double threadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + 1e-9 * t.tv_nsec;
}

// [SECTION] The four engines

// The blocks' context of Tonwell's engine.
AudioBlockContext tonwellContext;

// Tonwell's bank in the program's own state: "Modal" renderer with gain 1 (eye 1 m from the
// object), transfer entries without sources (the transfer is timed on its own below).
void setUpTonwell(int modes) {
    for (double* block : transferModel.sourceBlocks) free(block);
    transferModel = TransferModel();
    allocateModeArrays(modes);
    tonwellContext.allocate(modes);
    for (int i = 0; i < modes; ++i) {
        modeOmega[i] = modeHz(i, modes) * twoPi;
        modeStiffness[i] = modeOmega[i] * modeOmega[i];
        transferModel.sourceBlocks.push_back(static_cast<double*>(malloc(sizeof(double) * 11)));
        transferModel.sourceCounts.push_back(0);
        transferModel.waveNumbers.push_back(modeOmega[i] / 343.0);
    }
    transferModel.frequencyCount = modes;
    createResonators(kMassDamping, kStiffnessDamping);
    modalRendererGain = 1.0;
    rendererType = 1;
    impactDuration = kPulseFrames;
    publishedObjectPose.store(identityPose());
    publishedListener.store(ListenerPoints{{0, 0, 1}, {-0.1, 0, 1}, {0.1, 0, 1}});
}

// The modal force of every mode for one strike: small enough that the mix stays unclipped.
double strikeForce(int mode, int modes) {
    return 1e3 * ((mode * 7919) % 13 - 6) / std::sqrt(static_cast<double>(modes));
}

struct TonwellEngine {
    bool literal;
    std::vector<float> out = std::vector<float>(kFrames);
    void block(long b) {
        if (b % kStrikeEvery == 0) {
            MutexLock lock(forceMutex);
            for (int i = 0; i < totalModeCount; ++i) {
                pendingModalForce[i] += strikeForce(i, totalModeCount);
            }
        }
        MutexLock lock(synthesisMutex);
        literal ? literalMonoBlock(tonwellContext, out.data(), kFrames)
                : synthesizeMonoBlock(tonwellContext, out.data(), kFrames);
    }
};

// The excitation the peers share: a rectangular pulse of kPulseFrames samples at the start of
// every kStrikeEvery-th block.
void pulseBlock(long b, double* input) {
    for (int i = 0; i < kFrames; ++i) input[i] = (b % kStrikeEvery == 0 && i < kPulseFrames);
}

// A two-pole resonator per mode with Tonwell's pole: radius exp(-xi omega dt) at the damped
// frequency; modes mixed with per-mode gains, filter by filter over the block.
struct StkEngine {
    std::vector<stk::BiQuad> filters;
    std::vector<double> gains;
    stk::StkFrames input{kFrames, 1}, ringing{kFrames, 1};
    std::vector<double> mix = std::vector<double>(kFrames);

    StkEngine(int modes, int solo) : filters(modes), gains(modes) {
        stk::Stk::setSampleRate(44100.0);
        for (int i = 0; i < modes; ++i) {
            const ModalResonator r(1.0,
                                   kStiffnessDamping * stiffnessOfMode(i, modes) + kMassDamping,
                                   stiffnessOfMode(i, modes), audioTimeStep);
            filters[i].setResonance(r.dampedOmega / kTrueTwoPi, std::exp(r.poleReal / 44100.0));
            gains[i] = solo < 0 ? strikeForce(i, modes) : solo == i ? 1.0 : 0.0;
        }
    }
    static double stiffnessOfMode(int i, int modes) {
        const double omega = modeHz(i, modes) * twoPi;
        return omega * omega;
    }
    void block(long b) {
        double x[kFrames];
        pulseBlock(b, x);
        for (int i = 0; i < kFrames; ++i) input[i] = x[i];
        std::fill(mix.begin(), mix.end(), 0.0);
        for (size_t k = 0; k < filters.size(); ++k) {
            filters[k].tick(input, ringing);
            const double g = gains[k];
            for (int i = 0; i < kFrames; ++i) mix[i] += g * ringing[i];
        }
    }
};

// Instances of the Faust bank, 100 modes each, summed.
struct FaustEngine {
    std::vector<std::unique_ptr<PeerFaustBank>> banks;
    std::vector<double> input = std::vector<double>(kFrames), part = std::vector<double>(kFrames),
                        mix = std::vector<double>(kFrames);

    FaustEngine(int modes, int solo, bool avx2) {
        peerBankTotal = modes;
        peerBankSolo = solo;
        peerBankMassDamping = kMassDamping;
        peerBankStiffnessDamping = kStiffnessDamping;
        for (int first = 0; first < modes; first += kFaustModes) {
            peerBankFirst = first;
            banks.push_back(avx2 ? makeFaustBankAvx2() : makeFaustBankBaseline());
        }
    }
    void block(long b) {
        pulseBlock(b, input.data());
        std::fill(mix.begin(), mix.end(), 0.0);
        for (auto& bank : banks) {
            bank->compute(kFrames, input.data(), part.data());
            for (int i = 0; i < kFrames; ++i) mix[i] += part[i];
        }
    }
};

// [SECTION] Impulse responses: frequency and decay of the ringing

struct Ringing {
    double hz, decayPerSecond;
};

// Fits h[n] = a1 h[n-1] + a2 h[n-2] by least squares over n in [from, h.size()); the two poles
// R e^{+-i theta} give a1 = 2 R cos theta, a2 = -R^2, so the ringing is at theta fs / 2 pi Hz and
// decays as e^{-(-ln R) fs t}.
Ringing fitRinging(const std::vector<double>& h, size_t from) {
    double s11 = 0, s12 = 0, s22 = 0, r1 = 0, r2 = 0;
    for (size_t n = from; n < h.size(); ++n) {
        s11 += h[n - 1] * h[n - 1];
        s12 += h[n - 1] * h[n - 2];
        s22 += h[n - 2] * h[n - 2];
        r1 += h[n] * h[n - 1];
        r2 += h[n] * h[n - 2];
    }
    const double det = s11 * s22 - s12 * s12;
    const double a1 = (r1 * s22 - r2 * s12) / det, a2 = (s11 * r2 - s12 * r1) / det;
    const double R = std::sqrt(-a2);
    return Ringing{std::acos(a1 / (2 * R)) * 44100.0 / kTrueTwoPi, -std::log(R) * 44100.0};
}

bool haveAvx2() { return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"); }

// Checks the ringing of modes `modes` of a bank of `total` in every peer against Tonwell's
// resonator. Returns false on a mismatch.
bool checkRinging(int total, const std::vector<int>& modes) {
    const int peers = haveAvx2() ? 3 : 2;
    printf(
        "Impulse responses, bank of %d modes: ringing fitted to 4000 samples after the pulse;\n"
        "relative differences of each peer's frequency and decay rate from Tonwell's\n",
        total);
    printf(
        "| mode | Tonwell Hz | Tonwell decay 1/s | STK Hz | STK decay | Faust Hz | Faust decay "
        "|%s\n|---|---|---|---|---|---|---|%s\n",
        peers == 3 ? " Faust AVX2 Hz | Faust AVX2 decay |" : "", peers == 3 ? "---|---|" : "");
    bool ok = true;
    const int length = 4000 + 2 * kFrames;
    for (int m : modes) {
        // Tonwell: the resonator the block code advances, struck for kPulseFrames samples.
        const double omega = modeHz(m, total) * twoPi;
        ModalResonator r(1.0, kStiffnessDamping * omega * omega + kMassDamping, omega * omega,
                         audioTimeStep);
        std::vector<double> tonwell;
        r.force = 1.0;
        for (int n = 0; n < length; ++n) {
            if (n == kPulseFrames) r.force = 0.0;
            r.advance();
            tonwell.push_back(r.displacement);
        }
        std::vector<double> responses[3];
        StkEngine stkBank(total, m);
        FaustEngine faustBank(total, m, false);
        std::unique_ptr<FaustEngine> faustAvx2(peers == 3 ? new FaustEngine(total, m, true)
                                                          : nullptr);
        for (long b = 0; b * kFrames < length; ++b) {
            stkBank.block(b);
            faustBank.block(b);
            responses[0].insert(responses[0].end(), stkBank.mix.begin(), stkBank.mix.end());
            responses[1].insert(responses[1].end(), faustBank.mix.begin(), faustBank.mix.end());
            if (faustAvx2) {
                faustAvx2->block(b);
                responses[2].insert(responses[2].end(), faustAvx2->mix.begin(),
                                    faustAvx2->mix.end());
            }
        }
        const size_t from = kPulseFrames + 3;
        const Ringing t = fitRinging(tonwell, from);
        printf("| %d | %.6f | %.6f |", m, t.hz, t.decayPerSecond);
        for (int p = 0; p < peers; ++p) {
            responses[p].resize(length);
            const Ringing f = fitRinging(responses[p], from);
            const double hzError = f.hz / t.hz - 1,
                         decayError = f.decayPerSecond / t.decayPerSecond - 1;
            printf(" %.1e | %.1e |", hzError, decayError);
            // The fit of a slowly decaying low mode over 0.1 s pins its decay to about 1e-4.
            if (!(std::fabs(hzError) < 1e-6 && std::fabs(decayError) < 1e-3)) ok = false;
        }
        printf("\n");
        // Tonwell's fit against the resonator's own pole: omega_d / 2 pi and xi omega.
        const double exactHz = r.dampedOmega / kTrueTwoPi, exactDecay = -r.poleReal;
        if (std::fabs(t.hz / exactHz - 1) > 1e-6 ||
            std::fabs(t.decayPerSecond / exactDecay - 1) > 1e-3) {
            printf("  Tonwell's fit is off its own pole (%.9g Hz, %.9g 1/s)\n", exactHz,
                   exactDecay);
            ok = false;
        }
    }
    printf("%s\n\n", ok ? "Every peer rings at Tonwell's frequencies and decay rates."
                        : "MISMATCH: a peer rings at other frequencies or decay rates.");
    return ok;
}

// [SECTION] Timing

template <typename Engine>
double nsPerModeSample(Engine& engine, int modes, long blocks, long* firstBlock) {
    const double start = threadSeconds();
    for (long b = 0; b < blocks; ++b) engine.block((*firstBlock)++);
    const double seconds = threadSeconds() - start;
    return 1e9 * seconds / (static_cast<double>(modes) * kFrames * blocks);
}

// ns per source of one evaluateTransfer over `modes` entries of `sources` random sources each.
double transferNsPerSource(int modes, int sources) {
    for (double* block : transferModel.sourceBlocks) free(block);
    transferModel = TransferModel();
    std::mt19937 random(modes + sources);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int i = 0; i < modes; ++i) {
        double* block = static_cast<double*>(malloc(sizeof(double) * 11 * sources));
        for (int s = 0; s < sources; ++s) {
            for (int v = 0; v < 3; ++v) block[11 * s + v] = 0.1 * u(random);
            for (int v = 3; v < 11; ++v) block[11 * s + v] = u(random);
        }
        transferModel.sourceBlocks.push_back(block);
        transferModel.sourceCounts.push_back(sources);
        transferModel.waveNumbers.push_back(modeHz(i, modes) * twoPi / 343.0);
    }
    transferModel.frequencyCount = modes;
    std::vector<double> out(modes);
    const double position[3] = {0.5, 0.3, 1.0};
    const int calls = std::max(10, static_cast<int>(2e7 / (static_cast<double>(modes) * sources)));
    double best = 1e300;
    for (int round = 0; round < 3; ++round) {
        const double start = threadSeconds();
        for (int c = 0; c < calls; ++c) {
            transferModel.evaluateTransfer(position, out.data(), modes,
                                           tonwellContext.useAvx2Lanes);
        }
        best = std::min(best, threadSeconds() - start);
    }
    volatile double sink = out[0];
    (void)sink;
    return 1e9 * best / (static_cast<double>(calls) * modes * sources);
}

}  // namespace

int main() {
    const bool ringingOk = checkRinging(1000, {7, 500, 993}) && checkRinging(100, {0, 42, 99});
    const bool avx2 = haveAvx2();

    printf(
        "Synthesis, blocks of %d frames, ns per mode-sample (processor time, best of 5 "
        "rounds)\n",
        kFrames);
    printf(
        "| modes | Tonwell | literal loop | STK BiQuad | Faust modeFilter |%s literal / Tonwell "
        "| STK / Tonwell | Faust / Tonwell |%s\n|---|---|---|---|---|%s---|---|---|%s\n",
        avx2 ? " Faust -O3 -mavx2 |" : "", avx2 ? " Faust AVX2 / Tonwell |" : "",
        avx2 ? "---|" : "", avx2 ? "---|" : "");
    for (int modes : {100, 1000, 10000}) {
        setUpTonwell(modes);
        TonwellEngine tonwell{false}, literal{true};
        StkEngine stk(modes, -1);
        FaustEngine faust(modes, -1, false);
        std::unique_ptr<FaustEngine> faustAvx2(avx2 ? new FaustEngine(modes, -1, true) : nullptr);
        // About 3e7 mode-samples (a few tens of ms) per engine and round.
        const long blocks = std::max(20L, static_cast<long>(3e7 / (modes * kFrames)));
        long next[5] = {0, 0, 0, 0, 0};
        double best[5] = {1e300, 1e300, 1e300, 1e300, 1e300};
        for (int round = 0; round < 6; ++round) {
            // Rounds interleave the engines, so a busy moment of the machine hits them alike; the
            // first round warms the caches and is not counted.
            const double t[5] = {
                nsPerModeSample(tonwell, modes, blocks, &next[0]),
                nsPerModeSample(literal, modes, blocks, &next[1]),
                nsPerModeSample(stk, modes, blocks, &next[2]),
                nsPerModeSample(faust, modes, blocks, &next[3]),
                faustAvx2 ? nsPerModeSample(*faustAvx2, modes, blocks, &next[4]) : 0.0};
            if (round == 0) continue;
            for (int e = 0; e < 5; ++e) best[e] = std::min(best[e], t[e]);
        }
        printf("| %d | %.3f | %.3f | %.3f | %.3f |", modes, best[0], best[1], best[2], best[3]);
        if (avx2) printf(" %.3f |", best[4]);
        printf(" %.2f | %.2f | %.2f |", best[1] / best[0], best[2] / best[0], best[3] / best[0]);
        if (avx2) printf(" %.2f |", best[4] / best[0]);
        printf("\n");
        fflush(stdout);
    }

    printf("\nAcoustic transfer (Tonwell only), evaluated once per block per channel\n");
    printf(
        "| modes | sources per mode | ns per source | per 220-frame block, mono |\n"
        "|---|---|---|---|\n");
    for (int modes : {100, 1000}) {
        for (int sources : {1, 20, 80}) {
            const double ns = transferNsPerSource(modes, sources);
            printf("| %d | %d | %.2f | %.1f us |\n", modes, sources, ns,
                   ns * modes * sources * 1e-3);
        }
    }
    return ringingOk ? 0 : 1;
}
