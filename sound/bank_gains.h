// The renderers' per-mode gains of one bank at one listener point, from the bank's own transfer,
// frequencies and "Modal" gain: the demo's block computes its process-wide bank's with them
// (sound/audio_block.h), each engine object its own (engine/engine_object.h).
//
// Audio thread (or the engine's render thread).
#pragma once

#include "geometry/object_pose.h"

class TransferModel;

// The "ZEP" renderer's gains: gains[i] = omega[i] * transfer_i(x), x the listener point `world`
// brought into the object's frame with `pose` (world = R x + T), for modes 0 .. modeCount-1; the
// transfer's lane loops in their AVX2 build when useAvx2Lanes is set.
// Real-time: no allocation, no I/O, no lock; one sine, one cosine per source.
void zepGainsAt(const TransferModel& transfer, const double* omega, bool useAvx2Lanes,
                const ObjectPose& pose, const double world[3], double* gains, int modeCount);

// The "Modal" renderer's gains: all modeCount gains = modalRendererGain / |eye - T|, the distance
// from the eye to the object's origin; 0 when the eye is at the origin.
// Real-time: no allocation, no I/O, no lock.
void modalGainsAt(double modalRendererGain, const ObjectPose& pose, const double eye[3],
                  double* gains, int modeCount);
