// A unit's result as bytes: the worker processes and the MPI ranks hand results back through
// pipes and messages, so every unit packs what it computed (counts, numbers, text, matrices) with
// ByteWriter and its caller reads it back with ByteReader, field by field in the same order. Same
// machine or same build on every rank: the layout is the processor's own, not a file format.
#pragma once

#include <Eigen/Core>
#include <cstdint>
#include <string>

class ByteWriter {
  public:
    void putInt(int64_t value) { putRaw(&value, sizeof value); }
    void putDouble(double value) { putRaw(&value, sizeof value); }
    void putString(const std::string& text);
    void putMatrix(const Eigen::MatrixXd& matrix);
    void putMatrix(const Eigen::MatrixXcd& matrix);
    std::string take() { return std::move(bytes_); }

  private:
    void putRaw(const void* data, size_t size);
    std::string bytes_;
};

// Reads what ByteWriter wrote, in the same order. Throws std::runtime_error past the end.
class ByteReader {
  public:
    explicit ByteReader(const std::string& bytes) : bytes_(bytes) {}
    int64_t getInt();
    double getDouble();
    std::string getString();
    Eigen::MatrixXd getMatrix();
    Eigen::MatrixXcd getComplexMatrix();

  private:
    void getRaw(void* data, size_t size);
    const std::string& bytes_;
    size_t position_ = 0;
};
