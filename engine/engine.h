// The engine: many sounding objects (engine/engine_object.h) heard by one listener, mixed into
// the host's float buffer by `render` on the host's audio thread while a control thread loads and
// unloads objects, strikes them and moves them and the listener. What the demo holds in
// process-wide state for its one object (sound/synthesis_state.h, app/audio_context.h) lives
// here, per engine and per object, so a host may run several engines side by side.
//
// Threading contract:
//   - one control thread calls everything marked [Control thread] (never two at once);
//   - one render thread calls render(); it may run at the same time as any control call;
//   - render never waits for the control thread: objects reach it through atomic slots, strikes
//     through each object's wait-free queue, listener and poses through seqlocks, settings through
//     atomics;
//   - removeObject is the one control call that waits: for the render call that may still be
//     reading the object to return (a quiescent state of the render thread), before freeing it.
//
// The output: frames of channelCount() interleaved floats, full scale +-1 (1 Pa at the listener
// for "ZEP"), 44100 Hz. Internally the engine runs blocks of blockFrames() = 44100 / transfer
// rate frames, as the demo's callbacks do (the transfer is evaluated once per block); a render
// call of any length is served from those blocks, so the samples do not depend on how the host
// cuts its buffers. A strike, a pose or a setting given between two render calls takes effect
// at the start of the engine's next block.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/engine_object.h"
#include "geometry/listener_points.h"
#include "platform/seqlock.h"
#include "sound/hrtf_set.h"

class Engine {
  public:
    static constexpr int kMaxObjects = 64;
    // The longest block: 44100 / 100 Hz, the lowest transfer rate.
    static constexpr int kMaxBlockFrames = 441;

    // An engine of `channelCount` channels (1 mono at the eye, 2 stereo at the ears) whose
    // transfer is evaluated `transferRate` times a second (100 .. 300 Hz, as the demo's ZEP rate;
    // blocks of 44100 / transferRate frames). No object; the listener at the origin.
    // Preconditions: channelCount 1 or 2; transferRate in 100 .. 300.
    Engine(int channelCount, int transferRate);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    int channelCount() const { return channelCount_; }
    int blockFrames() const { return blockFrames_; }

    // [Control thread] Loads an object for this engine's blocks (EngineObject::load); null with
    // *problem on a file problem. The object is not yet heard: addObject publishes it.
    std::unique_ptr<EngineObject> loadObject(const EngineObjectFiles& files,
                                             std::string* problem) const;
    // [Control thread] Publishes `object` to the render thread from its next block on and
    // returns its id (0 .. kMaxObjects-1), or -1 (and the object is destroyed) when every slot
    // is taken. Wait-free for the render thread (one atomic store).
    int addObject(std::unique_ptr<EngineObject> object);
    // [Control thread] The object of `id`, or null. Valid until removeObject(id).
    EngineObject* object(int id) const;
    // [Control thread] Takes the object out of the mix and frees it; false for an unknown id.
    // Blocking: waits until no render call can still be reading it (at most one render call).
    bool removeObject(int id);

    // [Control thread] The listener's eye (mono) and ear points (stereo), world coordinates.
    // Real-time: wait-free for the render thread (a seqlock store).
    void setListener(const ListenerPoints& listener) { listener_.store(listener); }
    // [Control thread] Makes a two-channel engine binaural with `hrtf` from its next block (each
    // ear hears the transfer at the listener's eye through the set's HRTF for the object's
    // direction in the head's frame: sound/binaural_gains.h), or stereo again with null. The set
    // it replaces is freed once no render call can still read it. False (nothing changed) for a
    // mono engine.
    // Blocking: as removeObject, waits for a render call under way. Wait-free for the render
    // thread (one atomic load per block).
    bool setHrtf(std::unique_ptr<HrtfSet> hrtf);
    // [Control thread] Whether an HRTF set makes the engine binaural.
    bool binaural() const { return ownedHrtf_ != nullptr; }
    // [Control thread] The HRTF set of a binaural engine, or null.
    const HrtfSet* hrtf() const { return ownedHrtf_.get(); }
    // [Control thread] 0 "ZEP" (omega times the acoustic transfer), 1 "Modal" (1/distance; mono
    // engines only, stereo always uses "ZEP").
    void setRendererType(int type) { rendererType_.store(type, std::memory_order_relaxed); }
    // [Control thread] Whether the "ZEP" gains come from the transfer evaluated in single
    // precision (sound/single_precision_transfer.h: about half the cost of a many-object block,
    // within 1e-4 of the double-precision gains, no longer the demo's samples bit for bit) or in
    // double precision (at start). Binaural gains stay in double precision.
    void setSinglePrecisionTransfer(bool single) {
        singlePrecisionTransfer_.store(single, std::memory_order_relaxed);
    }
    // [Control thread] Samples a strike's force acts, 1 .. 256 (10 at start).
    void setImpactDuration(int samples) {
        impactDuration_.store(samples, std::memory_order_relaxed);
    }

    // [Render thread] Writes `frameCount` frames of the mix of every object into `out`
    // (frameCount * channelCount() floats), each sample clipped to [-1, 1], NaN written as 0.
    // Real-time: no allocation, no I/O, no lock; wait-free (the control thread never holds
    // anything render waits for).
    void render(float* out, long frameCount);

    // [Any thread] The largest |sample| before clipping of the last block, per channel.
    double lastBlockPeak(int channel) const {
        return peaks_[channel].load(std::memory_order_relaxed);
    }

  private:
    void renderBlock();
    // [Control thread] Waits until no render call that began before now is still under way.
    void waitForRenderQuiescence();

    const int channelCount_;
    const int blockFrames_;
    // [Control thread] The owners of the published objects.
    std::unique_ptr<EngineObject> owned_[kMaxObjects];
    // [Control -> render] The objects the render thread mixes, by slot.
    std::atomic<EngineObject*> slots_[kMaxObjects];
    // Odd while a render call runs: removeObject waits for it to move on.
    std::atomic<uint64_t> renderEpoch_{0};
    SeqLock<ListenerPoints> listener_;
    // [Control thread] The HRTF set's owner; [Control -> render] the set the blocks read.
    std::unique_ptr<HrtfSet> ownedHrtf_;
    std::atomic<const HrtfSet*> hrtf_{nullptr};
    std::atomic<int> rendererType_{0};
    std::atomic<bool> singlePrecisionTransfer_{false};
    std::atomic<int> impactDuration_{10};
    std::atomic<double> peaks_[2];

    // [Render thread] The current block and how much of it the host has taken.
    ListenerPoints blockListener_{};
    float block_[kMaxBlockFrames * 2];
    int blockRead_;
    double objectMix_[kMaxBlockFrames * 2];
    double mix_[kMaxBlockFrames * 2];
};
