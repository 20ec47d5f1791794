// The dense matrix file format every precomputed numeric array of a scene is stored in (mode
// shapes ".U", frequencies ".freq", transfer sources ".sources", wave numbers ".k"), its reader
// and its one writer (the baker writes every such file with it), and the small checking helpers
// the loading code uses around them.
//
// File layout, little-endian, no gaps:
//   offset 0: int32 row count m
//   offset 4: int32 column count n
//   offset 8: m * n doubles, column-major: element (i, j) at byte 8 + 8 * (i + j * m)
// Bytes after the last element are ignored. Read at start-up on the GUI thread only. Reader and
// writer use the machine's byte order, so both need a little-endian machine.
#pragma once

#include <cstdint>
#include <cstdio>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "dense matrix files are little-endian, read and written in the machine's order");

// Reads the matrix in `fileName` into a new malloc'ed block of rows * columns doubles in the
// file's column-major order; the caller owns *elements and frees it with free().
// Returns 0 on success. On failure prints one message to standard output and returns 1:
//   "Can't open input matrix file: <name>." when the file cannot be opened;
//   "Error reading the matrix from disk file: <name>." when the header or the elements are short,
//   a count is negative, or the element count is more than the file holds or can be allocated.
// When the column count cannot be read, *rows already holds the row count. A failed read
// allocates nothing for the caller: *elements is then null.
int loadDenseMatrix(const char* fileName, int* rows, int* columns, double** elements);

// loadDenseMatrix, ending the process with exit(1) (and no further message) on failure.
// Returns 0.
int loadDenseMatrixOrExit(const char* fileName, int* rows, int* columns, double** elements);

// fopen(fileName, mode), storing the handle in *file (even when null). On a null handle prints
// "Error: could not open file <name>." and ends the process with exit(1). Returns 0.
int openFileOrExit(const char* fileName, FILE** file, const char* mode);

// Returns 0 when actual == expected. Otherwise prints
// "Error: assertion <actual> == <expected> failed (<code>)." and ends the process with exit(1).
// `code` tells the call sites apart.
int checkEqualOrExit(int actual, int expected, int code);

// Writes the rows x columns matrix `elements` (column-major, rows * columns doubles) to
// `fileName` in the layout above: the two counts, then the elements as one block; what
// loadDenseMatrix then reads back is the same bit for bit. Prints nothing: the caller reports a
// failure in its own words.
// Returns 0 when the whole file is written and closed; 1 when the file cannot be opened for
// writing; 2 when a write or the close fails (a full disk).
// Preconditions: rows >= 0 and columns >= 0; `elements` may be null when rows * columns is 0.
// Inline, so that the baker, which links none of the program's libraries, writes with it too.
inline int saveDenseMatrix(const char* fileName, int rows, int columns, const double* elements) {
    static_assert(sizeof(double) == 8, "dense matrix files hold IEEE 754 doubles");
    FILE* file = fopen(fileName, "wb");
    if (file == nullptr) return 1;
    const int32_t header[2] = {rows, columns};
    const size_t count = static_cast<size_t>(rows) * static_cast<size_t>(columns);
    bool written = fwrite(header, sizeof(int32_t), 2, file) == 2;
    written = written && (count == 0 || fwrite(elements, sizeof(double), count, file) == count);
    const bool closed = fclose(file) == 0;
    return written && closed ? 0 : 2;
}
