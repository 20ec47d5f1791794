// The binaural listener's gains: every mode heard through a measured head. A mode is a single
// frequency, so each ear's head-related transfer function reduces to one complex gain per mode:
//   g_ear,i = omega_i |p_i(eye)| H_ear(f_i, direction),
// the "ZEP" gain at the head's centre (the eye, where the stereo output has its two free-air
// points at the ears instead) times the ear's HRTF (sound/hrtf_set.h) at the mode's frequency
// f_i = omega_i / 2 pi, for the direction of the object seen from the head. The phase of H
// carries the interaural time difference and its modulus the level difference.
//
// Applied to a resonator with complex state z = s + i q (sound/modal_resonator.h), which turns as
// e^{+i omega t}, a gain g = a + i b gives the ear Im(z g) = q a + s b: for a pure delay d,
// g = e^{-i omega d} and Im(z g) = q(t - d) (to the factor e^{xi omega d} of the decay over d,
// below 1e-4 for the delays of a head). The lanes' complex mix does this per sample
// (sound/modal_bank_lanes.h); these gains are computed once per block, with the transfer.
//
// The object's direction: the transfer model's centre (the mean of its sources) brought into the
// world with the object's pose (so the swinging bell moves in the head's frame as in the
// transfer's), then into the head's frame (geometry/listener_points.h: forward, left, up).
//
// The demo's audio block (sound/audio_block.h) and the engine's object block (engine/
// engine_object.h) both call computeBinauralGains, so the demo, tonwell-render and libtonwell
// hear the same gains.
#pragma once

#include "geometry/listener_points.h"
#include "geometry/object_pose.h"
#include "sound/hrtf_set.h"
#include "sound/transfer_model.h"

// The direction of the object seen from the head, in the head's frame (x forward, y left, z up):
// the unit vector from listener.eye to pose(transfer.centre); straight ahead (1, 0, 0) when the
// two coincide.
// Real-time: no allocation, no I/O, no lock; four square roots.
void objectDirectionInHead(const TransferModel& transfer, const ObjectPose& pose,
                           const ListenerPoints& listener, double direction[3]);

// The binaural gains of modes 0 .. modeCount-1: real[ear][i] + i imag[ear][i] = g_ear,i as above
// (ear 0 left, 1 right), with the transfer evaluated at listener.eye brought into the object's
// frame with `pose` (lane build useAvx2Lanes); modes beyond transfer.frequencyCount get 0.
// modeOmega[i] in rad/s. real[0] serves as scratch for the transfer. Precondition: the four
// arrays hold modeCount entries.
// Real-time: no allocation, no I/O, no lock; the transfer's cost (one sine and cosine per
// source), the direction's lookup (O(hrtf directions) dot products, three arc cosines), and per
// mode two sines and two cosines (the ears' delays, four modes per lane group:
// sound/vector_lanes.h) and six complex multiply-adds.
void computeBinauralGains(const TransferModel& transfer, const double* modeOmega, int modeCount,
                          bool useAvx2Lanes, const HrtfSet& hrtf, const ObjectPose& pose,
                          const ListenerPoints& listener, double* const real[2],
                          double* const imag[2]);
