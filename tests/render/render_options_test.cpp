// The renderer's command line and strike descriptions: defaults, every setting reaching its
// field, and strikes read from a script.
#include "tools/render/render_options.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

TEST(RenderOptions, DefaultsAreTheDemosSettings) {
    RenderOptions options;
    ASSERT_EQ(parseRenderArguments({"chair", "-o", "a.wav", "--strike", "vertex=7"}, &options), "");
    EXPECT_EQ(options.sceneFolder, "chair");
    EXPECT_EQ(options.outputFile, "a.wav");
    EXPECT_EQ(options.rendererType, 0);
    EXPECT_EQ(options.channelCount, 1);
    EXPECT_EQ(options.modeCount, -1);
    EXPECT_EQ(options.impactDuration, 10);
    EXPECT_EQ(options.zepRate, 200);
    EXPECT_TRUE(options.float32);
    EXPECT_FALSE(options.hasListener);
    ASSERT_EQ(options.strikes.size(), 1u);
    const StrikeRequest& s = options.strikes[0];
    EXPECT_EQ(s.vertex, 7);
    EXPECT_EQ(s.time, 0.0);
    EXPECT_TRUE(s.fromListener);
    EXPECT_FALSE(s.hasMagnitude);
}

TEST(RenderOptions, EverySettingReachesItsField) {
    RenderOptions options;
    ASSERT_EQ(
        parseRenderArguments({"--stereo", "--output", "b.wav", "--modes", "12", "--impact-duration",
                              "256", "--zep-rate", "300", "--length", "0.25", "--format", "pcm16",
                              "--camera", "2,-45,10.5", "--strike",
                              "at=1.5 point=0.1,-2,3e-2 direction=0,-1,0 "
                              "magnitude=3",
                              "bell/"},
                             &options),
        "");
    EXPECT_EQ(options.sceneFolder, "bell/");
    EXPECT_EQ(options.channelCount, 2);
    EXPECT_EQ(options.modeCount, 12);
    EXPECT_EQ(options.impactDuration, 256);
    EXPECT_EQ(options.zepRate, 300);
    EXPECT_EQ(options.lengthSeconds, 0.25);
    EXPECT_FALSE(options.float32);
    ASSERT_TRUE(options.hasCamera);
    EXPECT_EQ(options.camera[1], -45.0);
    const StrikeRequest& s = options.strikes.at(0);
    EXPECT_EQ(s.time, 1.5);
    EXPECT_TRUE(s.hasPoint);
    EXPECT_EQ(s.point[1], -2.0);
    EXPECT_EQ(s.point[2], 0.03);
    EXPECT_FALSE(s.fromListener);
    EXPECT_EQ(s.direction[1], -1.0);
    EXPECT_EQ(s.magnitude, 3.0);
}

TEST(RenderOptions, BinauralTakesTwoChannelsItsSetAndTheHeadsYaw) {
    RenderOptions options;
    ASSERT_EQ(parseRenderArguments({"dragon", "-o", "b.wav", "--strike", "vertex=2", "--binaural",
                                    "--hrtf", "heads/kemar.sofa", "--head-yaw", "-37.5"},
                                   &options),
              "");
    EXPECT_TRUE(options.binaural);
    EXPECT_EQ(options.channelCount, 2);
    EXPECT_EQ(options.hrtfFile, "heads/kemar.sofa");
    EXPECT_EQ(options.headYaw, -37.5);
    // The last channel option wins, as between --mono and --stereo.
    RenderOptions stereo;
    ASSERT_EQ(
        parseRenderArguments(
            {"dragon", "-o", "b.wav", "--strike", "vertex=2", "--binaural", "--stereo"}, &stereo),
        "");
    EXPECT_FALSE(stereo.binaural);
    EXPECT_EQ(stereo.channelCount, 2);
    EXPECT_NE(std::string(renderUsage()).find("--binaural"), std::string::npos);
    EXPECT_NE(std::string(renderUsage()).find("--head-yaw DEGREES"), std::string::npos);
}

TEST(RenderOptions, RefusesWithOneMessageEach) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"chair", "-o", "a.wav", "--strike", "vertex=1", "--modes"}, "--modes: missing value"},
        {{"chair", "-o", "a.wav", "--strike", "vertex=1", "--modes", "0"},
         "--modes 0: the number of modes must be a whole number of at least 1"},
        {{"chair", "-o", "a.wav", "--strike", "vertex=1", "--impact-duration", "257"},
         "--impact-duration 257: the impact duration must be a whole number from 1 to 256"},
        {{"chair", "-o", "a.wav", "--strike", "vertex=1", "--renderer", "zep"},
         "--renderer zep: the renderer is \"ZEP\" or \"Modal\""},
        {{"chair", "-o", "a.wav", "--strike", "vertex=1", "--listener", "1,2"},
         "--listener 1,2: expected X,Y,Z"},
        {{"chair", "-o", "a.wav", "--strike", "vertex=1", "--listener", "1,2,3", "--camera",
          "1,0,0"},
         "--listener and --camera both place the listener: give one of them"},
        {{"chair", "bell", "-o", "a.wav", "--strike", "vertex=1"},
         "bell: only one scene folder may be given (the first was chair)"},
        {{"chair", "-o", "a.wav", "--strike", "vertex=1 direction=0,0,0"},
         "--strike \"vertex=1 direction=0,0,0\": direction 0,0,0 is zero"},
        {{"chair", "-o", "a.wav", "--strike", "vertex=1.5"},
         "--strike \"vertex=1.5\": vertex \"1.5\" is not a whole number"},
        {{"chair", "-o", "a.wav", "--strike", "vertex=1 at=nan"},
         "--strike \"vertex=1 at=nan\": time \"nan\" is not a number"},
        {{"chair", "-o", "a.wav", "--strike", "vertex=1 magnitude=-2"},
         "--strike \"vertex=1 magnitude=-2\": magnitude -2 is negative"},
        // Values a block count, a float magnitude or a normalisation could not hold.
        {{"chair", "-o", "a.wav", "--strike", "vertex=1 at=1e300"},
         "--strike \"vertex=1 at=1e300\": time 1e300 is after 3600 s"},
        {{"chair", "-o", "a.wav", "--strike", "vertex=1 magnitude=1e39"},
         "--strike \"vertex=1 magnitude=1e39\": magnitude 1e39 is above 1e6"},
        {{"chair", "-o", "a.wav", "--strike", "vertex=1 direction=1e-200,0,0"},
         "--strike \"vertex=1 direction=1e-200,0,0\": direction 1e-200,0,0 is zero"},
        {{"chair", "-o", "a.wav", "--strike", "vertex=1 direction=1e200,1e200,0"},
         "--strike \"vertex=1 direction=1e200,1e200,0\": direction 1e200,1e200,0 is too long"},
        {{"chair", "-o", "a.wav", "--script", "/dev/zero"},
         "/dev/zero: cannot be read (not a regular file)"},
        {{"chair", "-o", "a.wav", "--strike", "vertex=1", "--hrtf", "kemar.sofa"},
         "--hrtf kemar.sofa: an HRTF set is for --binaural output only"},
        {{"chair", "-o", "a.wav", "--strike", "vertex=1", "--binaural", "--head-yaw", "left"},
         "--head-yaw left: the head's yaw must be a number of degrees, -360..360"},
        {{"chair", "-o", "a.wav", "--strike", "vertex=1", "--binaural", "--head-yaw", "400"},
         "--head-yaw 400: the head's yaw must be a number of degrees, -360..360"},
        {{"chair", "-o", "a.wav", "--strike", "vertex=1", "--binaural", "--renderer", "Modal"},
         "--renderer Modal: the \"Modal\" renderer is mono only; use --mono or ZEP"},
    };
    for (const auto& c : cases) {
        RenderOptions options;
        EXPECT_EQ(parseRenderArguments(c.first, &options), c.second);
    }
}

TEST(StrikeScript, ReadsEveryStrikeLineAndNamesTheBadOne) {
    TempDir dir;
    const std::string good = dir.write("good.txt",
                                       "# strikes\n"
                                       "at=0 vertex=3\r\n"
                                       "   \n"
                                       "at=0.5 point=0,1,0 magnitude=2\n"
                                       "at=1 vertex=9 direction=listener");
    std::vector<StrikeRequest> strikes;
    ASSERT_EQ(readStrikeScript(good, &strikes), "");
    ASSERT_EQ(strikes.size(), 3u);
    EXPECT_EQ(strikes[0].vertex, 3);
    EXPECT_EQ(strikes[1].time, 0.5);
    EXPECT_TRUE(strikes[1].hasPoint);
    EXPECT_EQ(strikes[2].vertex, 9);
    EXPECT_EQ(strikes[2].origin, good + ":5");

    const std::string bad = dir.write("bad.txt", "at=0 vertex=3\n\nat=0.1 vertex=4 from=eye\n");
    strikes.clear();
    EXPECT_EQ(readStrikeScript(bad, &strikes),
              bad +
                  ":3: unknown key \"from\" (expected at, vertex, point, direction, "
                  "magnitude, duration)");
}

}  // namespace
