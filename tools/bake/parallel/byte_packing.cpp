// Packing of unit results (see byte_packing.h).
#include "tools/bake/parallel/byte_packing.h"

#include <complex>
#include <cstring>
#include <stdexcept>

void ByteWriter::putRaw(const void* data, size_t size) {
    bytes_.append(static_cast<const char*>(data), size);
}

void ByteWriter::putString(const std::string& text) {
    putInt(static_cast<int64_t>(text.size()));
    bytes_.append(text);
}

void ByteWriter::putMatrix(const Eigen::MatrixXd& matrix) {
    putInt(matrix.rows());
    putInt(matrix.cols());
    putRaw(matrix.data(), sizeof(double) * matrix.size());
}

void ByteWriter::putMatrix(const Eigen::MatrixXcd& matrix) {
    putInt(matrix.rows());
    putInt(matrix.cols());
    putRaw(matrix.data(), sizeof(std::complex<double>) * matrix.size());
}

void ByteReader::getRaw(void* data, size_t size) {
    if (bytes_.size() - position_ < size) throw std::runtime_error("a worker's result is short");
    std::memcpy(data, bytes_.data() + position_, size);
    position_ += size;
}

int64_t ByteReader::getInt() {
    int64_t value;
    getRaw(&value, sizeof value);
    return value;
}

double ByteReader::getDouble() {
    double value;
    getRaw(&value, sizeof value);
    return value;
}

std::string ByteReader::getString() {
    const int64_t size = getInt();
    if (size < 0 || static_cast<size_t>(size) > bytes_.size() - position_)
        throw std::runtime_error("a worker's result is short");
    std::string text = bytes_.substr(position_, static_cast<size_t>(size));
    position_ += static_cast<size_t>(size);
    return text;
}

Eigen::MatrixXd ByteReader::getMatrix() {
    const int64_t rows = getInt(), cols = getInt();
    Eigen::MatrixXd matrix(rows, cols);
    getRaw(matrix.data(), sizeof(double) * matrix.size());
    return matrix;
}

Eigen::MatrixXcd ByteReader::getComplexMatrix() {
    const int64_t rows = getInt(), cols = getInt();
    Eigen::MatrixXcd matrix(rows, cols);
    getRaw(matrix.data(), sizeof(std::complex<double>) * matrix.size());
    return matrix;
}
