// The radix-2 transform behind realSequenceSpectrum: iterative, in place, decimation in time.
#include "sound/fourier_transform.h"

#include <cmath>

void realSequenceSpectrum(const float* x, int count, int length,
                          std::vector<std::complex<double>>* spectrum) {
    std::vector<std::complex<double>> a(length);
    for (int n = 0; n < count; ++n) a[n] = x[n];
    // Bit-reversed order, then butterflies of growing span.
    for (int i = 1, j = 0; i < length; ++i) {
        int bit = length >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    // Twiddles e^{-2 pi i m / L} (the analysis sign), each from its own angle rather than a
    // running product, so rounding does not grow with the length.
    std::vector<std::complex<double>> twiddle(length / 2);
    for (int m = 0; m < length / 2; ++m) {
        const double angle = -2.0 * M_PI * m / length;
        twiddle[m] = std::complex<double>(std::cos(angle), std::sin(angle));
    }
    for (int span = 2; span <= length; span <<= 1) {
        const int stride = length / span;
        for (int start = 0; start < length; start += span) {
            for (int k = 0; k < span / 2; ++k) {
                const std::complex<double> w = twiddle[k * stride];
                const std::complex<double> even = a[start + k];
                const std::complex<double> odd = a[start + k + span / 2] * w;
                a[start + k] = even + odd;
                a[start + k + span / 2] = even - odd;
            }
        }
    }
    spectrum->assign(a.begin(), a.begin() + length / 2 + 1);
}
