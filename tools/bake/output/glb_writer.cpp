// The glTF binary export (see glb_writer.h and docs/gltf-extension.md). The JSON is built first
// from the sizes alone, then the BIN chunk is streamed array by array, converted to float32 (or
// uint32 for the indices) in blocks, so the mode shapes are never held twice.
#include "tools/bake/output/glb_writer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <vector>

#include "tools/bake/common/bake_error.h"
#include "tools/bake/common/c_file.h"

namespace {

using Json = nlohmann::ordered_json;

constexpr int kSourceRecordSize = 11;
constexpr uint32_t kMagic = 0x46546C67;      // "glTF"
constexpr uint32_t kJsonChunk = 0x4E4F534A;  // "JSON"
constexpr uint32_t kBinChunk = 0x004E4942;   // "BIN\0"
constexpr int kFloat = 5126, kUnsignedInt = 5125;
constexpr int kArrayBuffer = 34962, kElementArrayBuffer = 34963;

uint64_t paddedTo4(uint64_t n) { return (n + 3) / 4 * 4; }

// The BIN chunk's layout: one buffer view per array, each on a multiple of 4 bytes.
struct Layout {
    Json bufferViews = Json::array();
    uint64_t length = 0;
    int add(uint64_t byteLength, int target = 0) {
        Json view = {{"buffer", 0}, {"byteOffset", length}, {"byteLength", byteLength}};
        if (target != 0) view["target"] = target;
        bufferViews.push_back(view);
        length += paddedTo4(byteLength);
        return static_cast<int>(bufferViews.size()) - 1;
    }
};

struct Accessors {
    Json list = Json::array();
    int add(int view, uint64_t byteOffset, int componentType, int64_t count, const char* type) {
        Json accessor = {{"bufferView", view},
                         {"byteOffset", byteOffset},
                         {"componentType", componentType},
                         {"count", count},
                         {"type", type}};
        list.push_back(accessor);
        return static_cast<int>(list.size()) - 1;
    }
};

// Streams float32 and uint32 values into the file, counting bytes.
class BinWriter {
  public:
    BinWriter(FILE* file, const std::string& path) : file_(file), path_(path) {}
    template <typename T>
    void put(const T* values, size_t count) {
        if (count != 0 && std::fwrite(values, sizeof(T), count, file_) != count)
            throw BakeError(path_ + ": cannot be written (disk full?)");
        written += count * sizeof(T);
    }
    // `count` doubles as the nearest floats, converted a block at a time.
    void floats(const double* values, size_t count) {
        std::vector<float> block;
        for (size_t done = 0; done < count;) {
            const size_t n = std::min<size_t>(count - done, 1 << 16);
            block.resize(n);
            for (size_t i = 0; i < n; ++i) block[i] = static_cast<float>(values[done + i]);
            put(block.data(), n);
            done += n;
        }
    }
    void padTo4() {
        const char zeros[3] = {0, 0, 0};
        put(zeros, paddedTo4(written) - written);
    }
    uint64_t written = 0;

  private:
    FILE* file_;
    std::string path_;
};

void putU32(std::string& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>(value >> shift));
}

}  // namespace

void writeGlb(const SceneData& scene, const std::string& path) {
    const int64_t n = scene.vertexCount, r = scene.modeCount;
    const int64_t triangles = static_cast<int64_t>(scene.faces.size() / 3);
    const int64_t sourceCount = scene.sourceOffsets.empty() ? 0 : scene.sourceOffsets.back();
    if (r == 0 || triangles == 0 || n == 0)
        throw BakeError(path + ": the scene " + scene.name +
                        " has no modes or no triangles to export");

    // [SECTION] Layout and JSON
    Layout layout;
    const int positionView = layout.add(12 * n, kArrayBuffer);
    const int indexView = layout.add(12 * triangles, kElementArrayBuffer);
    const int frequencyView = layout.add(4 * r);
    const int waveNumberView = layout.add(4 * r);
    const int shapeView = layout.add(12 * n * r);
    const int sourcePositionView = sourceCount > 0 ? layout.add(12 * sourceCount) : -1;
    const int realView = sourceCount > 0 ? layout.add(16 * sourceCount) : -1;
    const int imaginaryView = sourceCount > 0 ? layout.add(16 * sourceCount) : -1;

    Accessors accessors;
    const int positions = accessors.add(positionView, 0, kFloat, n, "VEC3");
    // POSITION needs its bounds, of the float values as stored.
    std::vector<float> lower(3, std::numeric_limits<float>::max()), upper(3, -lower[0]);
    for (int64_t v = 0; v < n; ++v)
        for (int a = 0; a < 3; ++a) {
            const float x = static_cast<float>(scene.vertices[3 * v + a]);
            lower[a] = std::min(lower[a], x);
            upper[a] = std::max(upper[a], x);
        }
    accessors.list[positions]["min"] = lower;
    accessors.list[positions]["max"] = upper;
    const int indices = accessors.add(indexView, 0, kUnsignedInt, 3 * triangles, "SCALAR");
    const int frequencies = accessors.add(frequencyView, 0, kFloat, r, "SCALAR");
    const int waveNumbers = accessors.add(waveNumberView, 0, kFloat, r, "SCALAR");

    Json modes = Json::array();
    for (int64_t j = 0; j < r; ++j) {
        Json mode = {{"shape", accessors.add(shapeView, 12 * n * j, kFloat, n, "VEC3")}};
        const int64_t first = scene.sourceOffsets[j];
        const int64_t count = scene.sourceOffsets[j + 1] - first;
        mode["sourceCount"] = count;
        if (count > 0) {
            mode["sourcePositions"] =
                accessors.add(sourcePositionView, 12 * first, kFloat, count, "VEC3");
            mode["sourceCoefficientsReal"] =
                accessors.add(realView, 16 * first, kFloat, count, "VEC4");
            mode["sourceCoefficientsImaginary"] =
                accessors.add(imaginaryView, 16 * first, kFloat, count, "VEC4");
        }
        modes.push_back(mode);
    }

    Json extension = {
        {"modeCount", r},
        {"frequencies", frequencies},
        {"rayleighDamping", {{"alpha", scene.alpha_perSecond}, {"beta", scene.beta_seconds}}},
        {"waveNumbers", waveNumbers}};
    if (std::isfinite(scene.forceUnit_N)) extension["forceUnit"] = scene.forceUnit_N;
    if (scene.report.rowCount() == r) extension["tiers"] = scene.report.tier;
    extension["modes"] = modes;

    Json primitive = {{"attributes", {{"POSITION", positions}}}, {"indices", indices}, {"mode", 4}};
    primitive["extensions"][kModalSoundExtension] = extension;
    Json gltf = {{"asset", {{"version", "2.0"}, {"generator", "tonwell-bake --export gltf"}}},
                 {"extensionsUsed", {kModalSoundExtension}},
                 {"scene", 0},
                 {"scenes", {{{"nodes", {0}}}}},
                 {"nodes", {{{"name", scene.name}, {"mesh", 0}}}},
                 {"meshes", {{{"name", scene.name}, {"primitives", {primitive}}}}},
                 {"buffers", {{{"byteLength", layout.length}}}},
                 {"bufferViews", layout.bufferViews},
                 {"accessors", accessors.list}};
    std::string json = gltf.dump();
    json.append(paddedTo4(json.size()) - json.size(), ' ');

    const uint64_t total = 12 + 8 + json.size() + 8 + layout.length;
    if (total > 0xFFFFFFFFull)
        throw BakeError(path + ": the scene needs " + std::to_string(total) +
                        " bytes, more than the 4 GiB a .glb file can hold");

    // [SECTION] The file
    CFile file(std::fopen(path.c_str(), "wb"));
    if (!file) throw BakeError(path + ": cannot be created");
    std::string head;
    putU32(head, kMagic);
    putU32(head, 2);
    putU32(head, static_cast<uint32_t>(total));
    putU32(head, static_cast<uint32_t>(json.size()));
    putU32(head, kJsonChunk);
    head += json;
    putU32(head, static_cast<uint32_t>(layout.length));
    putU32(head, kBinChunk);
    BinWriter bin(file.get(), path);
    bin.put(head.data(), head.size());
    bin.written = 0;  // offsets below are within the BIN chunk

    bin.floats(scene.vertices.data(), 3 * n);
    bin.padTo4();
    std::vector<uint32_t> faceIndices(scene.faces.begin(), scene.faces.end());
    bin.put(faceIndices.data(), faceIndices.size());
    bin.padTo4();
    bin.floats(scene.frequencies_Hz.data(), r);
    bin.padTo4();
    bin.floats(scene.waveNumbers_perMetre.data(), r);
    bin.padTo4();
    bin.floats(scene.modeShapes.get(), 3 * n * r);  // column j of ".U" is mode j's VEC3s
    bin.padTo4();
    if (sourceCount > 0) {
        std::vector<double> positionsOut(3 * sourceCount), real(4 * sourceCount),
            imaginary(4 * sourceCount);
        for (int64_t s = 0; s < sourceCount; ++s) {
            const double* record = scene.sources.data() + kSourceRecordSize * s;
            for (int a = 0; a < 3; ++a) positionsOut[3 * s + a] = record[a];
            for (int c = 0; c < 4; ++c) {
                real[4 * s + c] = record[3 + 2 * c];
                imaginary[4 * s + c] = record[4 + 2 * c];
            }
        }
        bin.floats(positionsOut.data(), positionsOut.size());
        bin.padTo4();
        bin.floats(real.data(), real.size());
        bin.padTo4();
        bin.floats(imaginary.data(), imaginary.size());
        bin.padTo4();
    }
    if (bin.written != layout.length)
        throw BakeError(path + ": wrote " + std::to_string(bin.written) +
                        " bytes of binary data, " + "laid out " + std::to_string(layout.length) +
                        " (a bug in the exporter)");
    if (std::fclose(file.release()) != 0) throw BakeError(path + ": cannot be written (close)");
}
