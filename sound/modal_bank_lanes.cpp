// The vectorised resonator loop. Modes are independent, so they are advanced side by side: eight
// at a time (two groups of four lanes, two independent dependency chains), sample after sample,
// each pass adding its eight modes' weighted displacements into per-frame lane sums.
//
// On x86-64 the kernel is compiled twice, for AVX2 and for the baseline instruction set
// (sound/vector_lanes.h).
#include "sound/modal_bank_lanes.h"

#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#define TONWELL_HAVE_AVX2_KERNEL 1
#endif

ModalBankLanes::ModalBankLanes(int modeCapacity)
    : capacity((modeCapacity + kGroupModes - 1) / kGroupModes * kGroupModes) {
    for (std::vector<double>* array :
         {&stateReal, &displacement, &stepReal, &stepImag, &forceReal, &forceImag, &gainStart[0],
          &gainStep[0], &gainStart[1], &gainStep[1], &gainImagStart[0], &gainImagStep[0],
          &gainImagStart[1], &gainImagStep[1], &contactReal, &contactImag, &contactStepReal,
          &contactStepImag}) {
        array->assign(capacity, 0.0);
    }
    memset(mixLanes, 0, sizeof mixLanes);
}

void loadModalBankLanes(ModalBankLanes& bank, ModalResonator* const* resonators, int modeCount,
                        int channelCount, const double* const* previousGains,
                        const double* const* gains, int frameCount,
                        const double* const* previousImagGains, const double* const* imagGains) {
    bank.modeCount = modeCount;
    bank.channelCount = channelCount;
    bank.contactSignal = nullptr;
    bank.complexGains = imagGains != nullptr && previousImagGains != nullptr;
    const double invN = 1.0 / static_cast<double>(frameCount);
    for (int e = 0; e < modeCount; ++e) {
        const ModalResonator& r = *resonators[e];
        bank.stateReal[e] = r.stateReal;
        bank.displacement[e] = r.displacement;
        bank.stepReal[e] = r.stepFactor[0];
        bank.stepImag[e] = r.stepFactor[1];
        // The input terms G_r f and G_i f are what advance() adds each step.
        bank.forceReal[e] = r.inputFactor[0] * r.force;
        bank.forceImag[e] = r.inputFactor[1] * r.force;
        for (int c = 0; c < channelCount; ++c) {
            bank.gainStart[c][e] = previousGains[c][e];
            bank.gainStep[c][e] = (gains[c][e] - previousGains[c][e]) * invN;
        }
        if (bank.complexGains) {
            for (int c = 0; c < channelCount; ++c) {
                bank.gainImagStart[c][e] = previousImagGains[c][e];
                bank.gainImagStep[c][e] = (imagGains[c][e] - previousImagGains[c][e]) * invN;
            }
        }
    }
    // The slots that pad the last group are silent modes at rest with zero gain.
    const int padded = (modeCount + ModalBankLanes::kGroupModes - 1) / ModalBankLanes::kGroupModes *
                       ModalBankLanes::kGroupModes;
    for (int e = modeCount; e < padded; ++e) {
        bank.stateReal[e] = bank.displacement[e] = 0.0;
        bank.stepReal[e] = bank.stepImag[e] = 0.0;
        bank.forceReal[e] = bank.forceImag[e] = 0.0;
        for (int c = 0; c < channelCount; ++c) {
            bank.gainStart[c][e] = bank.gainStep[c][e] = 0.0;
            bank.gainImagStart[c][e] = bank.gainImagStep[c][e] = 0.0;
        }
    }
}

void reloadModalBankForces(ModalBankLanes& bank, ModalResonator* const* resonators) {
    for (int e = 0; e < bank.modeCount; ++e) {
        const ModalResonator& r = *resonators[e];
        bank.forceReal[e] = r.inputFactor[0] * r.force;
        bank.forceImag[e] = r.inputFactor[1] * r.force;
    }
}

void loadModalBankContact(ModalBankLanes& bank, ModalResonator* const* resonators,
                          const double* startAmplitude, const double* endAmplitude,
                          const double* signal, int frameCount) {
    const double invN = 1.0 / static_cast<double>(frameCount);
    for (int e = 0; e < bank.modeCount; ++e) {
        const ModalResonator& r = *resonators[e];
        // The kernel adds signal[i] times G a_e(i); a_e(i) = start + (i + 1) step, so the
        // running term starts one step ahead of `start`.
        const double step = (endAmplitude[e] - startAmplitude[e]) * invN;
        bank.contactReal[e] = r.inputFactor[0] * (startAmplitude[e] + step);
        bank.contactImag[e] = r.inputFactor[1] * (startAmplitude[e] + step);
        bank.contactStepReal[e] = r.inputFactor[0] * step;
        bank.contactStepImag[e] = r.inputFactor[1] * step;
    }
    const int padded = (bank.modeCount + ModalBankLanes::kGroupModes - 1) /
                       ModalBankLanes::kGroupModes * ModalBankLanes::kGroupModes;
    for (int e = bank.modeCount; e < padded; ++e) {
        bank.contactReal[e] = bank.contactImag[e] = 0.0;
        bank.contactStepReal[e] = bank.contactStepImag[e] = 0.0;
    }
    bank.contactSignal = signal;
}

namespace {

#define LOAD_LANES(v, p) memcpy(&(v), (p), sizeof(ModeLanes))
#define STORE_LANES(p, v) memcpy((p), &(v), sizeof(ModeLanes))

// One pass of `kChannels` channels over the frames of a segment for every group of eight modes.
// The recurrence per mode, as in ModalResonator::advance:
//   s' = s E_r - E_i q + G_r f,   q' = G_i f + s E_i + E_r q
// With a contact, the input terms G a_e(i) move by their step each frame and are weighted by the
// block's signal: s' += signal[i] Ca_r, q' += signal[i] Ca_i.
template <bool kWithForce, bool kWithContact, int kChannels>
__attribute__((always_inline)) inline void renderGroups(ModalBankLanes& bank, int firstFrame,
                                                        int frameCount) {
    constexpr int W = ModalBankLanes::kLaneWidth;
    for (int c = 0; c < kChannels; ++c) {
        memset(bank.mixLanes[c], 0, sizeof(ModeLanes) * frameCount);
    }
    const int padded = (bank.modeCount + ModalBankLanes::kGroupModes - 1) /
                       ModalBankLanes::kGroupModes * ModalBankLanes::kGroupModes;
    const double first = static_cast<double>(firstFrame);
    for (int m = 0; m < padded; m += ModalBankLanes::kGroupModes) {
        ModeLanes s0, s1, q0, q1, er0, er1, ei0, ei1, fr0, fr1, fi0, fi1;
        LOAD_LANES(s0, &bank.stateReal[m]);
        LOAD_LANES(s1, &bank.stateReal[m + W]);
        LOAD_LANES(q0, &bank.displacement[m]);
        LOAD_LANES(q1, &bank.displacement[m + W]);
        LOAD_LANES(er0, &bank.stepReal[m]);
        LOAD_LANES(er1, &bank.stepReal[m + W]);
        LOAD_LANES(ei0, &bank.stepImag[m]);
        LOAD_LANES(ei1, &bank.stepImag[m + W]);
        LOAD_LANES(fr0, &bank.forceReal[m]);
        LOAD_LANES(fr1, &bank.forceReal[m + W]);
        LOAD_LANES(fi0, &bank.forceImag[m]);
        LOAD_LANES(fi1, &bank.forceImag[m + W]);
        ModeLanes cr0{}, cr1{}, ci0{}, ci1{}, dcr0{}, dcr1{}, dci0{}, dci1{};
        if (kWithContact) {
            LOAD_LANES(cr0, &bank.contactReal[m]);
            LOAD_LANES(cr1, &bank.contactReal[m + W]);
            LOAD_LANES(ci0, &bank.contactImag[m]);
            LOAD_LANES(ci1, &bank.contactImag[m + W]);
            LOAD_LANES(dcr0, &bank.contactStepReal[m]);
            LOAD_LANES(dcr1, &bank.contactStepReal[m + W]);
            LOAD_LANES(dci0, &bank.contactStepImag[m]);
            LOAD_LANES(dci1, &bank.contactStepImag[m + W]);
            cr0 += first * dcr0;
            cr1 += first * dcr1;
            ci0 += first * dci0;
            ci1 += first * dci1;
        }
        ModeLanes g0[kChannels], g1[kChannels], d0[kChannels], d1[kChannels];
        for (int c = 0; c < kChannels; ++c) {
            ModeLanes start0, start1;
            LOAD_LANES(start0, &bank.gainStart[c][m]);
            LOAD_LANES(start1, &bank.gainStart[c][m + W]);
            LOAD_LANES(d0[c], &bank.gainStep[c][m]);
            LOAD_LANES(d1[c], &bank.gainStep[c][m + W]);
            g0[c] = start0 + first * d0[c];
            g1[c] = start1 + first * d1[c];
        }
        for (int i = 0; i < frameCount; ++i) {
            ModeLanes sNext0, sNext1, qNext0, qNext1;
            if (kWithForce) {
                sNext0 = s0 * er0 - ei0 * q0 + fr0;
                sNext1 = s1 * er1 - ei1 * q1 + fr1;
                qNext0 = fi0 + s0 * ei0 + er0 * q0;
                qNext1 = fi1 + s1 * ei1 + er1 * q1;
            } else {
                sNext0 = s0 * er0 - ei0 * q0;
                sNext1 = s1 * er1 - ei1 * q1;
                qNext0 = s0 * ei0 + er0 * q0;
                qNext1 = s1 * ei1 + er1 * q1;
            }
            if (kWithContact) {
                const double x = bank.contactSignal[firstFrame + i];
                sNext0 += x * cr0;
                sNext1 += x * cr1;
                qNext0 += x * ci0;
                qNext1 += x * ci1;
                cr0 += dcr0;
                cr1 += dcr1;
                ci0 += dci0;
                ci1 += dci1;
            }
            s0 = sNext0;
            s1 = sNext1;
            q0 = qNext0;
            q1 = qNext1;
            for (int c = 0; c < kChannels; ++c) {
                bank.mixLanes[c][i] += q0 * g0[c] + q1 * g1[c];
                g0[c] += d0[c];
                g1[c] += d1[c];
            }
        }
        STORE_LANES(&bank.stateReal[m], s0);
        STORE_LANES(&bank.stateReal[m + W], s1);
        STORE_LANES(&bank.displacement[m], q0);
        STORE_LANES(&bank.displacement[m + W], q1);
    }
}

// The complex-gain pass (two channels): the recurrence of renderGroups, one group of four modes
// at a time, each channel adding Im(z' g) = q' a + s' b with a and b ramped. One group rather
// than two keeps the state, the step factors and the four ramps of each channel in registers
// (two groups would need 24 vector registers without the force terms; AVX2 has 16).
template <bool kWithForce, bool kWithContact>
__attribute__((always_inline)) inline void renderComplexGroups(ModalBankLanes& bank, int firstFrame,
                                                               int frameCount) {
    constexpr int W = ModalBankLanes::kLaneWidth;
    for (int c = 0; c < 2; ++c) memset(bank.mixLanes[c], 0, sizeof(ModeLanes) * frameCount);
    const int padded = (bank.modeCount + ModalBankLanes::kGroupModes - 1) /
                       ModalBankLanes::kGroupModes * ModalBankLanes::kGroupModes;
    const double first = static_cast<double>(firstFrame);
    for (int m = 0; m < padded; m += W) {
        ModeLanes s, q, er, ei, fr, fi;
        LOAD_LANES(s, &bank.stateReal[m]);
        LOAD_LANES(q, &bank.displacement[m]);
        LOAD_LANES(er, &bank.stepReal[m]);
        LOAD_LANES(ei, &bank.stepImag[m]);
        LOAD_LANES(fr, &bank.forceReal[m]);
        LOAD_LANES(fi, &bank.forceImag[m]);
        ModeLanes cr{}, ci{}, dcr{}, dci{};
        if (kWithContact) {
            LOAD_LANES(cr, &bank.contactReal[m]);
            LOAD_LANES(ci, &bank.contactImag[m]);
            LOAD_LANES(dcr, &bank.contactStepReal[m]);
            LOAD_LANES(dci, &bank.contactStepImag[m]);
            cr += first * dcr;
            ci += first * dci;
        }
        ModeLanes g[2], d[2], h[2], e[2];
        for (int c = 0; c < 2; ++c) {
            ModeLanes start, imagStart;
            LOAD_LANES(start, &bank.gainStart[c][m]);
            LOAD_LANES(d[c], &bank.gainStep[c][m]);
            LOAD_LANES(imagStart, &bank.gainImagStart[c][m]);
            LOAD_LANES(e[c], &bank.gainImagStep[c][m]);
            g[c] = start + first * d[c];
            h[c] = imagStart + first * e[c];
        }
        for (int i = 0; i < frameCount; ++i) {
            ModeLanes sNext, qNext;
            if (kWithForce) {
                sNext = s * er - ei * q + fr;
                qNext = fi + s * ei + er * q;
            } else {
                sNext = s * er - ei * q;
                qNext = s * ei + er * q;
            }
            if (kWithContact) {
                const double x = bank.contactSignal[firstFrame + i];
                sNext += x * cr;
                qNext += x * ci;
                cr += dcr;
                ci += dci;
            }
            s = sNext;
            q = qNext;
            for (int c = 0; c < 2; ++c) {
                bank.mixLanes[c][i] += q * g[c] + s * h[c];
                g[c] += d[c];
                h[c] += e[c];
            }
        }
        STORE_LANES(&bank.stateReal[m], s);
        STORE_LANES(&bank.displacement[m], q);
    }
}

__attribute__((always_inline)) inline void renderSegment(ModalBankLanes& bank, int firstFrame,
                                                         int frameCount, bool withForce,
                                                         double* const* mix) {
    const bool withContact = bank.contactSignal != nullptr;
    if (bank.channelCount == 2 && bank.complexGains) {
        if (withContact) {
            if (withForce) {
                renderComplexGroups<true, true>(bank, firstFrame, frameCount);
            } else {
                renderComplexGroups<false, true>(bank, firstFrame, frameCount);
            }
        } else if (withForce) {
            renderComplexGroups<true, false>(bank, firstFrame, frameCount);
        } else {
            renderComplexGroups<false, false>(bank, firstFrame, frameCount);
        }
    } else if (bank.channelCount == 2) {
        if (withContact) {
            if (withForce) {
                renderGroups<true, true, 2>(bank, firstFrame, frameCount);
            } else {
                renderGroups<false, true, 2>(bank, firstFrame, frameCount);
            }
        } else if (withForce) {
            renderGroups<true, false, 2>(bank, firstFrame, frameCount);
        } else {
            renderGroups<false, false, 2>(bank, firstFrame, frameCount);
        }
    } else {
        if (withContact) {
            if (withForce) {
                renderGroups<true, true, 1>(bank, firstFrame, frameCount);
            } else {
                renderGroups<false, true, 1>(bank, firstFrame, frameCount);
            }
        } else if (withForce) {
            renderGroups<true, false, 1>(bank, firstFrame, frameCount);
        } else {
            renderGroups<false, false, 1>(bank, firstFrame, frameCount);
        }
    }
    for (int c = 0; c < bank.channelCount; ++c) {
        for (int i = 0; i < frameCount; ++i) {
            const ModeLanes& v = bank.mixLanes[c][i];
            mix[c][i] = (v[0] + v[1]) + (v[2] + v[3]);
        }
    }
}

void renderSegmentBaseline(ModalBankLanes& bank, int firstFrame, int frameCount, bool withForce,
                           double* const* mix) {
    renderSegment(bank, firstFrame, frameCount, withForce, mix);
}

#ifdef TONWELL_HAVE_AVX2_KERNEL
__attribute__((target("avx2"))) void renderSegmentAvx2(ModalBankLanes& bank, int firstFrame,
                                                       int frameCount, bool withForce,
                                                       double* const* mix) {
    renderSegment(bank, firstFrame, frameCount, withForce, mix);
}
#endif

}  // namespace

void renderModalBankLanes(ModalBankLanes& bank, int firstFrame, int frameCount, bool withForce,
                          double* const* mix, [[maybe_unused]] bool useAvx2Lanes) {
#ifdef TONWELL_HAVE_AVX2_KERNEL
    if (useAvx2Lanes) {
        renderSegmentAvx2(bank, firstFrame, frameCount, withForce, mix);
        return;
    }
#endif
    renderSegmentBaseline(bank, firstFrame, frameCount, withForce, mix);
}

void storeModalBankLanes(const ModalBankLanes& bank, ModalResonator* const* resonators) {
    for (int e = 0; e < bank.modeCount; ++e) {
        ModalResonator& r = *resonators[e];
        const double s = bank.stateReal[e];
        const double q = bank.displacement[e];
        r.stateReal = s;
        r.displacement = q;
        // The velocity after the last step, Im(lambda z), exactly as advance() computes it.
        r.velocity = q * r.poleReal + r.dampedOmega * s;
    }
}
