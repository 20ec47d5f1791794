// Loading the transfer model from its list and matrix files, and evaluating the multipole sources
// at a listener point.
#include "sound/transfer_model.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "geometry/dense_matrix.h"
#include "sound/vector_lanes.h"

namespace {

constexpr int kNameBufferSize = 4096;
constexpr int kSourceRecordSize = 11;

}  // namespace

TransferModel loadTransferModel(const char* listFileName) {
    TransferModel model;
    FILE* list = nullptr;
    openFileOrExit(listFileName, &list, "r");
    long totalSources = 0;
    char line[kNameBufferSize];
    char name[kNameBufferSize];
    int lineNumber = 0;
    while (fgets(line, kNameBufferSize, list) != nullptr) {
        ++lineNumber;
        size_t length = strlen(line);
        // fgets stops after 4095 characters: a longer line would otherwise be read as two names.
        if (length == kNameBufferSize - 1 && line[length - 1] != '\n' && !feof(list)) {
            printf("Error: line %d of %s names a file longer than %d characters.\n", lineNumber,
                   listFileName, kNameBufferSize - 1);
            exit(1);
        }
        // Text-mode reading: a carriage return and line feed pair is one line feed.
        if (length >= 2 && line[length - 2] == '\r' && line[length - 1] == '\n') {
            line[length - 2] = '\n';
            line[length - 1] = '\0';
            --length;
        }
        // The last character of the line (its line feed) gives way to the terminating zero, also
        // when the last line of the file has no line feed.
        if (length > 0) line[length - 1] = '\0';
        const char* prefix = line;
        if (strlen(prefix) + strlen(".sources") >= static_cast<size_t>(kNameBufferSize)) {
            printf("Error: line %d of %s names a file longer than %d characters.\n", lineNumber,
                   listFileName, kNameBufferSize - 1);
            exit(1);
        }

        int rows = 0, columns = 0;
        double* elements = nullptr;
        snprintf(name, sizeof name, "%s.sources", prefix);
        loadDenseMatrixOrExit(name, &rows, &columns, &elements);
        checkEqualOrExit(rows, kSourceRecordSize, 1);
        model.sourceBlocks.push_back(elements);
        model.sourceCounts.push_back(columns);
        totalSources += columns;

        snprintf(name, sizeof name, "%s.k", prefix);
        loadDenseMatrixOrExit(name, &rows, &columns, &elements);
        checkEqualOrExit(rows, 1, 2);
        checkEqualOrExit(columns, 1, 3);
        model.waveNumbers.push_back(elements[0]);
        free(elements);
    }
    fclose(list);
    model.frequencyCount = static_cast<int>(model.sourceBlocks.size());
    printf("Num frequencies: %d . Total num sources: %ld\n", model.frequencyCount, totalSources);
    return model;
}

namespace {

// Largest k r whose sine and cosine the lane reduction gives to full accuracy; beyond it the
// library's sin and cos take over.
constexpr double kLargestLaneArgument = 1e5;

// The transfer of entries 0 .. count-1, four sources at a time. For each source, with
// d = L - O, r = |d| and x = k r:
//   h0(x) = j0 - i y0 = (sin x + i cos x) / x
//   h1(x) = j1 - i y1 = (sin x / x - cos x) / x + i (cos x / x + sin x) / x
// (spherical Hankel functions of the second kind), and with the polar axis along z,
// cos(theta) = dz / r and sin(theta) e^{-+i phi} = (dx -+ i dy) / r, so that the order-1 terms
//   a1 h1 cos(theta) + a2 h1 sin(theta) e^{-i phi} - a3 h1 sin(theta) e^{+i phi}
// are h1 (a1 dz + a2 (dx - i dy) - a3 (dx + i dy)) / r. This form needs no azimuth: on a
// source's vertical axis (rho = 0) it gives the limit from beside the axis. A source at the
// listener (r = 0) is left out: its field is singular there.
__attribute__((always_inline)) inline void evaluateEntries(const TransferModel& model,
                                                           const double position[3], double* out,
                                                           int count) {
    constexpr int W = 4;
    for (int i = 0; i < count; ++i) {
        const double k = model.waveNumbers[i];
        const double* block = model.sourceBlocks[i];
        const int n = model.sourceCounts[i];
        ModeLanes sumRe = {0, 0, 0, 0}, sumIm = {0, 0, 0, 0};
        for (int j = 0; j < n; j += W) {
            // Source records j .. j+3, the missing ones of the last group repeating record j.
            const double* p0 = block + kSourceRecordSize * j;
            const double* p1 = j + 1 < n ? p0 + kSourceRecordSize : p0;
            const double* p2 = j + 2 < n ? p0 + 2 * kSourceRecordSize : p0;
            const double* p3 = j + 3 < n ? p0 + 3 * kSourceRecordSize : p0;
            const IndexLanes present = {-1, j + 1 < n ? -1 : 0, j + 2 < n ? -1 : 0,
                                        j + 3 < n ? -1 : 0};
            ModeLanes v[kSourceRecordSize] = {};
#pragma GCC unroll 11
            for (int e = 0; e < kSourceRecordSize; ++e)
                v[e] = ModeLanes{p0[e], p1[e], p2[e], p3[e]};
            const ModeLanes dx = position[0] - v[0];
            const ModeLanes dy = position[1] - v[1];
            const ModeLanes dz = position[2] - v[2];
            const ModeLanes r2 = dx * dx + dy * dy + dz * dz;
            const ModeLanes r = {std::sqrt(r2[0]), std::sqrt(r2[1]), std::sqrt(r2[2]),
                                 std::sqrt(r2[3])};
            const IndexLanes live = present & (r > 0.0);
            const ModeLanes rLive = live ? r : 1.0;
            const ModeLanes invR = 1.0 / rLive;
            const ModeLanes x = k * rLive;
            const ModeLanes invX = 1.0 / x;
            ModeLanes s, c;
            sineCosineLanes(x, &s, &c);
            // Rare: arguments beyond the lane reduction's range (or not numbers).
            const IndexLanes far = !(x * x <= kLargestLaneArgument * kLargestLaneArgument);
            if ((far[0] | far[1] | far[2] | far[3]) != 0) {
                for (int l = 0; l < W; ++l) {
                    if (far[l]) {
                        s[l] = std::sin(x[l]);
                        c[l] = std::cos(x[l]);
                    }
                }
            }
            const ModeLanes h0Re = s * invX, h0Im = c * invX;
            const ModeLanes h1Re = (h0Re - c) * invX, h1Im = (h0Im + s) * invX;
            // a0, a1, a2, a3 as (re, im) pairs in v[3 .. 10].
            const ModeLanes angularRe =
                (v[5] * dz + (v[7] * dx + v[8] * dy) - (v[9] * dx - v[10] * dy)) * invR;
            const ModeLanes angularIm =
                (v[6] * dz + (v[8] * dx - v[7] * dy) - (v[10] * dx + v[9] * dy)) * invR;
            // a0 h0 + h1 (angular part)
            const ModeLanes termRe =
                v[3] * h0Re - v[4] * h0Im + h1Re * angularRe - h1Im * angularIm;
            const ModeLanes termIm =
                v[3] * h0Im + v[4] * h0Re + h1Re * angularIm + h1Im * angularRe;
            const ModeLanes zero = {0, 0, 0, 0};
            sumRe += live ? termRe : zero;
            sumIm += live ? termIm : zero;
        }
        const double re = (sumRe[0] + sumRe[1]) + (sumRe[2] + sumRe[3]);
        const double im = (sumIm[0] + sumIm[1]) + (sumIm[2] + sumIm[3]);
        const double magnitude = std::sqrt(re * re + im * im);
        // Right next to a source h1 ~ 1/x^2 overflows, and coefficients may be non-finite; the
        // audio path must never see NaN or infinity.
        out[i] = std::isfinite(magnitude) ? magnitude : 0.0;
    }
}

void evaluateBaseline(const TransferModel& model, const double position[3], double* out,
                      int count) {
    evaluateEntries(model, position, out, count);
}

#if defined(__x86_64__) && defined(__GNUC__)
#define TONWELL_HAVE_AVX2_TRANSFER 1
__attribute__((target("avx2"))) void evaluateAvx2(const TransferModel& model,
                                                  const double position[3], double* out,
                                                  int count) {
    evaluateEntries(model, position, out, count);
}
#endif

}  // namespace

void TransferModel::evaluateTransfer(const double position[3], double* out, int count) const {
    if (count < 0 || count > frequencyCount) count = frequencyCount;
#ifdef TONWELL_HAVE_AVX2_TRANSFER
    if (useAvx2Lanes) {
        evaluateAvx2(*this, position, out, count);
        return;
    }
#endif
    evaluateBaseline(*this, position, out, count);
}
