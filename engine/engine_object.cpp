// Loading of an engine object from its files, its control-thread setters, and its block: the
// demo's bank block (sound/bank_block.h) on this object's own bank.
#include "engine/engine_object.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>

#include "geometry/dense_matrix.h"
#include "geometry/scene_presets.h"
#include "platform/input_exit.h"
#include "sound/bank_block.h"
#include "sound/bank_gains.h"
#include "sound/binaural_gains.h"
#include "sound/contact_loudness.h"
#include "sound/impact.h"
#include "sound/mode_levels.h"
#include "sound/synthesis_state.h"

namespace {

// A malloc'ed block of the dense matrix reader, released on every way out.
struct MatrixBlock {
    double* elements = nullptr;
    ~MatrixBlock() { free(elements); }
};

}  // namespace

// [SECTION] Loading

EngineObject::EngineObject(int modeCount, int maxBlockFrames, int channelCount)
    : modeCount_(modeCount), maxBlockFrames_(maxBlockFrames), channelCount_(channelCount) {
    frequency_.assign(modeCount, 0.0);
    omega_.assign(modeCount, 0.0);
    stiffness_.assign(modeCount, 0.0);
    for (std::vector<double>& force : stepForce_) force.assign(modeCount, 0.0);
    for (int c = 0; c < ModalBankLanes::kMaxChannels; ++c) {
        gains_[c].assign(modeCount, 0.0);
        previousGains_[c].assign(modeCount, 0.0);
    }
    // The block's lanes, mask, levels, binaural parts and moving contact; the pose is the
    // object's own (pose_), not the demo's published one the context starts from.
    context_.allocate(modeCount);
    activeModeCount_.store(modeCount, std::memory_order_relaxed);
}

EngineObject::~EngineObject() {
    for (double* block : transfer_.sourceBlocks) free(block);
}

std::unique_ptr<EngineObject> EngineObject::load(const EngineObjectFiles& files, int maxBlockFrames,
                                                 int channelCount, std::string* problem) {
    // The readers end the program on bad input; inside the capture they throw BadInput with
    // their message instead. A shape check's message names no file: the file being read is put
    // in front of it.
    std::optional<BadInputCapture> capture;
    if (!files.programMessages) capture.emplace();
    const std::string* reading = &files.modeShapeFile;
    try {
        // Mode shapes: 3 rows per vertex, one column per mode.
        int rows = 0, r = 0;
        MatrixBlock shapes;
        loadDenseMatrixOrExit(files.modeShapeFile.c_str(), &rows, &r, &shapes.elements);
        // Frequencies: an r x 1 column (the demo's check codes 0 and 1).
        reading = &files.frequencyFile;
        int frequencyRows = 0, frequencyColumns = 0;
        MatrixBlock frequencies;
        loadDenseMatrixOrExit(files.frequencyFile.c_str(), &frequencyRows, &frequencyColumns,
                              &frequencies.elements);
        checkEqualOrExit(frequencyColumns, 1, 0);
        checkEqualOrExit(frequencyRows, r, 1);

        std::unique_ptr<EngineObject> object(new EngineObject(r, maxBlockFrames, channelCount));
        object->shapes_.reset(new ModeShapeMatrix(rows / 3, r, shapes.elements));
        object->modalRendererGain_ = files.modalRendererGain;
        for (int i = 0; i < r; ++i) {
            object->frequency_[i] = frequencies.elements[i];
            object->omega_[i] = frequencies.elements[i] * twoPi;
            object->stiffness_[i] = object->omega_[i] * object->omega_[i];
        }

        // Resonators as the demo creates them: c_i = beta k_i + alpha for unit modal mass. A
        // refused mode keeps zero coefficients; its message stays in the capture.
        object->resonatorStorage_.reserve(r);
        object->resonators_.reserve(r);
        for (int i = 0; i < r; ++i) {
            const double c = files.stiffnessDamping * object->stiffness_[i] + files.massDamping;
            object->resonatorStorage_.emplace_back(
                new ModalResonator(1.0, c, object->stiffness_[i], audioTimeStep));
            object->resonators_.push_back(object->resonatorStorage_.back().get());
        }
        object->damping_.store(DampingSetting{files.massDamping, files.stiffnessDamping, 0});

        // The transfer model: one entry per mode (the demo's check code 20).
        if (!files.transferListFile.empty()) {
            reading = &files.transferListFile;
            const char* base =
                files.transferBaseDirectory.empty() ? nullptr : files.transferBaseDirectory.c_str();
            object->transfer_ = loadTransferModel(files.transferListFile.c_str(), base);
            checkEqualOrExit(object->transfer_.frequencyCount, r, 20);
            object->singleTransfer_ = SinglePrecisionTransfer(object->transfer_);
        }
        std::vector<double> gains(size_t(r), 0.0), shapePower(size_t(r), 0.0);
        omnidirectionalZepGains(object->transfer_, object->omega_.data(), r, gains.data());
        meanSquaredShapes(*object->shapes_, shapePower.data());
        object->contactRoughness_ = loudnessMatchedRoughness(
            object->resonators_.data(), gains.data(), shapePower.data(), r, kDefaultImpactFrames);
        return object;
    } catch (const BadInput& bad) {
        *problem = bad.message.find(*reading) == std::string::npos ? *reading + ": " + bad.message
                                                                   : bad.message;
    } catch (const std::bad_alloc&) {
        *problem = *reading + ": out of memory loading the object";
    }
    return nullptr;
}

// [SECTION] Control thread

bool EngineObject::strike(int vertex, const double direction[3], double magnitude) {
    if (vertex < 0 || vertex >= shapes_->vertexCount) return false;
    return strikeAt(SurfacePoint{{vertex, vertex, vertex}, {1.0, 0.0, 0.0}}, direction, magnitude);
}

bool EngineObject::strikeAt(const SurfacePoint& point, const double direction[3], double magnitude,
                            int duration) {
    for (int k = 0; k < 3; ++k)
        if (point.vertex[k] < 0 || point.vertex[k] >= shapes_->vertexCount) return false;
    if (duration < 0 || duration > kMaxStrikeDuration) return false;
    StrikeEvent event;
    event.point = point;
    for (int k = 0; k < 3; ++k) event.direction[k] = direction[k];
    event.magnitude = magnitude;
    event.duration = duration;
    return strikes_.push(event);
}

bool EngineObject::setContact(const ContactSetting& contact) {
    for (int k = 0; k < 3; ++k) {
        if (contact.point.vertex[k] < 0 || contact.point.vertex[k] >= shapes_->vertexCount) {
            return false;
        }
    }
    lastContact_ = contact;
    context_.publishedContact.store(contact);
    return true;
}

bool EngineObject::setContact(const SurfacePoint& point, const double direction[3],
                              double normalForce, double speed, ContactKind kind, double roughness,
                              double slope, double ballRadius_m) {
    for (int k = 0; k < 3; ++k) {
        if (point.vertex[k] < 0 || point.vertex[k] >= shapes_->vertexCount) return false;
    }
    return setContact(contactBuilder_.touch(point, direction, normalForce, speed, kind, roughness,
                                            slope, ballRadius_m));
}

void EngineObject::endContact() {
    // The rest of the setting stays: the fade-out reads the same surface at the same speed.
    lastContact_.touching = false;
    context_.publishedContact.store(lastContact_);
}

int EngineObject::activeModeCount() const {
    const int count = activeModeCount_.load(std::memory_order_relaxed);
    if (count < 0) return 0;
    return count < modeCount_ ? count : modeCount_;
}

bool EngineObject::setDamping(double massDamping, double stiffnessDamping, std::string* problem) {
    // The render thread must never meet a refusal (it would print): check every mode first,
    // with the arithmetic setDamping uses.
    for (int i = 0; i < modeCount_; ++i) {
        const double c = stiffnessDamping * stiffness_[i] + massDamping;
        const double xi = resonators_[i]->dampingRatioFor(c);
        if (!(xi < 1.0)) {
            char text[256];
            snprintf(text, sizeof text,
                     "damping alpha %g, beta %g: mode %d (%g Hz) would have damping ratio %g, "
                     "not below 1",
                     massDamping, stiffnessDamping, i, omega_[i] / twoPi, xi);
            *problem = text;
            return false;
        }
    }
    damping_.store(DampingSetting{massDamping, stiffnessDamping, ++dampingGeneration_});
    return true;
}

// [SECTION] The block (render thread)

void EngineObject::takeStrikes(int activeModes, int impactDuration) {
    // The forces of this block: the strikes since the last one, summed in the order they were
    // given, as the demo's force buffer sums its impacts (sound/impact.h), one sum per duration.
    int steps = 0;
    StrikeEvent event;
    while (strikes_.pop(&event)) {
        const int duration = event.duration > 0 ? event.duration : impactDuration;
        int step = 0;
        while (step < steps && stepDuration_[step] != duration) ++step;
        if (step == steps && steps < kMaxForceSteps) {
            stepDuration_[steps] = duration;
            memset(stepForce_[steps].data(), 0, sizeof(double) * modeCount_);
            ++steps;
        } else if (step == steps) {
            // Every step is taken: the nearest duration carries this strike.
            step = 0;
            for (int k = 1; k < steps; ++k) {
                if (std::abs(stepDuration_[k] - duration) < std::abs(stepDuration_[step] - duration))
                    step = k;
            }
        }
        double* force = stepForce_[step].data();
        const int* v = event.point.vertex;
        // A vertex's strike is the demo's click, projected as it projects it (bit for bit); a
        // point inside a triangle takes the shapes interpolated over its corners.
        if (v[0] == v[1] && v[1] == v[2]) {
            modalImpactForces(*shapes_, v[0], event.direction, event.magnitude, force);
        } else {
            modalSurfaceForces(*shapes_, event.point, event.direction, event.magnitude, force);
        }
        // Only the modes being synthesised receive force.
        for (int i = activeModes; i < modeCount_; ++i) force[i] = 0.0;
    }
    if (steps == 0) {
        // No strike: the block still runs with a (zero) force up to the impact duration, as the
        // demo's block does.
        stepDuration_[0] = impactDuration;
        memset(stepForce_[0].data(), 0, sizeof(double) * modeCount_);
        steps = 1;
    }
    // The steps by increasing duration; each one's force is its own strikes' and every longer
    // one's, added from the longest down.
    for (int k = 0; k < steps; ++k) forceStep_[k] = k;
    std::sort(forceStep_, forceStep_ + steps,
              [&](int a, int b) { return stepDuration_[a] < stepDuration_[b]; });
    for (int k = steps - 2; k >= 0; --k) {
        double* force = stepForce_[forceStep_[k]].data();
        const double* longer = stepForce_[forceStep_[k + 1]].data();
        for (int i = 0; i < modeCount_; ++i) force[i] += longer[i];
    }
    for (int k = 0; k < steps; ++k) forceStepFrames_[k] = stepDuration_[forceStep_[k]];
    forceStepCount_ = steps;
}

void EngineObject::takeDamping() {
    DampingSetting setting;
    if (!damping_.tryLoad(&setting, 64) || setting.generation == appliedDampingGeneration_) {
        return;
    }
    appliedDampingGeneration_ = setting.generation;
    // Checked by setDamping on the control thread: no mode refuses, so nothing prints here.
    for (int i = 0; i < modeCount_; ++i) {
        (void)resonators_[i]->setDamping(setting.stiffnessDamping * stiffness_[i] +
                                         setting.massDamping);
    }
}

void EngineObject::computeGains(const ListenerPoints& listener, int rendererType, int activeModes,
                                const HrtfSet* hrtf, bool singlePrecisionTransfer) {
    pose_.tryLoad(&blockPose_, 64);
    const ObjectPose& pose = blockPose_;
    if (hrtf != nullptr && channelCount_ == 2) {
        double* real[2] = {gains_[0].data(), gains_[1].data()};
        double* imag[2] = {context_.binauralImag[0].data(), context_.binauralImag[1].data()};
        computeBinauralGains(transfer_, omega_.data(), activeModes, context_.useAvx2Lanes, *hrtf,
                             pose, listener, real, imag);
        return;
    }
    // The "ZEP" gains at one point: omega_i times the transfer there, in double precision as
    // the demo's block or in single.
    auto zepGains = [&](const double world[3], double* gains) {
        if (!singlePrecisionTransfer) {
            zepGainsAt(transfer_, omega_.data(), context_.useAvx2Lanes, pose, world, gains,
                       activeModes);
            return;
        }
        double object[3];
        worldToObject(pose, world, object);
        singleTransfer_.evaluate(object, gains, activeModes, context_.useAvx2Lanes);
        for (int i = 0; i < activeModes; ++i) gains[i] *= omega_[i];
    };
    if (channelCount_ == 1) {
        if (rendererType == 1) {
            modalGainsAt(modalRendererGain_, pose, listener.eye, gains_[0].data(), modeCount_);
        } else {
            zepGains(listener.eye, gains_[0].data());
        }
    } else {
        zepGains(listener.leftEar, gains_[0].data());
        zepGains(listener.rightEar, gains_[1].data());
    }
}

void EngineObject::renderBlock(const ListenerPoints& listener, int rendererType, int impactDuration,
                               int frameCount, double* mix, const HrtfSet* hrtf,
                               bool singlePrecisionTransfer) {
    const int modes = activeModeCount();
    const int channels = channelCount_;
    const bool binaural = hrtf != nullptr && channels == 2;
    takeDamping();
    takeStrikes(modes, impactDuration);
    computeGains(listener, rendererType, modes, hrtf, singlePrecisionTransfer);

    // The demo's bank block on this object's bank.
    BankBlock block;
    block.resonators = resonators_.data();
    block.modeCount = modeCount_;
    block.activeModes = modes;
    block.channelCount = channels;
    for (int c = 0; c < 2; ++c) {
        const bool used = c < channels;
        block.gains[c] = used ? gains_[c].data() : nullptr;
        block.previousGains[c] = used ? previousGains_[c].data() : nullptr;
        block.imagGains[c] = binaural ? context_.binauralImag[c].data() : nullptr;
        block.previousImagGains[c] = binaural ? context_.binauralImagPrevious[c].data() : nullptr;
    }
    for (int k = 0; k < forceStepCount_; ++k) {
        block.stepForce[k] = stepForce_[forceStep_[k]].data();
        block.stepFrames[k] = forceStepFrames_[k];
    }
    block.stepCount = forceStepCount_;
    block.contactShapes = shapes_.get();
    const int N = frameCount < maxBlockFrames_ ? frameCount : maxBlockFrames_;
    runBankBlock(context_, block, N < 0 ? 0 : N,
                 [&](int first, int last, const double* const* segment) {
                     for (int i = first; i < last; ++i) {
                         for (int c = 0; c < channels; ++c) {
                             mix[i * channels + c] = segment[c][i - first];
                         }
                     }
                 });
}
