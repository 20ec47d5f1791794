// The dense matrix file format every precomputed numeric array of a scene is stored in (mode
// shapes ".U", frequencies ".freq", transfer sources ".sources", wave numbers ".k"), its reader,
// and the small checking helpers the loading code uses around it.
//
// File layout, little-endian, no gaps:
//   offset 0: int32 row count m
//   offset 4: int32 column count n
//   offset 8: m * n doubles, column-major: element (i, j) at byte 8 + 8 * (i + j * m)
// Bytes after the last element are ignored. Read at start-up on the GUI thread only.
#pragma once

#include <cstdio>

// Reads the matrix in `fileName` into a new malloc'ed block of rows * columns doubles in the
// file's column-major order; the caller owns *elements and frees it with free().
// Returns 0 on success. On failure prints one message to standard output and returns 1:
//   "Can't open input matrix file: <name>." when the file cannot be opened;
//   "Error reading the matrix from disk file: <name>." when the header or the elements are short,
//   a count is negative, or the element count is more than the file holds or can be allocated.
// When the column count cannot be read, *rows already holds the row count.
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
