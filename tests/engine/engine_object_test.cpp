// An engine object plays the demo's samples: the same chair loaded into the demo's process-wide
// bank and into an engine object, struck alike, swung alike and heard from the same listener,
// gives the demo's audio blocks' samples bit for bit in every way the demo plays (mono "ZEP" and
// "Modal", stereo, binaural through the default HRTF set), with a mode soloed, with a strike
// that lasts beyond the block and with a moving contact.
#include "engine/engine_object.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "geometry/dense_matrix.h"
#include "geometry/listener_points.h"
#include "geometry/mode_shape_matrix.h"
#include "geometry/object_pose.h"
#include "geometry/scene_presets.h"
#include "sound/audio_block.h"
#include "sound/audio_block_context.h"
#include "sound/impact.h"
#include "sound/sofa_file.h"
#include "sound/synthesis_state.h"
#include "tests/support/engine_test_scene.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_scene.h"

namespace {

constexpr int kChair = 1;
constexpr int kBlockFrames = 220;

enum class Way { kMonoZep, kMonoModal, kStereo, kBinaural };

struct DemoCase {
    Way way;
    int soloMode;        // -1: no mask
    int impactDuration;  // samples
    bool contact;        // a scrape from block 3 on
    const char* name;
};

// The demo's bank loaded from the test chair as scene loading loads it, with its own block
// context; released at the end.
struct DemoBank {
    explicit DemoBank(const TempDir& dir) {
        int rows = 0, r = 0, fr = 0, fc = 0;
        double *U = nullptr, *f = nullptr;
        EXPECT_EQ(loadDenseMatrix(dir.file("chair/chair.U").c_str(), &rows, &r, &U), 0);
        EXPECT_EQ(loadDenseMatrix(dir.file("chair/chair.freq").c_str(), &fr, &fc, &f), 0);
        shapes = std::make_unique<ModeShapeMatrix>(rows / 3, r, U);
        allocateModeArrays(r);
        context.allocate(r);
        for (int i = 0; i < r; ++i) {
            modeOmega[i] = f[i] * twoPi;
            modeStiffness[i] = modeOmega[i] * modeOmega[i];
        }
        createResonators(8.0, 7e-6);
        transferModel = loadTransferModel(dir.file("chair/chair-ZEPObjectsList-15.txt").c_str(),
                                          dir.path().c_str());
        modalRendererGain = 150.0;
        context.contactShapes = shapes.get();
        free(U);
        free(f);
    }
    ~DemoBank() {
        for (double* sources : transferModel.sourceBlocks) free(sources);
        transferModel = TransferModel();
        allocateModeArrays(0);
    }
    std::unique_ptr<ModeShapeMatrix> shapes;
    AudioBlockContext context;
};

ContactSetting scrape() {
    ContactSetting contact;
    contact.touching = true;
    contact.point = SurfacePoint{{3, 17, 18}, {0.2, 0.5, 0.3}};
    contact.direction[1] = 0.6;
    contact.direction[2] = 0.8;
    contact.normalForce = 0.4;
    contact.speed = 0.3;
    contact.design = designRoughnessProfile(ContactKind::kScrape, 1.5, 0.0);
    return contact;
}

class DemoAgreement : public ::testing::TestWithParam<DemoCase> {};

TEST_P(DemoAgreement, EngineObjectPlaysTheDemosSamplesBitForBit) {
    const DemoCase c = GetParam();
    TempDir dir;
    writeTestScene(dir.path(), kChair);
    const int channels = c.way == Way::kMonoZep || c.way == Way::kMonoModal ? 1 : 2;
    std::unique_ptr<HrtfSet> hrtf;
    if (c.way == Way::kBinaural) {
        std::string problem;
        hrtf = readSofaFile(kDefaultHrtfFile, &problem);
        ASSERT_NE(hrtf, nullptr) << problem;
    }

    DemoBank demo(dir);
    EngineObjectFiles files = testChairFiles(dir);
    files.modalRendererGain = 150.0;
    std::string problem;
    std::unique_ptr<EngineObject> object =
        EngineObject::load(files, kBlockFrames, channels, &problem);
    ASSERT_NE(object, nullptr) << problem;
    if (c.soloMode >= 0) {
        demo.context.modeMask.soloMode(c.soloMode);
        object->blockContext().modeMask.soloMode(c.soloMode);
    }

    // The listener a little off the chair's axis, the chair turned 30 degrees about y and lifted.
    const ListenerPoints listener = testListenerAt(0.4, 0.3, 0.9);
    const double a = 30.0 * degreesToRadians;
    const ObjectPose pose{{0.05, 0.1, -0.02},
                          {std::cos(a), 0, std::sin(a), 0, 1, 0, -std::sin(a), 0, std::cos(a)}};
    publishedListener.store(listener);
    publishedObjectPose.store(pose);
    object->setPose(pose);
    rendererType = c.way == Way::kMonoModal ? 1 : 0;
    impactDuration = c.impactDuration;
    demo.context.hrtf.store(hrtf.get());

    // Strikes: two in block 0 (they add up), one in block 5.
    struct Strike {
        int block, vertex;
        double direction[3];
        double magnitude;
    };
    const std::vector<Strike> strikes = {
        {0, 12, {0.3, -0.9, 0.3}, 0.5}, {0, 40, {-1, 0, 0}, 1.25}, {5, 3, {0, 0.6, 0.8}, 2.0}};
    const int blocks = 24;
    std::vector<float> demoOut(kBlockFrames * channels), expected(kBlockFrames * channels);
    std::vector<double> mix(kBlockFrames * channels);
    double peak = 0.0;
    for (int b = 0; b < blocks; ++b) {
        for (const Strike& s : strikes) {
            if (s.block != b) continue;
            // The demo's impact reaches the block after the next force exchange: put it in the
            // force this block loads, as the exchange before it would have.
            modalImpactForces(*demo.shapes, s.vertex, s.direction, s.magnitude, activeModalForce);
            ASSERT_TRUE(object->strike(s.vertex, s.direction, s.magnitude));
        }
        if (c.contact && b == 3) {
            demo.context.publishedContact.store(scrape());
            ASSERT_TRUE(object->setContact(scrape()));
        }
        switch (c.way) {
            case Way::kMonoZep:
            case Way::kMonoModal:
                synthesizeMonoBlock(demo.context, demoOut.data(), kBlockFrames);
                break;
            case Way::kStereo:
                synthesizeStereoBlock(demo.context, demoOut.data(), kBlockFrames);
                break;
            case Way::kBinaural:
                synthesizeBinauralBlock(demo.context, demoOut.data(), kBlockFrames);
                break;
        }
        object->renderBlock(listener, rendererType, impactDuration, kBlockFrames, mix.data(),
                            hrtf.get());
        for (size_t j = 0; j < mix.size(); ++j) {
            ASSERT_EQ(demoOut[j], clippedSample(mix[j]))
                << "block " << b << ", frame " << j / channels << ", channel " << j % channels;
            peak = std::max(peak, std::fabs(mix[j]));
        }
    }
    // Not silence: the comparison saw the strikes.
    EXPECT_GT(peak, 1e-4);
    demo.context.hrtf.store(nullptr);
    publishedObjectPose.store(identityPose());
    rendererType = 0;
    impactDuration = 10;
}

INSTANTIATE_TEST_SUITE_P(
    Ways, DemoAgreement,
    ::testing::Values(DemoCase{Way::kMonoZep, -1, 10, false, "MonoZep"},
                      DemoCase{Way::kMonoModal, -1, 10, false, "MonoModal"},
                      DemoCase{Way::kStereo, -1, 10, false, "Stereo"},
                      DemoCase{Way::kBinaural, -1, 10, false, "Binaural"},
                      DemoCase{Way::kStereo, 2, 10, false, "StereoSoloed"},
                      DemoCase{Way::kMonoZep, -1, 256, false, "MonoForceBeyondTheBlock"},
                      DemoCase{Way::kBinaural, -1, 10, true, "BinauralScraped"},
                      DemoCase{Way::kMonoZep, 1, 10, true, "MonoSoloedScraped"}),
    [](const ::testing::TestParamInfo<DemoCase>& info) { return info.param.name; });

}  // namespace
