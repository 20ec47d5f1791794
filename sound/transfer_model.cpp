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
            const double r = std::sqrt(dx * dx + dy * dy + dz * dz);
            // The field of a point source is singular at the source itself.
            if (r == 0.0) continue;
            const double invR = 1.0 / r;
            // Spherical Hankel functions of the second kind at x = k r:
            //   h0(x) = j0 - i y0 = (sin x + i cos x) / x
            //   h1(x) = j1 - i y1 = (sin x / x - cos x) / x + i (cos x / x + sin x) / x
            const double x = k * r;
            const double invX = 1.0 / x;
            const double s = std::sin(x);
            const double c = std::cos(x);
            const double h0Re = s * invX, h0Im = c * invX;
            const double h1Re = (h0Re - c) * invX, h1Im = (h0Im + s) * invX;
            // With the polar axis along z: cos(theta) = dz / r and sin(theta) e^{-+i phi} =
            // (dx -+ i dy) / r, so the angular part of the order-1 terms,
            //   a1 cos(theta) + a2 sin(theta) e^{-i phi} - a3 sin(theta) e^{+i phi},
            // is (a1 dz + a2 (dx - i dy) - a3 (dx + i dy)) / r. This form has no separate azimuth:
            // on a source's vertical axis (rho = 0) it gives the limit from beside the axis.
            const double* a = source + 3;  // a0, a1, a2, a3 as (re, im) pairs
            const double angularRe =
                (a[2] * dz + (a[4] * dx + a[5] * dy) - (a[6] * dx - a[7] * dy)) * invR;
            const double angularIm =
                (a[3] * dz + (a[5] * dx - a[4] * dy) - (a[7] * dx + a[6] * dy)) * invR;
            // S += a0 h0 + h1 (angular part)
            sumRe += a[0] * h0Re - a[1] * h0Im + h1Re * angularRe - h1Im * angularIm;
            sumIm += a[0] * h0Im + a[1] * h0Re + h1Re * angularIm + h1Im * angularRe;
        }
        const double magnitude = std::sqrt(sumRe * sumRe + sumIm * sumIm);
        // Right next to a source h1 ~ 1/x^2 overflows, and coefficients may be non-finite; the
        // audio path must never see NaN or infinity.
        out[i] = std::isfinite(magnitude) ? magnitude : 0.0;
    }
}
