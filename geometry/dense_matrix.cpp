// Reader of the dense matrix format: three block reads (the two counts, then every element at
// once) straight into the destination, no per-element parsing.
#include "geometry/dense_matrix.h"

#include <cstdint>
#include <cstdlib>

#include "platform/input_exit.h"

// Bytes left in `file` from the current position, or -1 when the stream cannot seek.
static long long bytesRemaining(FILE* file) {
    long position = ftell(file);
    if (position < 0 || fseek(file, 0, SEEK_END) != 0) return -1;
    long end = ftell(file);
    if (end < 0 || fseek(file, position, SEEK_SET) != 0) return -1;
    return static_cast<long long>(end) - position;
}

int loadDenseMatrix(const char* fileName, int* rows, int* columns, double** elements) {
    FILE* file = fopen(fileName, "rb");
    if (file == nullptr) {
        printInputMessage(stdout, "Can't open input matrix file: %s.\n", fileName);
        return 1;
    }

    // A failed read releases what it allocated: the caller gets no block to free.
    double* block = nullptr;
    auto fail = [&]() {
        printInputMessage(stdout, "Error reading the matrix from disk file: %s.\n", fileName);
        fclose(file);
        free(block);
        *elements = nullptr;
        return 1;
    };

    int32_t count = 0;
    if (fread(&count, 4, 1, file) != 1) return fail();
    *rows = count;
    if (fread(&count, 4, 1, file) != 1) return fail();
    *columns = count;

    // The header is trusted by the format, but a negative count, or a count whose elements the
    // file cannot hold, would make the allocation below wrap around or grow without bound; such
    // a file is as unreadable as a short one.
    if (*rows < 0 || *columns < 0) return fail();
    const uint64_t elementCount = static_cast<uint64_t>(*rows) * static_cast<uint64_t>(*columns);
    const long long available = bytesRemaining(file);
    if (available >= 0 && elementCount > static_cast<uint64_t>(available) / 8) return fail();
    if (elementCount > SIZE_MAX / 8) return fail();

    // malloc(0) may return null; an empty matrix still gets a block the caller can free.
    block = static_cast<double*>(malloc(elementCount > 0 ? elementCount * 8 : 1));
    if (block == nullptr) return fail();
    if (fread(block, 8, elementCount, file) != elementCount) return fail();
    *elements = block;

    fclose(file);
    return 0;
}

int loadDenseMatrixOrExit(const char* fileName, int* rows, int* columns, double** elements) {
    if (loadDenseMatrix(fileName, rows, columns, elements) != 0) exitOnBadInput(1);
    return 0;
}

int openFileOrExit(const char* fileName, FILE** file, const char* mode) {
    *file = fopen(fileName, mode);
    if (*file == nullptr) {
        printInputMessage(stdout, "Error: could not open file %s.\n", fileName);
        exitOnBadInput(1);
    }
    return 0;
}

int checkEqualOrExit(int actual, int expected, int code) {
    if (actual == expected) return 0;
    printInputMessage(stdout, "Error: assertion %d == %d failed (%d).\n", actual, expected, code);
    exitOnBadInput(1);
}
