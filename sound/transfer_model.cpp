// Loading the transfer model from its list and matrix files, and evaluating the multipole sources
// at a listener point.
#include "sound/transfer_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__SSE2__)
#include <immintrin.h>
#endif

#include "geometry/dense_matrix.h"
#include "platform/input_exit.h"
#include "sound/vector_lanes.h"

namespace {

constexpr int kNameBufferSize = 4096;
constexpr int kSourceRecordSize = 11;

// What loading holds while it reads: the open list, the source blocks read so far and the ".k"
// block being checked, released when loading ends early. The program's exit(1) never unwinds, so
// this matters only where bad input throws (the fuzzing build's InputExit).
struct LoadingState {
    FILE* list = nullptr;
    std::vector<double*>* blocks = nullptr;
    double* waveNumberBlock = nullptr;
    ~LoadingState() {
        if (list != nullptr) fclose(list);
        free(waveNumberBlock);
        if (blocks == nullptr) return;
        for (double* block : *blocks) free(block);
        blocks->clear();
    }
};

}  // namespace

TransferModel loadTransferModel(const char* listFileName, const char* baseDirectory) {
    TransferModel model;
    FILE* list = nullptr;
    openFileOrExit(listFileName, &list, "r");
    LoadingState loading;
    loading.list = list;
    loading.blocks = &model.sourceBlocks;
    long totalSources = 0;
    char line[kNameBufferSize];
    char name[kNameBufferSize];
    int lineNumber = 0;
    while (fgets(line, kNameBufferSize, list) != nullptr) {
        ++lineNumber;
        size_t length = strlen(line);
        // fgets stops after 4095 characters: a longer line would otherwise be read as two names.
        if (length == kNameBufferSize - 1 && line[length - 1] != '\n' && !feof(list)) {
            printInputMessage(stdout,
                              "Error: line %d of %s names a file longer than %d characters.\n",
                              lineNumber, listFileName, kNameBufferSize - 1);
            exitOnBadInput(1);
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
        // The prefix names its files relative to the working directory, or to baseDirectory.
        char prefix[kNameBufferSize];
        const bool prefixFits =
            baseDirectory == nullptr
                ? snprintf(prefix, sizeof prefix, "%s", line) < kNameBufferSize
                : snprintf(prefix, sizeof prefix, "%s/%s", baseDirectory, line) < kNameBufferSize;
        if (!prefixFits ||
            strlen(prefix) + strlen(".sources") >= static_cast<size_t>(kNameBufferSize)) {
            printInputMessage(stdout,
                              "Error: line %d of %s names a file longer than %d characters.\n",
                              lineNumber, listFileName, kNameBufferSize - 1);
            exitOnBadInput(1);
        }

        int rows = 0, columns = 0;
        double* elements = nullptr;
        snprintf(name, sizeof name, "%s.sources", prefix);
        loadDenseMatrixOrExit(name, &rows, &columns, &elements);
        model.sourceBlocks.push_back(elements);
        checkEqualOrExit(rows, kSourceRecordSize, 1);
        model.sourceCounts.push_back(columns);
        totalSources += columns;

        snprintf(name, sizeof name, "%s.k", prefix);
        loadDenseMatrixOrExit(name, &rows, &columns, &loading.waveNumberBlock);
        checkEqualOrExit(rows, 1, 2);
        checkEqualOrExit(columns, 1, 3);
        model.waveNumbers.push_back(loading.waveNumberBlock[0]);
        free(loading.waveNumberBlock);
        loading.waveNumberBlock = nullptr;
    }
    // Loaded: the model keeps its blocks.
    loading.blocks = nullptr;
    model.frequencyCount = static_cast<int>(model.sourceBlocks.size());
    double sum[3] = {0, 0, 0};
    for (int i = 0; i < model.frequencyCount; ++i) {
        for (int j = 0; j < model.sourceCounts[i]; ++j) {
            for (int k = 0; k < 3; ++k) sum[k] += model.sourceBlocks[i][kSourceRecordSize * j + k];
        }
    }
    if (totalSources > 0) {
        for (int k = 0; k < 3; ++k) model.centre[k] = sum[k] / static_cast<double>(totalSources);
    }
    printInputMessage(stdout, "Num frequencies: %d . Total num sources: %ld\n",
                      model.frequencyCount, totalSources);
    return model;
}

// [SECTION] The literal evaluation

namespace {

struct Complex {
    double re, im;
};

inline Complex operator*(Complex a, Complex b) {
    return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}
inline Complex operator*(Complex a, double s) { return {a.re * s, a.im * s}; }
inline Complex operator+(Complex a, Complex b) { return {a.re + b.re, a.im + b.im}; }
inline Complex operator-(Complex a, Complex b) { return {a.re - b.re, a.im - b.im}; }

}  // namespace

namespace {

// The complex pressure of entry i at `position`: the plain sum over its sources, in file order,
// of a0 h0 + a1 h1 cos(theta) + a2 h1 sin(theta) e^{-i phi} - a3 h1 sin(theta) e^{+i phi}.
Complex literalPressure(const TransferModel& model, int i, const double position[3]) {
    const double k = model.waveNumbers[i];
    Complex sum = {0.0, 0.0};
    const double* source = model.sourceBlocks[i];
    for (int j = 0; j < model.sourceCounts[i]; ++j, source += kSourceRecordSize) {
        const double dx = position[0] - source[0];
        const double dy = position[1] - source[1];
        const double dz = position[2] - source[2];
        const double rho = std::sqrt(dx * dx + dy * dy);
        const double r = std::sqrt(rho * rho + dz * dz);
        // A source at the listener: its field is singular there and is left out.
        if (r == 0.0) continue;
        const double cosTheta = dz / r, sinTheta = rho / r;
        // On the source's vertical axis the azimuth is undefined; phi = 0 there, and the terms
        // that carry it vanish with sin(theta) = 0, the limit from beside the axis.
        const double cosPhi = rho == 0.0 ? 1.0 : dx / rho;
        const double sinPhi = rho == 0.0 ? 0.0 : dy / rho;
        const double x = k * r;
        const double s = std::sin(x), c = std::cos(x);
        // Spherical Hankel functions of the second kind, h_n = j_n - i y_n.
        const Complex h0 = {s / x, c / x};
        const Complex h1 = {(s / x - c) / x, (c / x + s) / x};
        const Complex a0 = {source[3], source[4]}, a1 = {source[5], source[6]};
        const Complex a2 = {source[7], source[8]}, a3 = {source[9], source[10]};
        const Complex toMinusPhi = {cosPhi, -sinPhi}, toPlusPhi = {cosPhi, sinPhi};
        sum = sum + a0 * h0 + a1 * h1 * cosTheta + a2 * h1 * toMinusPhi * sinTheta -
              a3 * h1 * toPlusPhi * sinTheta;
    }
    return sum;
}

}  // namespace

void TransferModel::evaluateTransferLiteral(const double position[3], double* out,
                                            int count) const {
    if (count < 0 || count > frequencyCount) count = frequencyCount;
    for (int i = 0; i < count; ++i) {
        const Complex sum = literalPressure(*this, i, position);
        const double magnitude = std::sqrt(sum.re * sum.re + sum.im * sum.im);
        // Right next to a source h1 ~ 1/x^2 overflows, and coefficients may be non-finite; the
        // audio path must never see NaN or infinity.
        out[i] = std::isfinite(magnitude) ? magnitude : 0.0;
    }
}

void TransferModel::evaluateTransferPressure(const double position[3], double* pressure,
                                             int count) const {
    if (count < 0 || count > frequencyCount) count = frequencyCount;
    for (int i = 0; i < count; ++i) {
        const Complex sum = literalPressure(*this, i, position);
        const bool finite = std::isfinite(sum.re) && std::isfinite(sum.im);
        pressure[2 * i] = finite ? sum.re : 0.0;
        pressure[2 * i + 1] = finite ? sum.im : 0.0;
    }
}

// [SECTION] The vectorised evaluation

namespace {

// Largest k r whose sine and cosine the lane reduction gives to full accuracy; beyond it the
// library's sin and cos take over.
constexpr double kLargestLaneArgument = 1e5;

// The lane operations that have no portable vector form: square root and "any lane set". The
// AVX2 ones carry the target attribute and are inlined once the loop is inlined into the AVX2
// build (always_inline would be refused across the differing targets).
struct BaselineLaneOps {
    __attribute__((always_inline)) static inline void squareRoot(const ModeLanes& x,
                                                                 ModeLanes* root) {
#if defined(__SSE2__)
        __m128d part[2];
        memcpy(part, &x, sizeof part);
        part[0] = _mm_sqrt_pd(part[0]);
        part[1] = _mm_sqrt_pd(part[1]);
        memcpy(root, part, sizeof part);
#else
        for (int l = 0; l < 4; ++l) (*root)[l] = std::sqrt(x[l]);
#endif
    }
    __attribute__((always_inline)) static inline bool anyLane(const IndexLanes& mask) {
        return ((mask[0] | mask[1]) | (mask[2] | mask[3])) != 0;
    }
};

#if defined(__x86_64__) && defined(__GNUC__)
#define TONWELL_HAVE_AVX2_TRANSFER 1
struct Avx2LaneOps {
    __attribute__((target("avx2"))) static inline void squareRoot(const ModeLanes& x,
                                                                  ModeLanes* root) {
        *root = (ModeLanes)_mm256_sqrt_pd((__m256d)x);
    }
    __attribute__((target("avx2"))) static inline bool anyLane(const IndexLanes& mask) {
        return _mm256_movemask_pd((__m256d)mask) != 0;
    }
};
#endif

// Elements first .. first+3 of the four source records p[0 .. 3], as four lanes each: four
// unaligned loads and a 4 x 4 transpose.
__attribute__((always_inline)) inline void transposeRecords(const double* const p[4], int first,
                                                            ModeLanes* v) {
    ModeLanes row[4];
    memcpy(&row[0], p[0] + first, sizeof(ModeLanes));
    memcpy(&row[1], p[1] + first, sizeof(ModeLanes));
    memcpy(&row[2], p[2] + first, sizeof(ModeLanes));
    memcpy(&row[3], p[3] + first, sizeof(ModeLanes));
    // __builtin_shufflevector (GCC 12 and clang alike): lane i of the result is lane index_i of
    // the two inputs side by side (0-3 the first, 4-7 the second).
    const ModeLanes t0 = __builtin_shufflevector(row[0], row[1], 0, 4, 2, 6);  // evens
    const ModeLanes t1 = __builtin_shufflevector(row[0], row[1], 1, 5, 3, 7);  // odds
    const ModeLanes t2 = __builtin_shufflevector(row[2], row[3], 0, 4, 2, 6);
    const ModeLanes t3 = __builtin_shufflevector(row[2], row[3], 1, 5, 3, 7);
    v[0] = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);  // low halves
    v[1] = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
    v[2] = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);  // high halves
    v[3] = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
}

// Sources of one entry taken per pass: the geometry pass fills this many lanes of the
// stack arrays, the wave pass consumes them.
constexpr int kChunkGroups = 8;

// The transfer of entries 0 .. count-1, four sources per lane group. For each source, with
// d = L - O, r = |d|, x = k r and s, c = sin x, cos x:
//   h0 = (s + i c) / x,   h1 = (s/x - c) / x + i (c/x + s) / x = h0 (1/x + i),
// and with the polar axis along z, cos(theta) = dz / r and sin(theta) e^{-+i phi} =
// (dx -+ i dy) / r, so the four angular terms are h1 A / r with
//   A = a1 dz + a2 (dx - i dy) - a3 (dx + i dy) = a1 dz + (a2 - a3) dx - i (a2 + a3) dy.
// The source's field is then
//   a0 h0 + h1 A / r = (s + i c) G,   G = (a0 + (1/x + i) B) / x,   B = A / r,
// with 1/x = (1/r) (1/k): one division per source. A needs no azimuth: on a
// source's vertical axis (rho = 0) it is the limit from beside the axis. A source at the listener
// (r = 0) is left out (x = 0 and G = 0 in its lane).
// Two passes over up to kChunkGroups lane groups: the geometry (x and G, everything but the
// sine), then the waves (sine, cosine and the sum). Each pass's groups are short and
// independent, so the processor overlaps the long dependency chains (square root, division,
// the sine's polynomial) of neighbouring groups.
template <typename LaneOps>
__attribute__((always_inline)) inline void evaluateEntries(const TransferModel& model,
                                                           const double position[3], double* out,
                                                           int count) {
    constexpr int W = 4;
    const ModeLanes zero = {0, 0, 0, 0};
    ModeLanes xs[kChunkGroups], gRes[kChunkGroups], gIms[kChunkGroups];
    for (int i = 0; i < count; ++i) {
        const double k = model.waveNumbers[i];
        const double inverseK = 1.0 / k;
        const double* block = model.sourceBlocks[i];
        const int n = model.sourceCounts[i];
        ModeLanes sumRe = zero, sumIm = zero;
        for (int chunk = 0; chunk < n; chunk += W * kChunkGroups) {
            const int groups = std::min((n - chunk + W - 1) / W, kChunkGroups);
            for (int g = 0; g < groups; ++g) {
                // Source records j .. j+3, the missing ones of the last group repeating record j.
                const int j = chunk + W * g;
                const double* p0 = block + kSourceRecordSize * j;
                const double* const p[W] = {p0, j + 1 < n ? p0 + kSourceRecordSize : p0,
                                            j + 2 < n ? p0 + 2 * kSourceRecordSize : p0,
                                            j + 3 < n ? p0 + 3 * kSourceRecordSize : p0};
                const IndexLanes present = {-1, j + 1 < n ? -1 : 0, j + 2 < n ? -1 : 0,
                                            j + 3 < n ? -1 : 0};
                // Rows 0 .. 10: x, y, z, a0, a1, a2, a3 as (re, im) pairs; row 7 is read twice,
                // so that no load passes a record's end.
                ModeLanes v[12];
                transposeRecords(p, 0, v);
                transposeRecords(p, 4, v + 4);
                transposeRecords(p, 7, v + 8);
                const ModeLanes &a0Re = v[3], &a0Im = v[4], &a1Re = v[5], &a1Im = v[6];
                const ModeLanes &a2Re = v[8], &a2Im = v[9], &a3Re = v[10], &a3Im = v[11];

                const ModeLanes dx = position[0] - v[0];
                const ModeLanes dy = position[1] - v[1];
                const ModeLanes dz = position[2] - v[2];
                // r through rho, as the plain sum takes it: k r, and with it the phase of the
                // wave, is then the plain sum's to the last bit (one unit in the last place of r
                // is a phase error of 2e-12 at k r = 1e4).
                ModeLanes rho;
                LaneOps::squareRoot(dx * dx + dy * dy, &rho);
                const ModeLanes r2 = rho * rho + dz * dz;
                const IndexLanes live = present & (r2 > 0.0);
                // Lanes left out take r = 1, which keeps them finite.
                ModeLanes r;
                LaneOps::squareRoot(live ? r2 : 1.0, &r);
                const ModeLanes inverseR = 1.0 / r;
                const ModeLanes inverseX = inverseR * inverseK;
                // B = A / r, then G = (a0 + (1/x + i) B) / x.
                const ModeLanes aRe = a1Re * dz + (a2Re - a3Re) * dx + (a2Im + a3Im) * dy;
                const ModeLanes aIm = a1Im * dz + (a2Im - a3Im) * dx - (a2Re + a3Re) * dy;
                const ModeLanes bRe = aRe * inverseR, bIm = aIm * inverseR;
                const ModeLanes gRe = (a0Re + (bRe * inverseX - bIm)) * inverseX;
                const ModeLanes gIm = (a0Im + (bIm * inverseX + bRe)) * inverseX;
                // Lanes left out: x = 0 and G = 0 (their bits cleared, also a NaN's).
                xs[g] = (ModeLanes)((IndexLanes)(k * r) & live);
                gRes[g] = (ModeLanes)((IndexLanes)gRe & live);
                gIms[g] = (ModeLanes)((IndexLanes)gIm & live);
            }
            for (int g = 0; g < groups; ++g) {
                const ModeLanes& x = xs[g];
                ModeLanes s, c;
                sineCosineLanes(x, &s, &c);
                // Rare: arguments beyond the lane reduction's range (or not numbers).
                const IndexLanes far = !(x * x <= kLargestLaneArgument * kLargestLaneArgument);
                if (LaneOps::anyLane(far)) {
                    for (int l = 0; l < W; ++l) {
                        if (far[l]) {
                            s[l] = std::sin(x[l]);
                            c[l] = std::cos(x[l]);
                        }
                    }
                }
                sumRe += s * gRes[g] - c * gIms[g];
                sumIm += s * gIms[g] + c * gRes[g];
            }
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
    evaluateEntries<BaselineLaneOps>(model, position, out, count);
}

#ifdef TONWELL_HAVE_AVX2_TRANSFER
__attribute__((target("avx2"))) void evaluateAvx2(const TransferModel& model,
                                                  const double position[3], double* out,
                                                  int count) {
    evaluateEntries<Avx2LaneOps>(model, position, out, count);
}
#endif

}  // namespace

void TransferModel::evaluateTransfer(const double position[3], double* out, int count,
                                     [[maybe_unused]] bool useAvx2Lanes) const {
    if (count < 0 || count > frequencyCount) count = frequencyCount;
#ifdef TONWELL_HAVE_AVX2_TRANSFER
    if (useAvx2Lanes) {
        evaluateAvx2(*this, position, out, count);
        return;
    }
#endif
    evaluateBaseline(*this, position, out, count);
}
