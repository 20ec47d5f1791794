// The SOFA reader: libmysofa's loader and checks, then the measurements handed to HrtfSet.
#include "sound/sofa_file.h"

#include <mysofa.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

// What libmysofa's error code means, for the message.
const char* mysofaErrorText(int code) {
    switch (code) {
        case MYSOFA_INVALID_FORMAT:
            return "invalid format";
        case MYSOFA_UNSUPPORTED_FORMAT:
            return "unsupported format";
        case MYSOFA_NO_MEMORY:
            return "out of memory";
        case MYSOFA_READ_ERROR:
            return "read error";
        case MYSOFA_INVALID_ATTRIBUTES:
            return "invalid attributes";
        case MYSOFA_INVALID_DIMENSIONS:
            return "invalid dimensions";
        case MYSOFA_INVALID_DIMENSION_LIST:
            return "invalid dimension list";
        case MYSOFA_INVALID_COORDINATE_TYPE:
            return "invalid coordinate type";
        case MYSOFA_ONLY_EMITTER_WITH_ECI_SUPPORTED:
            return "emitters must be given once for every measurement";
        case MYSOFA_ONLY_DELAYS_WITH_IR_OR_MR_SUPPORTED:
            return "delays must be given per receiver or per measurement and receiver";
        case MYSOFA_ONLY_THE_SAME_SAMPLING_RATE_SUPPORTED:
            return "more than one sample rate";
        case MYSOFA_RECEIVERS_WITH_RCI_SUPPORTED:
            return "receiver positions must not vary with the measurement";
        case MYSOFA_RECEIVERS_WITH_CARTESIAN_SUPPORTED:
            return "receiver positions must be cartesian";
        case MYSOFA_INVALID_RECEIVER_POSITIONS:
            return "invalid receiver positions";
        case MYSOFA_ONLY_SOURCES_WITH_MC_SUPPORTED:
            return "source positions must be given per measurement";
    }
    return code == MYSOFA_INTERNAL_ERROR ? "internal error" : "cannot be read";
}

// Frees a loaded file on every way out.
struct LoadedSofa {
    MYSOFA_HRTF* hrtf = nullptr;
    ~LoadedSofa() {
        if (hrtf != nullptr) mysofa_free(hrtf);
    }
};

}  // namespace

std::unique_ptr<HrtfSet> readSofaFile(const std::string& fileName, std::string* problem) {
    auto refuse = [&](const std::string& what) -> std::unique_ptr<HrtfSet> {
        *problem = fileName + ": " + what;
        return nullptr;
    };
    // libmysofa reads anything it is given, a directory included: only regular files go in.
    FILE* probe = fopen(fileName.c_str(), "rb");
    if (probe == nullptr) return refuse(std::string("cannot be opened (") + strerror(errno) + ")");
    const bool readable = fgetc(probe) != EOF;
    fclose(probe);
    if (!readable) return refuse("empty or not a regular file");

    int error = 0;
    LoadedSofa sofa;
    sofa.hrtf = mysofa_load(fileName.c_str(), &error);
    if (sofa.hrtf == nullptr || error != MYSOFA_OK) {
        return refuse(std::string("not a SOFA file libmysofa can read (") + mysofaErrorText(error) +
                      ")");
    }
    MYSOFA_HRTF& h = *sofa.hrtf;
    char conventionKey[] = "SOFAConventions";
    const char* convention = mysofa_getAttribute(h.attributes, conventionKey);
    if (convention == nullptr || strcmp(convention, "SimpleFreeFieldHRIR") != 0) {
        return refuse(std::string("convention ") + (convention ? convention : "(none)") +
                      ", not SimpleFreeFieldHRIR");
    }
    // mysofa_check: dimensions, coordinate types, one emitter, two receivers, one sample rate.
    error = mysofa_check(sofa.hrtf);
    if (error != MYSOFA_OK) return refuse(mysofaErrorText(error));
    if (h.R != 2) return refuse("has " + std::to_string(h.R) + " receivers, not 2 ears");
    if (h.M < 1 || h.N < 1 || h.DataIR.elements != h.M * h.R * h.N) {
        return refuse("its impulse responses do not fill M x R x N values");
    }
    if (h.DataSamplingRate.elements < 1) return refuse("gives no sample rate");
    const double rate = h.DataSamplingRate.values[0];
    if (!(rate >= 44100.0) || !std::isfinite(rate)) {
        char text[96];
        snprintf(text, sizeof text, "sample rate %g Hz, below the output's 44100 Hz", rate);
        return refuse(text);
    }
    // The head frame: view +x, up +z (the convention's defaults).
    if (h.ListenerView.elements >= 3 && h.ListenerUp.elements >= 3) {
        mysofa_tocartesian(sofa.hrtf);
        const float* v = h.ListenerView.values;
        const float* u = h.ListenerUp.values;
        const double vLength = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        const double uLength = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
        if (!(v[0] > 0.999 * vLength) || !(u[2] > 0.999 * uLength)) {
            return refuse("its listener does not look along +x with +z up");
        }
    } else {
        mysofa_tocartesian(sofa.hrtf);
    }
    // Which receiver is the left ear: the one at positive y.
    int left = 0;
    if (h.ReceiverPosition.elements >= 6 &&
        h.ReceiverPosition.values[1] < h.ReceiverPosition.values[4]) {
        left = 1;
    }
    if (h.SourcePosition.elements != 3 * h.M) return refuse("source positions are not M x 3");

    const int M = static_cast<int>(h.M), N = static_cast<int>(h.N);
    std::vector<double> directions(3 * static_cast<size_t>(M));
    std::vector<float> responses(2 * static_cast<size_t>(M) * N);
    std::vector<double> delays(2 * static_cast<size_t>(M), 0.0);
    for (int m = 0; m < M; ++m) {
        const float* p = &h.SourcePosition.values[3 * m];
        if (!(p[0] * p[0] + p[1] * p[1] + p[2] * p[2] > 0.0f)) {
            return refuse("source position " + std::to_string(m) + " is at the head's centre");
        }
        for (int k = 0; k < 3; ++k) directions[3 * m + k] = p[k];
        for (int ear = 0; ear < 2; ++ear) {
            const int receiver = ear == 0 ? left : 1 - left;
            const float* ir = &h.DataIR.values[(static_cast<size_t>(m) * 2 + receiver) * N];
            for (int n = 0; n < N; ++n) {
                if (!std::isfinite(ir[n])) {
                    return refuse("impulse response " + std::to_string(m) +
                                  " holds a value that is not a number");
                }
            }
            memcpy(&responses[(static_cast<size_t>(m) * 2 + ear) * N], ir, sizeof(float) * N);
            // Delays: one per receiver (I x R) or one per measurement and receiver (M x R).
            if (h.DataDelay.elements == 2) {
                delays[2 * m + ear] = h.DataDelay.values[receiver];
            } else if (h.DataDelay.elements == 2 * h.M) {
                delays[2 * m + ear] = h.DataDelay.values[2 * m + receiver];
            }
            if (!std::isfinite(delays[2 * m + ear]) || delays[2 * m + ear] < 0) {
                return refuse("a delay is negative or not a number");
            }
        }
    }
    try {
        return std::unique_ptr<HrtfSet>(
            new HrtfSet(fileName, rate, M, directions.data(), N, responses.data(), delays.data()));
    } catch (const std::bad_alloc&) {
        return refuse("out of memory reading its filters");
    }
}
