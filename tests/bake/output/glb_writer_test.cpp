// The glTF binary of a tiny scene at the byte level: the header's magic, version and total
// length; the JSON chunk padded with spaces and the BIN chunk with zeros, both to 4 bytes and
// ending at the end of the file; every buffer view and accessor 4-byte aligned and inside its
// buffer; the extension declared; POSITION's bounds those of its floats.
#include "tools/bake/output/glb_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>

#include "geometry/scene_presets.h"
#include "tests/bake/output/zip_test_reader.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_scene.h"
#include "tools/bake/output/scene_data.h"

namespace {

// Checks the ".glb" of the test scene `selector`; *jsonPadding = the spaces after the JSON text.
void checkGlb(int selector, size_t* jsonPadding) {
    TempDir dir;
    const std::string name = sceneName(selector);
    writeTestScene(dir.path(), selector);
    SceneData scene;
    ASSERT_EQ(readSceneData(dir.file(name), &scene), "");
    writeGlb(scene, dir.file("scene.glb"));
    const std::string glb = readFileBytes(dir.file("scene.glb"));

    ASSERT_GE(glb.size(), 28u);
    EXPECT_EQ(glb.substr(0, 4), "glTF");
    EXPECT_EQ(readU32(glb, 4), 2u);
    EXPECT_EQ(readU32(glb, 8), glb.size());
    const uint32_t jsonLength = readU32(glb, 12);
    EXPECT_EQ(glb.substr(16, 4), "JSON");
    EXPECT_EQ(jsonLength % 4, 0u);
    const std::string jsonText = glb.substr(20, jsonLength);
    const size_t lastBrace = jsonText.rfind('}');
    EXPECT_EQ(jsonText.find_first_not_of(' ', lastBrace + 1), std::string::npos);
    *jsonPadding = jsonText.size() - lastBrace - 1;
    EXPECT_LT(*jsonPadding, 4u);
    const size_t binHeader = 20 + jsonLength;
    const uint32_t binLength = readU32(glb, binHeader);
    EXPECT_EQ(glb.substr(binHeader + 4, 4), std::string("BIN\0", 4));
    EXPECT_EQ(binLength % 4, 0u);
    EXPECT_EQ(binHeader + 8 + binLength, glb.size());
    const std::string bin = glb.substr(binHeader + 8);

    const nlohmann::json gltf = nlohmann::json::parse(jsonText);
    EXPECT_EQ(gltf["asset"]["version"], "2.0");
    EXPECT_EQ(gltf["extensionsUsed"], nlohmann::json::array({"TONWELL_modal_sound"}));
    const uint64_t bufferLength = gltf["buffers"][0]["byteLength"];
    EXPECT_LE(bufferLength, binLength);
    EXPECT_LT(binLength - bufferLength, 4u);
    // The padding after the last view is zeros.
    EXPECT_EQ(bin.find_first_not_of('\0', bufferLength), std::string::npos);
    for (const auto& view : gltf["bufferViews"]) {
        const uint64_t offset = view["byteOffset"], length = view["byteLength"];
        EXPECT_EQ(offset % 4, 0u);
        EXPECT_LE(offset + length, bufferLength);
    }
    const std::map<std::string, int> components = {{"SCALAR", 1}, {"VEC3", 3}, {"VEC4", 4}};
    for (const auto& accessor : gltf["accessors"]) {
        const auto& view = gltf["bufferViews"][accessor["bufferView"].get<int>()];
        const uint64_t offset = accessor["byteOffset"];
        const uint64_t bytes =
            4 * accessor["count"].get<uint64_t>() * components.at(accessor["type"]);
        EXPECT_EQ((view["byteOffset"].get<uint64_t>() + offset) % 4, 0u);
        EXPECT_LE(offset + bytes, view["byteLength"].get<uint64_t>()) << accessor.dump();
    }

    // POSITION: the vertices as floats, with the bounds of those floats.
    const auto& primitive = gltf["meshes"][0]["primitives"][0];
    const auto& position = gltf["accessors"][primitive["attributes"]["POSITION"].get<int>()];
    ASSERT_EQ(position["count"], scene.vertexCount);
    const uint64_t start = gltf["bufferViews"][position["bufferView"].get<int>()]["byteOffset"];
    for (int a = 0; a < 3; ++a) {
        float lower = 1e30f, upper = -1e30f;
        for (int v = 0; v < scene.vertexCount; ++v) {
            float x;
            std::memcpy(&x, bin.data() + start + 12 * v + 4 * a, 4);
            EXPECT_EQ(x, static_cast<float>(scene.vertices[3 * v + a]));
            lower = std::min(lower, x);
            upper = std::max(upper, x);
        }
        EXPECT_EQ(position["min"][a].get<float>(), lower);
        EXPECT_EQ(position["max"][a].get<float>(), upper);
    }
    const auto& extension = primitive["extensions"]["TONWELL_modal_sound"];
    EXPECT_EQ(extension["modeCount"], scene.modeCount);
    EXPECT_EQ(extension["modes"].size(), static_cast<size_t>(scene.modeCount));
}

}  // namespace

TEST(GlbWriter, ChunksAndAccessorsAreAlignedAndInsideTheFile) {
    // The three test scenes' names make JSON texts of different lengths: one at least is padded.
    size_t anyPadding = 0;
    for (int selector : {kBellScene, kChairScene, kDragonScene}) {
        SCOPED_TRACE(sceneName(selector));
        size_t padding = 0;
        checkGlb(selector, &padding);
        anyPadding += padding;
    }
    EXPECT_GT(anyPadding, 0u);
}
