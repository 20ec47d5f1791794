// The preset file of a baked scene folder: each kind of broken file (missing field, wrong type,
// out of range, renamed folder, not JSON, no file) gives its one message naming the file and the
// field, and the program's reader then exits with 1. (That a complete file's values reach the
// program as the fixed table's do is checked through tonwell-render, tests/render.)
#include "app/scene_preset_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <string>

#include "tests/support/temp_dir.h"

namespace {

using Json = nlohmann::json;

// A complete, valid file for the folder "ring", as the baker writes it.
Json ringPresets() {
    return Json::parse(R"({
      "format": "tonwell-presets/1", "name": "ring",
      "camera": { "radius": 0.62, "azimuth": -70.0, "elevation": 20.0,
                  "focus": [0.0, 0.01, -0.02], "maxDistance": 2.5 },
      "impact": { "magnitude": 0.8, "min": 0.032, "max": 3.2 },
      "damping": { "mass": 5.0, "stiffness": 2e-8 },
      "modalGain": 15000.0,
      "lights": { "intensity": 0.6, "enabled": [0, 0, 1, 0, 0, 0, 0, 1] },
      "background": [0.12, 0.12, 0.14],
      "floor": false,
      "files": { "mesh": "ring.obj", "modeShapes": "ring.U", "frequencies": "ring.freq",
                 "transferList": "ring-ZEPObjectsList-15.txt" },
      "comment": "unknown fields are ignored" })");
}

std::string parse(const std::string& text, const std::string& folder = "demo/ring") {
    ScenePresetFile presets;
    return parseScenePresetFile(text, "ring/presets.json", folder, &presets);
}

}  // namespace

TEST(ScenePresetFile, EachBrokenFieldNamesTheFileAndTheField) {
    struct Case {
        const char* pointer;  // the field changed ("" : the text below replaces the file)
        Json value;           // its new value (null with `remove`: the field is taken out)
        bool remove;
        const char* message;
    };
    const std::string prefix = "Error: \"ring/presets.json\": ";
    ASSERT_EQ(parse(ringPresets().dump()), "");
    const Case cases[] = {
        {"/camera/radius", nullptr, true, "\"camera.radius\" is missing"},
        {"/camera/radius", "0.62", false, "\"camera.radius\" must be a number"},
        {"/camera/radius", 0.0, false, "\"camera.radius\" must be positive"},
        {"/camera", nullptr, true, "\"camera\" is missing"},
        {"/camera", Json::array(), false, "\"camera\" must be an object"},
        {"/camera/focus", Json::array({0, 0}), false,
         "\"camera.focus\" must be an array of 3 numbers"},
        {"/camera/elevation", 90, false,
         "\"camera.elevation\" must lie between -90 and 90 (exclusive)"},
        {"/camera/maxDistance", 0.5, false,
         "\"camera.maxDistance\" must be at least camera.radius"},
        {"/impact/magnitude", 4.0, false,
         "\"impact.magnitude\" must lie between impact.min and impact.max"},
        {"/impact/min", -1, false, "\"impact.min\" must be positive"},
        {"/impact/max", 1e300, false, "\"impact.max\" is out of range"},
        {"/damping/stiffness", -1e-8, false, "\"damping.stiffness\" must not be negative"},
        {"/modalGain", true, false, "\"modalGain\" must be a number"},
        {"/lights/enabled/3", 2, false, "\"lights.enabled[3]\" must be 0 or 1"},
        {"/background/1", 1.5, false, "\"background[1]\" must lie between 0 and 1"},
        {"/floor", 0, false, "\"floor\" must be true or false"},
        {"/files/transferList", nullptr, true, "\"files.transferList\" is missing"},
        {"/files/mesh", "/elsewhere/ring.obj", false,
         "\"files.mesh\" must name a file inside the scene folder"},
        {"/format", "tonwell-presets/2", false,
         "\"format\" is \"tonwell-presets/2\"; this program reads \"tonwell-presets/1\""},
        {"/name", "torus", false,
         "\"name\" is \"torus\" but must be the folder's name \"ring\" (the transfer list names "
         "its files under it)"},
    };
    for (const Case& c : cases) {
        Json file = ringPresets();
        const Json::json_pointer field(c.pointer);
        if (c.remove) {
            file[field.parent_pointer()].erase(field.back());
        } else {
            file[field] = c.value;
        }
        EXPECT_EQ(parse(file.dump()), prefix + c.message) << c.pointer;
    }
    EXPECT_EQ(parse("[1, 2]"), prefix + "the top level must be an object");
    // The parser's own words follow the place it stopped at.
    const std::string message =
        parse("{\n  \"format\": \"tonwell-presets/1\",\n  \"name\": ring\n}");
    const std::string expectedStart = prefix + "not valid JSON (parse error at line 3, column 11";
    EXPECT_EQ(message.substr(0, expectedStart.size()), expectedStart) << message;
    // A number beyond double's range is refused by the parser, not handed on as infinity.
    EXPECT_EQ(parse(R"({"camera": {"radius": 1e400}})"),
              prefix + "not valid JSON (number overflow parsing '1e400')");
}

TEST(ScenePresetFileDeathTest, BrokenOrMissingFileEndsTheProgramWithItsMessage) {
    TempDir dir;
    Json broken = ringPresets();
    broken["impact"].erase("magnitude");
    dir.write("ring/presets.json", broken.dump(2));
    const auto readFrom = [&](const std::string& folder) {
        // The message goes to standard output; the death test watches standard error.
        fflush(stdout);
        dup2(2, 1);
        ScenePresetFile presets;
        readScenePresetFileOrExit(folder, &presets);
    };
    inDirectory(dir.path(), [&] {
        EXPECT_EXIT(readFrom("ring"), testing::ExitedWithCode(1),
                    "^Error: \"ring/presets.json\": \"impact.magnitude\" is missing\n$");
        EXPECT_EXIT(readFrom("cup/"), testing::ExitedWithCode(1),
                    "^Error: \"cup/presets.json\" cannot be read \\(No such file or directory\\)");
    });
}
