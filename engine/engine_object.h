// One sounding object of the engine (engine/engine.h): its own resonator bank, mode shapes,
// acoustic transfer, pose, Rayleigh damping, gain and active mode count, and the block that
// advances its bank and mixes it at the listener. What the demo keeps process-wide for its one
// struck object (sound/synthesis_state.h) is here a member of each object, so an engine mixes
// many.
//
// The block is the bank block every Tonwell sample comes from (sound/bank_block.h), the one the
// demo's audio callbacks run on the process-wide bank, here on this object's bank: the same
// gains (sound/bank_gains.h), lanes, segments, force steps and gain ramp, so one object rendered
// alone gives the demo's samples bit for bit (tests/render holds tonwell-render, which runs on
// the engine, to the demo's callbacks).
//
// Threads: loaded (allocated) on the control thread; once the engine publishes it, the render
// thread owns the bank and the block's arrays, and the control thread reaches it only through
// the members marked [Control thread], each handed over lock-free (atomics, seqlocks, the strike
// queue).
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "engine/strike_queue.h"
#include "geometry/listener_points.h"
#include "geometry/mode_shape_matrix.h"
#include "geometry/object_pose.h"
#include "platform/seqlock.h"
#include "sound/audio_block_context.h"
#include "sound/bank_block.h"
#include "sound/hrtf_set.h"
#include "sound/modal_resonator.h"
#include "sound/moving_contact.h"
#include "sound/single_precision_transfer.h"
#include "sound/surface_point.h"
#include "sound/transfer_model.h"

// The files and presets an object is loaded from: a baked folder's ".U" mode shapes, ".freq"
// frequencies (Hz) and transfer object list, and the scene's preset damping and "Modal" gain.
struct EngineObjectFiles {
    std::string modeShapeFile;
    std::string frequencyFile;
    // Empty: no transfer (the "ZEP" gains are then 0; the "Modal" renderer needs none).
    std::string transferListFile;
    // The directory the transfer list's prefixes are relative to (a baked folder's parent), or
    // empty for the working directory.
    std::string transferBaseDirectory;
    double massDamping = 0.0;        // Rayleigh alpha, 1/s
    double stiffnessDamping = 0.0;   // Rayleigh beta, s
    double modalRendererGain = 0.0;  // numerator of the "Modal" renderer's 1/distance law
    // Whether the readers print their messages and end the process on bad input, as the demo's
    // scene loading does (tonwell-render keeps its messages so); otherwise load returns them.
    bool programMessages = false;
};

// The Rayleigh coefficients handed to the render thread, with a count of the changes so far.
struct DampingSetting {
    double massDamping;
    double stiffnessDamping;
    long generation;
};

class EngineObject {
  public:
    // The longest force a strike may ask for, in samples (the demo's impact duration's range).
    static constexpr int kMaxStrikeDuration = 256;
    // Distinct strike durations one block's forces keep apart; a strike of a further duration
    // in the same block joins the one nearest to it.
    static constexpr int kMaxForceSteps = kMaxBankForceSteps;

    // Reads the files of `files` and builds the object for blocks of at most `maxBlockFrames`
    // frames and `channelCount` (1 or 2) channels: mode shapes (3 rows per vertex, r columns),
    // frequencies (an r x 1 column), the transfer model (r entries), resonators of unit modal mass
    // with c_i = alpha + beta omega_i^2 (a mode whose damping is refused stays silent, as in the
    // demo). Identity pose, gain 1, all r modes active, no strike.
    // Returns the object, or null with *problem set to the reader's message, which names the file
    // ("Can't open input matrix file: chair/chair.U.", "Error: assertion 4 == 5 failed (1).", ...).
    // Never prints, never ends the process (unless files.programMessages). Order as the demo's
    // loading: mode shapes, frequencies, resonators (a refusal's message), transfer.
    // Control thread; allocates, reads files.
    static std::unique_ptr<EngineObject> load(const EngineObjectFiles& files, int maxBlockFrames,
                                              int channelCount, std::string* problem);
    ~EngineObject();
    EngineObject(const EngineObject&) = delete;
    EngineObject& operator=(const EngineObject&) = delete;

    // [Any thread] Fixed at loading.
    int modeCount() const { return modeCount_; }
    int vertexCount() const { return shapes_->vertexCount; }
    const double* modeOmega() const { return omega_.data(); }  // rad/s, modeCount() entries
    const double* modeFrequencies() const { return frequency_.data(); }  // Hz, the .freq file's
    const ModeShapeMatrix& modeShapes() const { return *shapes_; }
    const TransferModel& transfer() const { return transfer_; }
    const SinglePrecisionTransfer& singlePrecisionTransfer() const { return singleTransfer_; }
    // The roughness (sigma) at which a scrape at 0.3 m/s pressing with a strike's magnitude
    // sounds as loud as that strike (sound/contact_loudness.h), at the loading's damping: the
    // object's default for setContact.
    double contactRoughness() const { return contactRoughness_; }

    // [Control thread] Queues a strike of `magnitude` along the unit `direction` (object frame;
    // zero for a silent strike) at 0-based `vertex`; its force acts from the start of the
    // engine's next block. False when the vertex has no mode shape (0 .. vertexCount()-1) or
    // when StrikeQueue::kCapacity strikes already wait for the next block.
    // Real-time: wait-free; no allocation, no I/O, no lock.
    bool strike(int vertex, const double direction[3], double magnitude);
    // [Control thread] The same at a point of the surface: the triangle's corners and barycentric
    // weights of `point` (weights >= 0 summing to 1, checked by the caller), the mode shapes
    // interpolated over it (modalSurfaceForces); at a vertex, exactly strike(). The force acts for
    // `duration` samples (1 .. kMaxStrikeDuration), or for the engine's impact duration with 0.
    // False, and nothing queued, for a corner without mode shape, a duration out of range or a
    // full queue.
    // Real-time: wait-free; no allocation, no I/O, no lock.
    bool strikeAt(const SurfacePoint& point, const double direction[3], double magnitude,
                  int duration = 0);
    // [Control thread] Starts or moves the object's one moving contact: from the engine's next
    // block the contact force F_N sigma g(x(t)) acts at contact.point along contact.direction,
    // the point, the modal force and the speed moving linearly across that block from the
    // previous block's (a contact that starts fades in over its first block). False, nothing
    // changed, when a corner of the point has no mode shape.
    // Real-time: wait-free for the render thread (a seqlock store).
    bool setContact(const ContactSetting& contact);
    // [Control thread] setContact with the profile designed here (designRoughnessProfile) for
    // `kind`, `slope` (beta) and `ballRadius_m`, only when one of them differs from the last
    // call's: a design runs its generator for a few milliseconds, so a contact moved every block
    // designs once. `direction` is normalised here (zero: a silent contact).
    bool setContact(const SurfacePoint& point, const double direction[3], double normalForce,
                    double speed, ContactKind kind, double roughness, double slope,
                    double ballRadius_m);
    // [Control thread] Lifts the contact: its force fades out over the next block.
    // Real-time: wait-free for the render thread (a seqlock store).
    void endContact();

    // [Control thread] The pose (world = R p + T), read whole by the next block.
    // Real-time: wait-free for the render thread (a seqlock store).
    void setPose(const ObjectPose& pose) { pose_.store(pose); }
    // [Control thread] Multiplies the object's mix from the next block on.
    void setGain(double gain) { gain_.store(gain, std::memory_order_relaxed); }
    double gain() const { return gain_.load(std::memory_order_relaxed); }
    // [Control thread] Modes 0 .. count-1 sound (cut to 0 .. modeCount()); strikes give force
    // to those only, as the demo's impacts do.
    void setActiveModeCount(int count) { activeModeCount_.store(count, std::memory_order_relaxed); }
    int activeModeCount() const;
    // [Control thread] New Rayleigh damping c_i = alpha + beta omega_i^2 for every mode, taken
    // by the next block (the modes ring on with the new decay). False, with *problem set and
    // nothing changed, when a mode would not be underdamped (xi >= 1) with it.
    bool setDamping(double massDamping, double stiffnessDamping, std::string* problem);

    // [Render thread] This object's block of `frameCount` frames (at most the loading's
    // maxBlockFrames) into mix[frame * channelCount + channel], unclipped and before the
    // object's gain: strikes queued since the last block become its forces, the renderer's gains
    // at `listener` (rendererType 0 "ZEP": omega_i times the transfer; 1 "Modal", mono only:
    // modalRendererGain / distance to the object's origin), the solo and mute mask of
    // blockContext(), the bank advanced with the force held for the first `impactDuration`
    // frames (a strike of its own duration for its own: the force then drops in steps, each
    // strike's share at the end of its duration; no force outlasts the block), decayed modes
    // flushed. Publishes mode levels while blockContext() asks for them.
    // With `hrtf` (a two-channel object only) the block is binaural: complex gains per ear from
    // the transfer at listener.eye and the HRTF set at each mode's frequency for the object's
    // direction in the head's frame (sound/binaural_gains.h), mixed as Im(z g); a block after a
    // non-binaural one ramps the imaginary parts from 0. Null: the stereo (or mono) block.
    // Real-time: no allocation, no I/O, no lock; wait-free reads of the pose and damping; a
    // damping change costs one complex exponential per mode in the block that takes it.
    // `singlePrecisionTransfer`: the "ZEP" gains from the single-precision transfer
    // (Engine::setSinglePrecisionTransfer).
    void renderBlock(const ListenerPoints& listener, int rendererType, int impactDuration,
                     int frameCount, double* mix, const HrtfSet* hrtf = nullptr,
                     bool singlePrecisionTransfer = false);

    // The lanes, mask, mode-level publication, binaural parts and moving contact of this
    // object's blocks (sound/audio_block_context.h). The mask is set while no block of the object
    // runs (before it is added to an engine); the levels are read by one reader thread.
    AudioBlockContext& blockContext() { return context_; }

  private:
    EngineObject(int modeCount, int maxBlockFrames, int channelCount);
    // Sums the strikes queued since the last block into one modal force per distinct duration
    // (impactDuration for the strikes that name none), and sets forceSteps_ to those durations
    // in increasing order, each step's force holding every strike that lasts at least as long.
    void takeStrikes(int activeModes, int impactDuration);
    void takeDamping();
    void computeGains(const ListenerPoints& listener, int rendererType, int activeModes,
                      const HrtfSet* hrtf, bool singlePrecisionTransfer);

    int modeCount_;
    int maxBlockFrames_;
    int channelCount_;
    std::unique_ptr<ModeShapeMatrix> shapes_;
    TransferModel transfer_;
    SinglePrecisionTransfer singleTransfer_;  // the same sources in single precision
    double modalRendererGain_ = 0.0;
    double contactRoughness_ = kDefaultContactRoughness;
    std::vector<double> frequency_;  // Hz
    std::vector<double> omega_;      // rad/s
    std::vector<double> stiffness_;  // omega^2, N/m for unit modal mass

    // [Render thread] The bank and the block's arrays.
    std::vector<std::unique_ptr<ModalResonator>> resonatorStorage_;
    std::vector<ModalResonator*> resonators_;
    // The block's modal forces, one array per distinct strike duration: after takeStrikes,
    // stepForce_[forceStep_[k]] acts from frame forceStepFrames_[k-1] (0 for k = 0) up to
    // forceStepFrames_[k], for k < forceStepCount_.
    std::vector<double> stepForce_[kMaxForceSteps];
    int stepDuration_[kMaxForceSteps];
    int forceStep_[kMaxForceSteps];
    int forceStepFrames_[kMaxForceSteps];
    int forceStepCount_ = 0;
    std::vector<double> gains_[ModalBankLanes::kMaxChannels];          // this block's
    std::vector<double> previousGains_[ModalBankLanes::kMaxChannels];  // the last block's
    ObjectPose blockPose_ = identityPose();
    long appliedDampingGeneration_ = 0;
    AudioBlockContext context_;

    // [Control thread -> render thread]
    StrikeQueue strikes_;
    ContactSettingBuilder contactBuilder_;  // control thread's
    ContactSetting lastContact_;            // control thread's copy of the last setting
    SeqLock<ObjectPose> pose_{identityPose()};
    SeqLock<DampingSetting> damping_;
    long dampingGeneration_ = 0;  // control thread's count of setDamping calls
    std::atomic<double> gain_{1.0};
    std::atomic<int> activeModeCount_{0};
};
