// The transfer plan: each group's tier from the wavelength and the object's size, shared surfaces
// on the ladder, a few tier C groups per octave checked, and settings that cannot work refused
// with the recipe field to change.
#include "tools/bake/transfer/transfer_plan.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tools/bake/common/bake_error.h"

namespace {

// A 1 m^2 object 0.5 m across, six elements per wavelength: N(f) = f^2 / 1414.9 elements, so the
// dense tier (2,000 elements) ends at 1,682 Hz and k D = 20 is reached at 2,184 Hz. Tiers A, B and
// C, without the wave tier.
TransferSettings options() {
    TransferSettings o;
    o.waveTier = false;
    o.elementsPerWavelength = 6;
    o.minElements = 200;
    o.maxElements = 2000;
    o.hmatrixMaxElements = 8000;
    o.highFrequencyKD = 20;
    return o;
}

}  // namespace

TEST(TransferPlan, TiersFollowTheWavelengthAndTheObjectsSize) {
    EXPECT_NEAR(elementsNeeded(1.0, 1000, 6), 1000.0 * 1000.0 / 1414.9, 1.0);
    Eigen::VectorXd hz(5);
    hz << 300, 1000, 1900, 2500, 2502;
    const TransferPlan plan = planSceneTransfer(hz, 1.0, 0.5, 100000, options(), "r.json");
    ASSERT_EQ(plan.groups.size(), 4u);  // 2500 and 2502 Hz share a solve
    EXPECT_EQ(plan.groups[0].tier, TransferTier::dense);
    EXPECT_EQ(plan.groups[1].tier, TransferTier::dense);
    EXPECT_EQ(plan.groups[2].tier, TransferTier::hmatrix);
    EXPECT_EQ(plan.groups[3].tier, TransferTier::highFrequency);
    EXPECT_EQ(plan.groups[3].modes, (std::vector<int>{3, 4}));
    EXPECT_NEAR(plan.groups[3].frequency, 2501, 1e-9);
    // Surfaces from the ladder, never coarser than needed, never beyond the tier's limit.
    for (int g = 0; g < 3; ++g) {
        const int elements = plan.meshTargets[plan.groups[g].mesh];
        EXPECT_GE(elements, std::max(200.0, elementsNeeded(1.0, hz[g], 6)) - 1) << g;
        EXPECT_LE(elements, g < 2 ? 2000 : 8000) << g;
    }
    EXPECT_EQ(plan.meshTargets[plan.groups[0].mesh], 200);  // 64 needed: the minimum
    EXPECT_EQ(meshLadderStep(201, 200), 280);
    // Where the dense tier could take a group above the threshold, it does, unless tier C is
    // asked for first.
    TransferSettings roomy = options();
    roomy.maxElements = 8000;
    Eigen::VectorXd high(1);
    high << 2300;
    EXPECT_EQ(planSceneTransfer(high, 1.0, 0.5, 100000, roomy, "r.json").groups[0].tier,
              TransferTier::dense);
    roomy.highFrequencyFirst = true;
    EXPECT_EQ(planSceneTransfer(high, 1.0, 0.5, 100000, roomy, "r.json").groups[0].tier,
              TransferTier::highFrequency);
}

TEST(TransferPlan, TheWaveTierTakesEveryGroupTierACannot) {
    // By default: tier A up to its surface's limit, then the wave tier, neither B nor C (the
    // recipe has to ask for tier C); a surface too coarse for a group sends it to the wave tier,
    // and no band is refused for want of boundary elements.
    TransferSettings o;
    o.elementsPerWavelength = 6;
    o.minElements = 200;
    o.maxElements = 2000;
    Eigen::VectorXd hz(5);
    hz << 300, 1000, 1900, 2500, 2502;
    const TransferPlan plan = planSceneTransfer(hz, 1.0, 0.5, 100000, o, "r.json");
    std::string tiers;
    for (const TransferGroupPlan& g : plan.groups) tiers += static_cast<char>(g.tier);
    EXPECT_EQ(tiers, "AAWW");
    EXPECT_EQ(plan.groups[3].modes, (std::vector<int>{3, 4}));
    EXPECT_NE(
        describeTransferPlan(plan).find("tier W (wave equation): 3 modes, 1900 Hz to 2501 Hz"),
        std::string::npos)
        << describeTransferPlan(plan);
    EXPECT_EQ(planSceneTransfer(hz, 1.0, 0.5, 800, o, "r.json").groups[1].tier,
              TransferTier::dense);  // 1000 Hz needs 707 elements: 800 triangles hold them
    EXPECT_EQ(planSceneTransfer(hz, 1.0, 0.5, 600, o, "r.json").groups[1].tier, TransferTier::wave);
    EXPECT_NO_THROW(checkTransferSettings(o, 16000, 1.0, 0.5, 1000, 16e9, 2, "r.json"));
    // Tier C where the recipe asks for it.
    o.highFrequencyKD = 20;
    EXPECT_EQ(planSceneTransfer(hz, 1.0, 0.5, 100000, o, "r.json").groups[3].tier,
              TransferTier::highFrequency);
}

TEST(TransferPlan, AFewHighFrequencyGroupsPerOctaveAreChecked) {
    TransferSettings o = options();
    o.checkModesPerOctave = 1;
    o.checkElementsPerWavelength = 8;
    o.checkMaxElements = 16000;  // 8 per wavelength: enough up to 3,570 Hz
    Eigen::VectorXd hz(5);
    hz << 2300, 2600, 3300, 4700, 5000;
    const TransferPlan plan = planSceneTransfer(hz, 1.0, 0.5, 100000, o, "r.json");
    ASSERT_EQ(plan.groups.size(), 5u);
    std::vector<bool> checked;
    for (const TransferGroupPlan& g : plan.groups) {
        EXPECT_EQ(g.tier, TransferTier::highFrequency);
        checked.push_back(g.checked);
    }
    // 2300 checked; 2600 and 3300 within its octave; 4700 an octave up but beyond the reference's
    // affordable size.
    EXPECT_EQ(checked, (std::vector<bool>{true, false, false, false, false}));
    EXPECT_EQ(plan.groups[0].referenceTier, TransferTier::hmatrix);
    EXPECT_GE(plan.meshTargets[plan.groups[0].referenceMesh], elementsNeeded(1.0, 2300, 8) - 1);
}

TEST(TransferPlan, SettingsThatCannotWorkNameTheirField) {
    TransferSettings o = options();
    o.hmatrixMaxElements = 0;  // nothing between the dense tier and k D = 20
    Eigen::VectorXd hz(1);
    hz << 1900;
    try {
        planSceneTransfer(hz, 1.0, 0.5, 100000, o, "r.json");
        FAIL() << "expected a refusal";
    } catch (const BakeError& e) {
        EXPECT_NE(std::string(e.what()).find("r.json: \"transfer.maxElements\""), std::string::npos)
            << e.what();
    }
    // A surface with fewer triangles than a group needs boundary elements.
    hz << 1000;
    try {
        planSceneTransfer(hz, 1.0, 0.5, 500, options(), "r.json");
        FAIL() << "expected a refusal";
    } catch (const BakeError& e) {
        EXPECT_NE(std::string(e.what()).find("only 500 triangles"), std::string::npos) << e.what();
    }
    auto refusal = [](const TransferSettings& o, double band, int triangles, double memory) {
        try {
            checkTransferSettings(o, band, 1.0, 0.5, triangles, memory, 2, "r.json");
        } catch (const BakeError& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    // Fine as they are.
    EXPECT_EQ(refusal(options(), 8000, 100000, 16e9), "");
    // No tier C: the band's top needs 45,000 elements.
    TransferSettings noHighFrequency = options();
    noHighFrequency.highFrequencyKD = 0;
    EXPECT_NE(refusal(noHighFrequency, 8000, 100000, 16e9).find("\"modes.maxFrequency\""),
              std::string::npos);
    // A surface too coarse for the boundary elements below the threshold.
    EXPECT_NE(refusal(options(), 8000, 1000, 16e9).find("only 1000 triangles"), std::string::npos);
    // Dense matrices beyond the memory.
    TransferSettings huge = options();
    huge.maxElements = 60000;
    EXPECT_NE(refusal(huge, 8000, 100000, 16e9).find("\"transfer.maxElements\""),
              std::string::npos);
}
