// The npz export (see npz_writer.h). Each member is an ".npy" file, format 1.0: the magic
// "\x93NUMPY", version bytes 1 0, a little-endian uint16 header length, the header (a Python
// dict literal with descr, fortran_order and shape, padded with spaces and ended by a line feed
// so that the data starts on a multiple of 64 bytes), then the elements in C order.
#include "tools/bake/output/npz_writer.h"

#include <algorithm>
#include <complex>
#include <cstring>
#include <vector>

#include "tools/bake/common/bake_error.h"
#include "tools/bake/output/zip_writer.h"

namespace {

constexpr int kSourceRecordSize = 11;

// The ".npy" header of an array of `descr` ("<f8", "<i4", "|S1", ...) and `shape` (empty: a
// scalar).
std::string npyHeader(const std::string& descr, const std::vector<int64_t>& shape) {
    std::string dims;
    for (int64_t n : shape) dims += std::to_string(n) + ", ";
    if (shape.size() > 1) dims.resize(dims.size() - 2);  // "(3, 4)"; one dimension keeps "(3,)"
    if (shape.size() == 1) dims.resize(dims.size() - 1);
    std::string dict =
        "{'descr': '" + descr + "', 'fortran_order': False, 'shape': (" + dims + "), }";
    const size_t unpadded = 10 + dict.size() + 1;  // magic, version, length, dict, line feed
    dict.append((64 - unpadded % 64) % 64, ' ');
    dict.push_back('\n');
    std::string header("\x93NUMPY\x01\x00", 8);
    header.push_back(static_cast<char>(dict.size() & 0xFF));
    header.push_back(static_cast<char>(dict.size() >> 8));
    return header + dict;
}

// One array member "<name>.npy" whose elements are written by `body(zip)`.
template <typename Body>
void member(ZipWriter& zip, const std::string& name, const std::string& descr,
            const std::vector<int64_t>& shape, Body body) {
    zip.beginMember(name + ".npy");
    const std::string header = npyHeader(descr, shape);
    zip.write(header.data(), header.size());
    body(zip);
    zip.endMember();
}

template <typename T>
void array(ZipWriter& zip, const std::string& name, const std::string& descr,
           const std::vector<int64_t>& shape, const std::vector<T>& values) {
    member(zip, name, descr, shape,
           [&](ZipWriter& z) { z.write(values.data(), values.size() * sizeof(T)); });
}

void doubles(ZipWriter& zip, const std::string& name, const std::vector<double>& values) {
    array(zip, name, "<f8", {static_cast<int64_t>(values.size())}, values);
}

void scalar(ZipWriter& zip, const std::string& name, double value) {
    array(zip, name, "<f8", {}, std::vector<double>{value});
}

void ints(ZipWriter& zip, const std::string& name, const std::vector<int>& values) {
    std::vector<int32_t> stored(values.begin(), values.end());
    array(zip, name, "<i4", {static_cast<int64_t>(values.size())}, stored);
}

void chars(ZipWriter& zip, const std::string& name, const std::string& values) {
    member(zip, name, "|S1", {static_cast<int64_t>(values.size())},
           [&](ZipWriter& z) { z.write(values.data(), values.size()); });
}

void flags(ZipWriter& zip, const std::string& name, const std::vector<unsigned char>& values) {
    std::vector<uint8_t> stored(values.size());
    for (size_t i = 0; i < values.size(); ++i) stored[i] = values[i] ? 1 : 0;
    array(zip, name, "|b1", {static_cast<int64_t>(values.size())}, stored);
}

// The ".U" matrix (3n x r, column-major) as a C-order (n, 3, r) array: element (v, a, j) at
// (3v + a) r + j. Gathered a block of vertices at a time, so each column is read in runs.
void modeShapes(ZipWriter& zip, const SceneData& scene) {
    const int64_t n = scene.vertexCount, r = scene.modeCount;
    member(zip, "mode_shapes", "<f8", {n, 3, r}, [&](ZipWriter& z) {
        const int64_t blockVertices = 256;
        std::vector<double> block;
        for (int64_t v0 = 0; v0 < n; v0 += blockVertices) {
            const int64_t rows = 3 * std::min(blockVertices, n - v0);
            block.resize(rows * r);
            for (int64_t j = 0; j < r; ++j) {
                const double* column = scene.modeShapes.get() + 3 * n * j + 3 * v0;
                for (int64_t row = 0; row < rows; ++row) block[row * r + j] = column[row];
            }
            z.write(block.data(), block.size() * sizeof(double));
        }
    });
}

void transfer(ZipWriter& zip, const SceneData& scene) {
    const int64_t sourceCount = scene.sourceOffsets.back();
    doubles(zip, "transfer_wave_numbers", scene.waveNumbers_perMetre);
    array(zip, "transfer_offsets", "<i8", {static_cast<int64_t>(scene.sourceOffsets.size())},
          scene.sourceOffsets);
    std::vector<double> positions(3 * sourceCount);
    // A source record's last eight doubles are a0 .. a3 as (real, imaginary) pairs: the memory
    // layout of four complex128 values.
    std::vector<double> coefficients(8 * sourceCount);
    for (int64_t s = 0; s < sourceCount; ++s) {
        const double* record = scene.sources.data() + kSourceRecordSize * s;
        std::copy(record, record + 3, positions.begin() + 3 * s);
        std::copy(record + 3, record + kSourceRecordSize, coefficients.begin() + 8 * s);
    }
    array(zip, "transfer_positions", "<f8", {sourceCount, 3}, positions);
    array(zip, "transfer_coefficients", "<c16", {sourceCount, 4}, coefficients);
}

void report(ZipWriter& zip, const ReportTable& t) {
    chars(zip, "tiers", t.tier);
    ints(zip, "report_mode", t.mode);
    doubles(zip, "report_frequency_Hz", t.frequency_Hz);
    doubles(zip, "report_fit_frequency_Hz", t.fitFrequency_Hz);
    chars(zip, "report_tier", t.tier);
    ints(zip, "report_elements", t.elements);
    ints(zip, "report_sources", t.sources);
    doubles(zip, "report_fit_error_percent", t.fitError_percent);
    doubles(zip, "report_held_out_error_percent", t.heldOutError_percent);
    ints(zip, "report_gmres_iterations", t.gmresIterations);
    doubles(zip, "report_unit_seconds", t.unitSeconds);
    doubles(zip, "report_check_power_dB", t.checkPower_dB);
    doubles(zip, "report_check_smoothed_dB", t.checkSmoothed_dB);
    doubles(zip, "report_check_point_dB", t.checkPoint_dB);
    doubles(zip, "report_wave_check_power_dB", t.waveCheckPower_dB);
    doubles(zip, "report_wave_check_point_dB", t.waveCheckPoint_dB);
    chars(zip, "report_wave_check_against", t.waveCheckAgainst);
    flags(zip, "report_at_source_cap", t.atSourceCap);
    flags(zip, "report_above_tolerance", t.aboveTolerance);
    flags(zip, "report_moved_from_high_frequency", t.movedFromHighFrequency);
    flags(zip, "report_converged", t.converged);
}

}  // namespace

void writeNpz(const SceneData& scene, const std::string& path) {
    ZipWriter zip(path);
    const int64_t n = scene.vertexCount;
    doubles(zip, "frequencies", scene.frequencies_Hz);
    scalar(zip, "damping_alpha", scene.alpha_perSecond);
    scalar(zip, "damping_beta", scene.beta_seconds);
    doubles(zip, "damping", scene.dampingCoefficients_perSecond);
    array(zip, "vertices", "<f8", {n, 3}, scene.vertices);
    array(zip, "faces", "<i4", {static_cast<int64_t>(scene.faces.size() / 3), 3}, scene.faces);
    modeShapes(zip, scene);
    scalar(zip, "force_unit", scene.forceUnit_N);
    transfer(zip, scene);
    if (scene.report.rowCount() > 0) report(zip, scene.report);
    zip.finish();
}
