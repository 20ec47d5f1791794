// A moving contact on the struck object as an audio block plays it: the setting a control thread
// hands over (where the contact touches, how hard, how fast, on what surface), and the block's
// side of it (the modal force at the contact point at the last block's end and at this one's,
// the excitation, the last speed), from which the bank's contact input is loaded
// (loadModalBankContact, sound/modal_bank_lanes.h).
//
// One MovingContact belongs to each runner of blocks: the demo's block context
// (sound/audio_block_context.h), each engine object (engine/engine_object.h). The setting
// reaches it through a seqlock the runner owns; `take` runs on the audio thread.
#pragma once

#include <vector>

#include "sound/contact_excitation.h"
#include "sound/surface_point.h"

class ModeShapeMatrix;

// What the control thread hands the block: plain data, for a seqlock.
struct ContactSetting {
    bool touching = false;
    SurfacePoint point{{0, 0, 0}, {1.0, 0.0, 0.0}};
    double direction[3] = {0.0, 0.0, 0.0};  // unit, the object's mode-shape frame
    double normalForce = 0.0;               // F_N, program force units (as a strike's magnitude)
    double speed = 0.0;                     // tangential speed, m/s
    double roughness = kDefaultContactRoughness;  // sigma
    RoughnessProfileDesign design;                // kind, slope, ball radius
};

// The control thread's side: builds settings, designing the profile only when the kind, slope or
// radius change (a design runs its generator for a few milliseconds).
class ContactSettingBuilder {
  public:
    // The setting of a contact at `point` pressing with `normalForce` along `direction`
    // (normalised here; zero: a silent contact) at `speed`, on a surface of `kind`, `roughness`
    // (sigma), `slope` (beta) and, for a roll, ball radius `ballRadius_m`.
    // Control thread; designs (no allocation) when the profile's parameters change.
    const ContactSetting& touch(const SurfacePoint& point, const double direction[3],
                                double normalForce, double speed, ContactKind kind,
                                double roughness, double slope, double ballRadius_m);

  private:
    ContactSetting setting_;
    bool designed_ = false;
    double slope_ = 0.0, radius_ = 0.0;
};

class MovingContact {
  public:
    // Storage for `modeCount` modes and blocks of up to `maxBlockFrames` frames.
    // Allocates: before blocks run.
    void allocate(int modeCount, int maxBlockFrames);

    // [Audio thread] This block's contact from `setting`: the modal amplitudes move from the
    // last block's end to F_N * modalForceGain * u(point) . direction (0 for modes from
    // activeModes on, and for all once lifted); the excitation of frameCount samples, its speed
    // gliding from the last block's (a contact that starts has none: it starts at its speed).
    // False when nothing sounds (no contact, or a lifted one whose fade is done), or the block is
    // longer than allocated: the bank then runs without a contact input.
    // Real-time: no allocation, no I/O, no lock.
    bool take(const ContactSetting& setting, const ModeShapeMatrix& shapes, int activeModes,
              int frameCount);

    // This block's amplitudes and signal, valid after take returned true.
    const double* startAmplitudes() const { return start_.data(); }
    const double* endAmplitudes() const { return end_.data(); }
    const double* signal() const { return signal_.data(); }

  private:
    std::vector<double> start_, end_, signal_;
    ContactExcitation excitation_;
    double speed_ = 0.0;
    bool wasTouching_ = false;
};
