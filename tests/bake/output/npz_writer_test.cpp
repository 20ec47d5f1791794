// The npz archive of a tiny scene at the byte level: a valid stored zip whose every member is an
// ".npy" file (magic, version 1.0, a header that ends in a line feed on a 64-byte boundary, a
// shape whose elements fill the member exactly), and the mode shapes transposed from ".U"'s
// column-major (3n x r) to C-order (n, 3, r), compared with the file read here.
#include "tools/bake/output/npz_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <regex>
#include <set>

#include "geometry/scene_presets.h"
#include "tests/bake/output/zip_test_reader.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_scene.h"
#include "tools/bake/output/scene_data.h"

namespace {

struct NpyArray {
    std::string descr;
    std::vector<long> shape;
    std::string data;
};

// Parses one ".npy" member; problems are test failures.
NpyArray parseNpy(const ZipTestMember& member) {
    NpyArray array;
    const std::string& bytes = member.data;
    EXPECT_EQ(bytes.compare(0, 8, std::string("\x93NUMPY\x01\x00", 8)), 0) << member.name;
    const size_t headerLength = readU16(bytes, 8);
    EXPECT_EQ((10 + headerLength) % 64, 0u) << member.name;
    const std::string header = bytes.substr(10, headerLength);
    EXPECT_EQ(header.back(), '\n') << member.name;
    std::smatch match;
    const std::regex dict(
        R"(^\{'descr': '([<|][a-z][0-9]+)', 'fortran_order': False, 'shape': \(([0-9, ]*)\), \} *\n$)");
    EXPECT_TRUE(std::regex_match(header, match, dict)) << member.name << ": " << header;
    if (match.size() != 3) return array;
    array.descr = match[1];
    const std::string dims = match[2];
    const std::regex number("[0-9]+");
    for (std::sregex_iterator it(dims.begin(), dims.end(), number), end; it != end; ++it)
        array.shape.push_back(std::stol(it->str()));
    array.data = bytes.substr(10 + headerLength);
    long elements = 1;
    for (long n : array.shape) elements *= n;
    EXPECT_EQ(array.data.size(), elements * std::stoul(array.descr.substr(2))) << member.name;
    return array;
}

}  // namespace

TEST(NpzWriter, EveryMemberIsAnNpyArrayThatFillsItsMemberExactly) {
    TempDir dir;
    writeTestScene(dir.path(), kChairScene);
    SceneData scene;
    ASSERT_EQ(readSceneData(dir.file("chair"), &scene), "");
    writeNpz(scene, dir.file("chair.npz"));

    std::string problem;
    const std::vector<ZipTestMember> members =
        readStoredZip(readFileBytes(dir.file("chair.npz")), &problem);
    ASSERT_EQ(problem, "");
    std::map<std::string, NpyArray> arrays;
    for (const ZipTestMember& m : members) {
        ASSERT_EQ(m.name.substr(m.name.size() - 4), ".npy");
        arrays[m.name.substr(0, m.name.size() - 4)] = parseNpy(m);
    }
    // The test scene has no report: the scene's arrays and nothing of a report.
    std::set<std::string> names;
    for (const auto& [name, array] : arrays) names.insert(name);
    EXPECT_EQ(names, (std::set<std::string>{
                         "frequencies", "damping_alpha", "damping_beta", "damping", "vertices",
                         "faces", "mode_shapes", "force_unit", "transfer_wave_numbers",
                         "transfer_offsets", "transfer_positions", "transfer_coefficients"}));
    const long n = scene.vertexCount, r = scene.modeCount;
    EXPECT_EQ(arrays["mode_shapes"].shape, (std::vector<long>{n, 3, r}));
    EXPECT_EQ(arrays["transfer_coefficients"].descr, "<c16");
    EXPECT_EQ(arrays["transfer_coefficients"].shape, (std::vector<long>{r, 4}));
    EXPECT_EQ(arrays["damping_alpha"].shape, std::vector<long>{});
    EXPECT_EQ(arrays["faces"].descr, "<i4");

    // (v, a, j) of the array is row 3v + a, column j of the ".U" file.
    const std::string u = readFileBytes(dir.file("chair/chair.U"));
    const std::string& shapes = arrays["mode_shapes"].data;
    for (long v = 0; v < n; v += 37)
        for (long a = 0; a < 3; ++a)
            for (long j = 0; j < r; ++j) {
                double fromFile, exported;
                std::memcpy(&fromFile, u.data() + 8 + 8 * ((3 * v + a) + 3 * n * j), 8);
                std::memcpy(&exported, shapes.data() + 8 * ((v * 3 + a) * r + j), 8);
                ASSERT_EQ(exported, fromFile) << v << " " << a << " " << j;
            }
}
