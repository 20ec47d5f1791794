// The engine's object slots, the hand-over of objects to the render thread, and the render loop
// that mixes the objects' blocks into the host's buffer.
#include "engine/engine.h"

#include <cmath>
#include <cstring>
#include <thread>

#include "sound/audio_block.h"
#include "sound/synthesis_state.h"

Engine::Engine(int channelCount, int transferRate)
    : channelCount_(channelCount), blockFrames_(kAudioSamplingRate / transferRate) {
    for (std::atomic<EngineObject*>& slot : slots_) slot.store(nullptr, std::memory_order_relaxed);
    for (std::atomic<double>& peak : peaks_) peak.store(0.0, std::memory_order_relaxed);
    listener_.store(ListenerPoints{});
    memset(block_, 0, sizeof block_);
    // Nothing left of a block: the first render call starts one.
    blockRead_ = blockFrames_;
}

Engine::~Engine() {
    for (int id = 0; id < kMaxObjects; ++id) slots_[id].store(nullptr, std::memory_order_relaxed);
}

std::unique_ptr<EngineObject> Engine::loadObject(const EngineObjectFiles& files,
                                                 std::string* problem) const {
    return EngineObject::load(files, blockFrames_, channelCount_, problem);
}

int Engine::addObject(std::unique_ptr<EngineObject> object) {
    if (object == nullptr) return -1;
    for (int id = 0; id < kMaxObjects; ++id) {
        if (owned_[id] != nullptr) continue;
        owned_[id] = std::move(object);
        // Release (in seq_cst): the object's construction happens before the render thread's
        // load of the slot.
        slots_[id].store(owned_[id].get(), std::memory_order_seq_cst);
        return id;
    }
    return -1;
}

EngineObject* Engine::object(int id) const {
    if (id < 0 || id >= kMaxObjects) return nullptr;
    return owned_[id].get();
}

bool Engine::removeObject(int id) {
    if (object(id) == nullptr) return false;
    slots_[id].store(nullptr, std::memory_order_seq_cst);
    waitForRenderQuiescence();
    owned_[id].reset();
    return true;
}

bool Engine::setHrtf(std::unique_ptr<HrtfSet> hrtf) {
    if (channelCount_ != 2) return false;
    // Release (in seq_cst): the set's construction happens before the render thread's load.
    hrtf_.store(hrtf.get(), std::memory_order_seq_cst);
    // The set replaced may still be read by a render call that loaded it before the store.
    waitForRenderQuiescence();
    ownedHrtf_ = std::move(hrtf);
    return true;
}

void Engine::waitForRenderQuiescence() {
    // Quiescence: render increments renderEpoch_ (seq_cst) before it loads any slot (seq_cst),
    // and again (release) after its last use of an object. In the single order of seq_cst
    // operations either render's first increment comes after the caller's store (that call and
    // every later one see the new value: an empty slot, a new HRTF set), or the load below sees
    // it: an odd value means a call
    // is under way, which may hold the object until the epoch moves on. Even: none is.
    const uint64_t epoch = renderEpoch_.load(std::memory_order_seq_cst);
    if (epoch & 1u) {
        while (renderEpoch_.load(std::memory_order_acquire) == epoch) std::this_thread::yield();
    }
}

void Engine::renderBlock() {
    const int N = blockFrames_;
    const int channels = channelCount_;
    const size_t samples = static_cast<size_t>(N) * channels;
    listener_.tryLoad(&blockListener_, 64);
    const int renderer = channels == 2 ? 0 : rendererType_.load(std::memory_order_relaxed);
    const int impactDuration = impactDuration_.load(std::memory_order_relaxed);
    const bool single = singlePrecisionTransfer_.load(std::memory_order_relaxed);
    // One set for the whole block (after this call's epoch increment, so setHrtf waits for it).
    const HrtfSet* hrtf = hrtf_.load(std::memory_order_seq_cst);

    // The mix: the first object's block is taken as it is (bit for bit the demo's samples for
    // one object at gain 1), every further one added.
    bool any = false;
    for (std::atomic<EngineObject*>& slot : slots_) {
        EngineObject* object = slot.load(std::memory_order_seq_cst);
        if (object == nullptr) continue;
        object->renderBlock(blockListener_, renderer, impactDuration, N, objectMix_, hrtf, single);
        const double gain = object->gain();
        if (!any) {
            for (size_t i = 0; i < samples; ++i) mix_[i] = gain * objectMix_[i];
        } else {
            for (size_t i = 0; i < samples; ++i) mix_[i] += gain * objectMix_[i];
        }
        any = true;
    }
    if (!any) memset(mix_, 0, sizeof(double) * samples);

    double peak[2] = {0.0, 0.0};
    for (int i = 0; i < N; ++i) {
        for (int c = 0; c < channels; ++c) {
            const double y = mix_[i * channels + c];
            if (std::fabs(y) > peak[c]) peak[c] = std::fabs(y);
            block_[i * channels + c] = clippedSample(y);
        }
    }
    for (int c = 0; c < channels; ++c) peaks_[c].store(peak[c], std::memory_order_relaxed);
}

void Engine::render(float* out, long frameCount) {
    // Odd from here on: removeObject waits for this call before it frees what it removed.
    renderEpoch_.fetch_add(1, std::memory_order_seq_cst);
    const int channels = channelCount_;
    while (frameCount > 0) {
        if (blockRead_ == blockFrames_) {
            renderBlock();
            blockRead_ = 0;
        }
        long take = blockFrames_ - blockRead_;
        if (take > frameCount) take = frameCount;
        memcpy(out, &block_[blockRead_ * channels], sizeof(float) * take * channels);
        out += take * channels;
        blockRead_ += static_cast<int>(take);
        frameCount -= take;
    }
    // Even again: this call holds no object any more.
    renderEpoch_.fetch_add(1, std::memory_order_release);
}
