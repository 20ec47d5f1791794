// A recursive radix-2 FFT, enough for the spectra of test signals.
#include "tests/support/periodogram.h"

#include <cmath>
#include <complex>

namespace {

void fft(std::vector<std::complex<double>>& a) {
    const size_t n = a.size();
    if (n < 2) return;
    std::vector<std::complex<double>> even(n / 2), odd(n / 2);
    for (size_t i = 0; i < n / 2; ++i) {
        even[i] = a[2 * i];
        odd[i] = a[2 * i + 1];
    }
    fft(even);
    fft(odd);
    for (size_t k = 0; k < n / 2; ++k) {
        const std::complex<double> t = std::polar(1.0, -2.0 * M_PI * k / n) * odd[k];
        a[k] = even[k] + t;
        a[k + n / 2] = even[k] - t;
    }
}

}  // namespace

std::vector<double> powerSpectrum(const std::vector<double>& signal) {
    size_t n = 1;
    while (n * 2 <= signal.size()) n *= 2;
    std::vector<std::complex<double>> a(n);
    for (size_t i = 0; i < n; ++i) {
        const double window = 0.5 - 0.5 * std::cos(2.0 * M_PI * i / n);
        a[i] = signal[i] * window;
    }
    fft(a);
    std::vector<double> power(n / 2 + 1);
    for (size_t k = 0; k <= n / 2; ++k) power[k] = std::norm(a[k]);
    return power;
}

double spectralCentroid(const std::vector<double>& power, double samplingRate) {
    const double n = 2.0 * (power.size() - 1);
    double weighted = 0.0, total = 0.0;
    for (size_t k = 0; k < power.size(); ++k) {
        weighted += k * samplingRate / n * power[k];
        total += power[k];
    }
    return total > 0.0 ? weighted / total : 0.0;
}

double bandPower(const std::vector<double>& power, double low, double high) {
    const double n = 2.0 * (power.size() - 1);
    double sum = 0.0;
    for (size_t k = 0; k < power.size(); ++k) {
        const double f = k / n;
        if (f >= low && f < high) sum += power[k];
    }
    return sum;
}
