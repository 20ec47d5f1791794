// The single-precision transfer evaluation (see single_precision_transfer.h).
#include "sound/single_precision_transfer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "sound/transfer_model.h"

#if defined(__x86_64__) || defined(__SSE2__)
#include <immintrin.h>
#endif

namespace {

typedef float FloatLanes __attribute__((vector_size(32)));
typedef int32_t IntLanes __attribute__((vector_size(32)));
// Eight floats of a source group's row, read in place: only 4-byte aligned, and read through
// the float storage.
typedef float RowLanes __attribute__((vector_size(32), aligned(4), may_alias));
constexpr int kLanes = 8;

// Largest k r the lane reduction takes (Cody and Waite's three-part pi/4, exact in single
// precision for octant numbers below 2^13); beyond it the C library's sine and cosine.
constexpr float kLargestLaneArgument = 8192.0f;

// sin x and cos x for 0 <= x <= kLargestLaneArgument: x reduced by the octant's multiple of
// pi/4 to |z| <= pi/4, then the minimax polynomials of S. L. Moshier's Cephes library (sinf,
// cosf), relative error about 1e-7.
__attribute__((always_inline)) inline void sineCosineFloatLanes(const FloatLanes& x,
                                                                FloatLanes* sine,
                                                                FloatLanes* cosine) {
    const float fourOverPi = 1.27323954473516f;
    const float dp1 = 0.78515625f, dp2 = 2.4187564849853515625e-4f, dp3 = 3.77489497744594108e-8f;
    IntLanes j = __builtin_convertvector(x * fourOverPi, IntLanes);
    j = (j + 1) & ~1;  // the even octant number nearest below or at x / (pi/4) + 1
    const FloatLanes y = __builtin_convertvector(j, FloatLanes);
    const FloatLanes z = ((x - y * dp1) - y * dp2) - y * dp3;
    const FloatLanes zz = z * z;
    const FloatLanes sinZ =
        ((-1.9515295891e-4f * zz + 8.3321608736e-3f) * zz - 1.6666654611e-1f) * zz * z + z;
    const FloatLanes cosZ =
        ((2.443315711809948e-5f * zz - 1.388731625493765e-3f) * zz + 4.166664568298827e-2f) * zz *
            zz -
        0.5f * zz + 1.0f;
    const IntLanes octant = j & 7;  // 0, 2, 4 or 6
    const IntLanes swap = (octant & 2) != 0;
    const IntLanes sineNegative = (octant & 4) != 0;
    const IntLanes cosineNegative = ((octant + 2) & 4) != 0;
    const FloatLanes s = swap ? cosZ : sinZ;
    const FloatLanes c = swap ? sinZ : cosZ;
    *sine = sineNegative ? -s : s;
    *cosine = cosineNegative ? -c : c;
}

struct BaselineFloatOps {
    __attribute__((always_inline)) static inline void squareRoot(const FloatLanes& x,
                                                                 FloatLanes* root) {
#if defined(__SSE2__)
        __m128 part[2];
        memcpy(part, &x, sizeof part);
        part[0] = _mm_sqrt_ps(part[0]);
        part[1] = _mm_sqrt_ps(part[1]);
        memcpy(root, part, sizeof part);
#else
        for (int l = 0; l < kLanes; ++l) (*root)[l] = std::sqrt(x[l]);
#endif
    }
    __attribute__((always_inline)) static inline bool anyLane(const IntLanes& mask) {
        int any = 0;
        for (int l = 0; l < kLanes; ++l) any |= mask[l];
        return any != 0;
    }
};

#if defined(__x86_64__) && defined(__GNUC__)
#define TONWELL_HAVE_AVX2_SINGLE_TRANSFER 1
struct Avx2FloatOps {
    __attribute__((target("avx2"))) static inline void squareRoot(const FloatLanes& x,
                                                                  FloatLanes* root) {
        *root = (FloatLanes)_mm256_sqrt_ps((__m256)x);
    }
    __attribute__((target("avx2"))) static inline bool anyLane(const IntLanes& mask) {
        return _mm256_movemask_ps((__m256)mask) != 0;
    }
};
#endif

}  // namespace

SinglePrecisionTransfer::SinglePrecisionTransfer(const TransferModel& model) {
    const int count = model.frequencyCount;
    firstGroup.reserve(size_t(count) + 1);
    firstGroup.push_back(0);
    waveNumbers.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        const int n = model.sourceCounts[size_t(i)];
        const int groups = (n + kLanes - 1) / kLanes;
        const size_t start = lanes.size();
        lanes.resize(start + size_t(groups) * kRows * kLanes, 0.0f);
        for (int s = 0; s < n; ++s) {
            const double* record = model.sourceBlocks[size_t(i)] + kRows * s;
            float* group = lanes.data() + start + size_t(s / kLanes) * kRows * kLanes;
            for (int row = 0; row < kRows; ++row)
                group[row * kLanes + s % kLanes] = static_cast<float>(record[row]);
        }
        firstGroup.push_back(firstGroup.back() + groups);
        waveNumbers.push_back(static_cast<float>(model.waveNumbers[size_t(i)]));
    }
}

// The field of a source rearranged as in TransferModel::evaluateTransfer:
//   a0 h0 + h1 A / r = (s + i c) G,   G = (a0 + (1/x + i) A / r) / x,
//   A = a1 dz + (a2 - a3) dx - i (a2 + a3) dy,
// with x = k r and s, c = sin x, cos x; a source at the listener (r = 0) and an unused lane have
// G = 0.
namespace {

constexpr int kRows = SinglePrecisionTransfer::kRows;

template <typename LaneOps>
__attribute__((always_inline)) inline void evaluateLanes(const SinglePrecisionTransfer& transfer,
                                                         const double position[3], double* out,
                                                         int count) {
    const std::vector<float>& waveNumbers = transfer.waveNumbers;
    const std::vector<int>& firstGroup = transfer.firstGroup;
    const std::vector<float>& lanes = transfer.lanes;
    const FloatLanes px = FloatLanes{} + static_cast<float>(position[0]);
    const FloatLanes py = FloatLanes{} + static_cast<float>(position[1]);
    const FloatLanes pz = FloatLanes{} + static_cast<float>(position[2]);
    for (int i = 0; i < count; ++i) {
        const float k = waveNumbers[size_t(i)];
        const float inverseK = 1.0f / k;
        FloatLanes sumRe = {}, sumIm = {};
        for (int g = firstGroup[size_t(i)]; g < firstGroup[size_t(i) + 1]; ++g) {
            // The group's rows read in place, each where an operation needs it.
            const RowLanes* v =
                reinterpret_cast<const RowLanes*>(lanes.data() + size_t(g) * kRows * kLanes);
            const FloatLanes dx = px - v[0], dy = py - v[1], dz = pz - v[2];
            const FloatLanes a0Re = v[3], a0Im = v[4], a1Re = v[5], a1Im = v[6];
            const FloatLanes a2Re = v[7], a2Im = v[8], a3Re = v[9], a3Im = v[10];
            const FloatLanes r2 = dx * dx + dy * dy + dz * dz;
            const IntLanes live = r2 > 0.0f;
            FloatLanes r;
            LaneOps::squareRoot(live ? r2 : 1.0f, &r);
            const FloatLanes inverseR = 1.0f / r;
            const FloatLanes inverseX = inverseR * inverseK;
            const FloatLanes aRe = a1Re * dz + (a2Re - a3Re) * dx + (a2Im + a3Im) * dy;
            const FloatLanes aIm = a1Im * dz + (a2Im - a3Im) * dx - (a2Re + a3Re) * dy;
            const FloatLanes bRe = aRe * inverseR, bIm = aIm * inverseR;
            const FloatLanes gRe =
                (FloatLanes)((IntLanes)((a0Re + (bRe * inverseX - bIm)) * inverseX) & live);
            const FloatLanes gIm =
                (FloatLanes)((IntLanes)((a0Im + (bIm * inverseX + bRe)) * inverseX) & live);
            const FloatLanes x = (FloatLanes)((IntLanes)(k * r) & live);
            FloatLanes s, c;
            sineCosineFloatLanes(x, &s, &c);
            const IntLanes far = !(x <= kLargestLaneArgument);
            if (LaneOps::anyLane(far)) {  // rare: beyond the reduction's range, or not a number
                for (int l = 0; l < kLanes; ++l) {
                    if (far[l]) {
                        s[l] = static_cast<float>(std::sin(double(x[l])));
                        c[l] = static_cast<float>(std::cos(double(x[l])));
                    }
                }
            }
            sumRe += s * gRe - c * gIm;
            sumIm += s * gIm + c * gRe;
        }
        double re = 0.0, im = 0.0;
        for (int l = 0; l < kLanes; ++l) {
            re += sumRe[l];
            im += sumIm[l];
        }
        const double magnitude = std::sqrt(re * re + im * im);
        out[i] = std::isfinite(magnitude) ? magnitude : 0.0;
    }
}

void evaluateBaseline(const SinglePrecisionTransfer& transfer, const double position[3],
                      double* out, int count) {
    evaluateLanes<BaselineFloatOps>(transfer, position, out, count);
}

#ifdef TONWELL_HAVE_AVX2_SINGLE_TRANSFER
__attribute__((target("avx2"))) void evaluateAvx2(const SinglePrecisionTransfer& transfer,
                                                  const double position[3], double* out,
                                                  int count) {
    evaluateLanes<Avx2FloatOps>(transfer, position, out, count);
}
#endif

}  // namespace

void SinglePrecisionTransfer::evaluate(const double position[3], double* out, int count,
                                       [[maybe_unused]] bool useAvx2Lanes) const {
    if (count < 0 || count > frequencyCount()) count = frequencyCount();
#ifdef TONWELL_HAVE_AVX2_SINGLE_TRANSFER
    if (useAvx2Lanes) {
        evaluateAvx2(*this, position, out, count);
        return;
    }
#endif
    evaluateBaseline(*this, position, out, count);
}
