// Loading the transfer model from its list and matrix files, and evaluating the multipole sources
// at a listener point.
#include "sound/transfer_model.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "geometry/dense_matrix.h"

namespace {

constexpr int kNameBufferSize = 4096;
constexpr int kSourceRecordSize = 11;

// Complex product (a + ib)(c + id), accumulated into (re, im).
inline void addProduct(double a, double b, double c, double d, double* re, double* im) {
    *re += a * c - b * d;
    *im += a * d + b * c;
}

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

void TransferModel::evaluateTransfer(const double position[3], double* out, int count) const {
    if (count < 0 || count > frequencyCount) count = frequencyCount;
    for (int i = 0; i < count; ++i) {
        const double k = waveNumbers[i];
        const double* source = sourceBlocks[i];
        double sumRe = 0.0, sumIm = 0.0;
        for (int j = 0; j < sourceCounts[i]; ++j, source += kSourceRecordSize) {
            const double dx = position[0] - source[0];
            const double dy = position[1] - source[1];
            const double dz = position[2] - source[2];
            const double rho = std::sqrt(dx * dx + dy * dy);
            const double r = std::sqrt(rho * rho + dz * dz);
            // The field of a point source is singular at the source itself.
            if (r == 0.0) continue;
            const double cosTheta = dz / r;
            const double sinTheta = rho / r;
            // On the polar axis the azimuth is undefined; sin(theta) = 0 there removes every term
            // that depends on it, so any value is the limit. Take phi = 0.
            double cosPhi = 1.0, sinPhi = 0.0;
            if (rho > 0.0) {
                cosPhi = dx / rho;
                sinPhi = dy / rho;
            }
            // Spherical Hankel functions of the second kind at x = k r:
            //   h0(x) = j0 - i y0 = (sin x + i cos x) / x
            //   h1(x) = j1 - i y1 = (sin x / x - cos x) / x + i (cos x / x + sin x) / x
            const double x = k * r;
            const double s = std::sin(x);
            const double c = std::cos(x);
            const double h0Re = s / x, h0Im = c / x;
            const double h1Re = (s / x - c) / x, h1Im = (c / x + s) / x;
            const double* a = source + 3;  // a0, a1, a2, a3 as (re, im) pairs
            // S += a0 h0 + a1 h1 cos(theta) + a2 h1 sin(theta) e^{-i phi}
            //      - a3 h1 sin(theta) e^{+i phi}
            addProduct(a[0], a[1], h0Re, h0Im, &sumRe, &sumIm);
            addProduct(a[2], a[3], h1Re * cosTheta, h1Im * cosTheta, &sumRe, &sumIm);
            const double h1sRe = h1Re * sinTheta, h1sIm = h1Im * sinTheta;
            // a2 (h1 sin(theta)) (cos(phi) - i sin(phi))
            double tRe = 0.0, tIm = 0.0;
            addProduct(h1sRe, h1sIm, cosPhi, -sinPhi, &tRe, &tIm);
            addProduct(a[4], a[5], tRe, tIm, &sumRe, &sumIm);
            // - a3 (h1 sin(theta)) (cos(phi) + i sin(phi))
            tRe = 0.0;
            tIm = 0.0;
            addProduct(h1sRe, h1sIm, cosPhi, sinPhi, &tRe, &tIm);
            addProduct(-a[6], -a[7], tRe, tIm, &sumRe, &sumIm);
        }
        const double magnitude = std::sqrt(sumRe * sumRe + sumIm * sumIm);
        // Right next to a source h1 ~ 1/x^2 overflows, and coefficients may be non-finite; the
        // audio path must never see NaN or infinity.
        out[i] = std::isfinite(magnitude) ? magnitude : 0.0;
    }
}
