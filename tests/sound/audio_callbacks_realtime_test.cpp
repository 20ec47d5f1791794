// The audio callbacks as real-time code: they allocate nothing (every heap allocation made while a
// counter is armed around them is counted: operator new is replaced, and so is malloc, through
// glibc's own allocator or, in sanitizer builds, through the sanitizer's allocation hook), and
// they share the bank with a GUI thread that strikes, silences, changes the damping, the settings,
// the listener and the pose while blocks run, without a data race (checked by ThreadSanitizer in
// the sanitizer build) and without a sample leaving [-1, 1] or becoming NaN.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <thread>
#include <vector>

#include "sound/audio_block_context.h"
#include "sound/audio_callbacks.h"
#include "sound/audio_device.h"
#include "tests/sound/synthetic_bank.h"

using namespace synthetic;

// [SECTION] Counting heap allocations

namespace {

// Only allocations of the thread that armed the counter are counted. Volatile: the compiler
// knows malloc's semantics and would otherwise move the arming stores across a malloc call.
thread_local volatile bool countingArmed = false;
std::atomic<long> allocationCount{0};

inline void noteAllocation() {
    if (countingArmed) allocationCount.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers own malloc; they call this hook for every allocation they serve.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*mallocHook)(const volatile void*,
                                                                            size_t),
                                                         void (*freeHook)(const volatile void*));

namespace {
void onSanitizerMalloc(const volatile void*, size_t) { noteAllocation(); }
void onSanitizerFree(const volatile void*) {}
const int kHooksInstalled =
    __sanitizer_install_malloc_and_free_hooks(onSanitizerMalloc, onSanitizerFree);
}  // namespace
#else
// glibc's documented way to replace malloc: the four entry points, forwarding to glibc's own
// allocator, which keeps serving everything else (memalign and friends share its heap).
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void __libc_free(void* block);

void* malloc(size_t size) {
    noteAllocation();
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    noteAllocation();
    return __libc_calloc(count, size);
}
void* realloc(void* block, size_t size) {
    noteAllocation();
    return __libc_realloc(block, size);
}
void free(void* block) { __libc_free(block); }
}
#endif

namespace {

void* countedNew(size_t size) {
    noteAllocation();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}

void* countedAlignedNew(size_t size, std::align_val_t alignment) {
    noteAllocation();
    const size_t a = static_cast<size_t>(alignment);
    if (void* p = std::aligned_alloc(a, (size + a - 1) / a * a)) return p;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(size_t size) { return countedNew(size); }
void* operator new[](size_t size) { return countedNew(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    noteAllocation();
    return std::malloc(size ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    noteAllocation();
    return std::malloc(size ? size : 1);
}
void* operator new(size_t size, std::align_val_t a) { return countedAlignedNew(size, a); }
void* operator new[](size_t size, std::align_val_t a) { return countedAlignedNew(size, a); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { std::free(p); }

namespace {

// Allocations made by `body` on this thread.
template <typename Body>
long allocationsDuring(Body body) {
    allocationCount = 0;
    countingArmed = true;
    body();
    countingArmed = false;
    return allocationCount.load();
}

// A bank with multipole sources on every mode, struck, with the listener beside the object;
// `context` sized for it.
void makeStruckBank(AudioBlockContext& context, int modeCount) {
    std::vector<double> frequencies;
    for (int i = 0; i < modeCount; ++i) frequencies.push_back(80.0 * (1 + i));
    makeBank(context, frequencies, 8.0f, 7e-6f);
    std::vector<std::vector<SourceRecord>> entries(modeCount);
    std::vector<double> waveNumbers;
    for (int i = 0; i < modeCount; ++i) {
        for (int j = 0; j < 4; ++j) {
            entries[i].push_back(
                SourceRecord{{0.01 * j, -0.02 * j, 0.03, 1, 0.5, 0.2, -0.1, 0.3, 0.1, -0.2, 0.4}});
        }
        waveNumbers.push_back(modeOmega[i] / 343.0);
    }
    setTransferModel(entries, waveNumbers);
    publishEye(0.6, 0.4, 0.9);
    for (int i = 0; i < modeCount; ++i) pendingModalForce[i] = 0.01 * (i % 7 - 3);
}

class AudioRealTime : public SyntheticBankTest {};

}  // namespace

// The counter itself: armed, it sees operator new and malloc; disarmed, nothing.
TEST_F(AudioRealTime, AllocationCounterSeesNewAndMalloc) {
    EXPECT_GE(allocationsDuring([] { delete new std::vector<int>(1000); }), 2);
    EXPECT_GE(allocationsDuring([] {
                  void* volatile p = malloc(64);
                  free(p);
              }),
              1);
    EXPECT_GE(allocationsDuring([] { (void)std::string(500, 'x'); }), 1);
    allocationCount = 0;
    delete new int(3);
    EXPECT_EQ(allocationCount.load(), 0);
}

TEST_F(AudioRealTime, CallbacksAllocateNothing) {
    makeStruckBank(audio, 50);
    std::vector<float> out(2 * 600);
    const long allocations = allocationsDuring([&] {
        for (int b = 0; b < 6; ++b) {
            // From the third block on, as with the Modes window open: levels and a solo.
            audio.modeLevelsWanted = b >= 2;
            audio.modeMask.soloMode(b >= 3 ? 7 : -1);
            rendererType = b % 2;
            impactDuration = (b % 3) * 200 + 1;
            const unsigned long frames = b == 4 ? 600 : b == 5 ? 441 : 220;
            monoAudioCallback(nullptr, out.data(), frames, nullptr, 0, &audio);
            stereoAudioCallback(nullptr, out.data(), frames, nullptr, 0, &audio);
            pendingModalForce[b] += 0.5;  // a strike between blocks, as the GUI would add it
        }
    });
    EXPECT_EQ(allocations, 0);
    EXPECT_GT(resonators[0]->displacement * resonators[0]->displacement, 0.0);
}

// A GUI thread does what the panel, the mouse and the camera do while blocks run on an audio
// thread: strikes under forceMutex; silences and re-damps the bank under synthesisMutex (together
// with the active mode count, as the panel does); publishes listener and pose; changes the
// renderer and the impact duration; solos and mutes modes and reads their published levels, as
// the Modes window does; reads the peaks and the workload.
TEST_F(AudioRealTime, GuiThreadAndAudioThreadShareTheBankSafely) {
    makeStruckBank(audio, 24);
    audio.modeLevelsWanted = true;  // as while the Modes window is open
    std::atomic<bool> stop{false};
    std::atomic<long> blocks{0};
    std::atomic<long> badSamples{0};
    std::thread audioThread([&] {
        std::vector<float> out(2 * 220);
        while (!stop.load()) {
            const bool stereo = (blocks.load() / 50) % 2 == 1;
            if (stereo) {
                stereoAudioCallback(nullptr, out.data(), 220, nullptr, 0, &audio);
            } else {
                monoAudioCallback(nullptr, out.data(), 220, nullptr, 0, &audio);
            }
            for (size_t i = 0; i < (stereo ? 440u : 220u); ++i) {
                badSamples += !(std::fabs(out[i]) <= 1.0f);
            }
            ++blocks;
        }
    });
    long operations = 0;
    double observed = 0.0;
    // Until the GUI side has also read something the audio side published while both ran (a
    // loaded machine may run all 300 blocks while this thread waits to be scheduled).
    while (blocks.load() < 300 || operations < 3000 || observed == 0.0) {
        const int k = static_cast<int>(operations % 10);
        if (k < 4) {
            MutexLock lock(forceMutex);
            for (int i = 0; i < totalModeCount; ++i) pendingModalForce[i] += 0.2 * ((i + k) % 3);
        } else if (k == 4) {
            MutexLock lock(synthesisMutex);
            for (int i = 0; i < totalModeCount; ++i) {
                resonators[i]->silence();
                activeModalForce[i] = pendingModalForce[i] = 0.0;
            }
        } else if (k == 5) {
            MutexLock lock(synthesisMutex);
            setBankDamping(operations % 20 == 5 ? 2.0 : 8.0, 7e-6);
        } else if (k == 6) {
            activeModeCount = 8 + static_cast<int>(operations % 17);
            MutexLock lock(synthesisMutex);
            for (int i = 0; i < totalModeCount; ++i) resonators[i]->silence();
        } else if (k == 7) {
            const double a = 0.001 * operations;
            publishEye(std::cos(a), 0.5, std::sin(a));
            publishedObjectPose.store(ObjectPose{
                {0, 1, 0}, {1, 0, 0, 0, std::cos(a), -std::sin(a), 0, std::sin(a), std::cos(a)}});
        } else if (k == 8) {
            rendererType = (operations / 10) % 2;
            impactDuration = 1 + static_cast<int>(operations % 256);
            clearPeakRings();
            // The Modes window's solo and mute.
            audio.modeMask.soloMode(operations % 40 < 20 ? static_cast<int>(operations / 40 % 24)
                                                         : -1);
            audio.modeMask.setModeMuted(static_cast<int>(operations % 24), operations % 3 == 0);
        } else {
            for (int i = 0; i < kPeakRingSize; ++i) observed += monoPeaks[i] + leftPeaks[i];
            if (audio.modeLevels.acquireLatest()) observed += audio.modeLevels.levelsSquared()[0];
            MutexLock lock(workloadMutex);
            observed += callbackSeconds;
        }
        ++operations;
        if (operations % 64 == 0) std::this_thread::yield();
    }
    stop = true;
    audioThread.join();
    audio.modeLevelsWanted = false;
    audio.modeMask.clear();
    EXPECT_EQ(badSamples.load(), 0);
    EXPECT_GT(observed, 0.0);

    // Silenced with no strike pending, the next block is exact silence.
    {
        MutexLock lock(synthesisMutex);
        for (int i = 0; i < totalModeCount; ++i) {
            resonators[i]->silence();
            activeModalForce[i] = pendingModalForce[i] = 0.0;
        }
    }
    std::vector<float> out(220, 1.0f);
    monoAudioCallback(nullptr, out.data(), 220, nullptr, 0, &audio);
    for (float s : out) ASSERT_EQ(s, 0.0f);
}

#ifdef __linux__
// The three mutexes the callbacks take pass a waiting audio thread's real-time priority to the GUI
// thread that holds one (platform/mutex.h), so the GUI thread cannot be held off the processor by
// busy threads of normal priority while the callback waits.
TEST_F(AudioRealTime, CallbacksMutexesInheritTheWaitersPriority) {
    EXPECT_TRUE(synthesisMutex.inheritsPriority());
    EXPECT_TRUE(forceMutex.inheritsPriority());
    EXPECT_TRUE(workloadMutex.inheritsPriority());
}
#endif

// Without streams the mode switch only fixes the channel mode and clears the peak rings: stereo
// exists for "ZEP" only.
TEST_F(AudioRealTime, ModalRendererForcesMonoAndClearsPeaks) {
    rendererType = 1;
    channelMode = 1;
    monoPeaks[3] = 0.5;
    leftPeaks[0] = 2.0;
    rightPeaks[9] = 1.0;
    onAudioModeChanged();
    EXPECT_EQ(channelMode.load(), 0);
    for (int i = 0; i < kPeakRingSize; ++i) {
        EXPECT_EQ(monoPeaks[i].load() + leftPeaks[i].load() + rightPeaks[i].load(), 0.0);
    }
    rendererType = 0;
    channelMode = 1;
    onAudioModeChanged();
    EXPECT_EQ(channelMode.load(), 1);
    stopAudio();  // never started: nothing to do
}
