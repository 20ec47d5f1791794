// The wave tier of the acoustic transfer: for every mode of an object, the complex pressure it
// radiates at given points when it moves with unit modal velocity, from time-domain runs of the
// wave solver with several modes driven together (mode_conflation.h). The transfer stage samples
// the field where its multipole fit wants it (transfer/multipole/field_fit.h) and fits sources
// to it as for the other tiers.
//
// Conventions as in the rest of the baker: SI units, air density kAirDensity_kgm3 and speed of
// sound kSpeedOfSound_ms, time dependence e^{+iwt} (p(t) = Re{P e^{iwt}}), outgoing waves
// e^{-ikr} / r, normal velocity v_n = u . n with n out of the solid.
#pragma once

#include <Eigen/Core>
#include <vector>

#include "tools/bake/surface/surface_mesh.h"
#include "tools/bake/transfer/wave/mode_conflation.h"
#include "tools/bake/transfer/wave/wave_settings.h"

struct WaveTransfer {
    Eigen::MatrixXcd pressure;            // points x modes, Pa for unit modal velocity
    std::vector<ChordStatistics> chords;  // in the order they ran (costliest first)
};

// The pressure of every mode at `points`. surface: closed, outward-oriented (m), N vertices;
// shapes: 3 N x modes, the surface rows of the mode shapes (row 3 v + axis), the surface velocity
// (m/s) for unit modal velocity; omegas: the modes' angular frequencies (rad/s, > 0); points: in
// the air around the object (m). Chords as planned by planChords, run one after the other on
// settings.threads threads each. Throws BakeError when a point lies inside the voxelised object.
WaveTransfer computeWaveTransfer(const SurfaceMesh& surface, const Eigen::MatrixXd& shapes,
                                 const Eigen::VectorXd& omegas,
                                 const std::vector<Eigen::Vector3d>& points,
                                 const WaveSettings& settings);
