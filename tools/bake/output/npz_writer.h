// The npz export of a scene: numpy's archive of named ".npy" arrays (a zip of stored members,
// zip_writer.h), for numpy users (numpy.load(path) gives a dict-like of the arrays below). All
// values are the scene files' own, bit for bit, except where a line says otherwise. Units SI.
//
//   frequencies            (modes,)            float64  Hz
//   damping_alpha          ()                  float64  Rayleigh alpha, 1/s
//   damping_beta           ()                  float64  Rayleigh beta, s
//   damping                (modes,)            float64  c_j = alpha + beta (2 pi f_j)^2, 1/s: the
//                                                       demo's q'' + c_j q' + omega_j^2 q = force
//   vertices               (vertices, 3)       float64  m, the OBJ file's vertex order
//   faces                  (triangles, 3)      int32    0-based vertex indices, counter-clockwise
//                                                       seen from outside
//   mode_shapes            (vertices, 3, modes) float64 the ".U" file: mass-normalised shapes
//                                                       times force_unit
//   force_unit             ()                  float64  N per program force unit, from the report
//                                                       (6 digits); NaN without one
//   transfer_wave_numbers  (modes,)            float64  k_j, 1/m, at which mode j's sources radiate
//   transfer_offsets       (modes + 1,)        int64    mode j's sources are rows
//                                                       transfer_offsets[j]:transfer_offsets[j+1]
//   transfer_positions     (sources, 3)        float64  m, the object's frame
//   transfer_coefficients  (sources, 4)        complex128  a0, a1, a2, a3 of each source
// and, when the folder has a report with its per-mode table (report_table.h):
//   tiers                  (modes,)            |S1      'A', 'B', 'C' or 'W'
//   report_<column>        (modes,)            one array per column of the table: mode (int32),
//       frequency_Hz, fit_frequency_Hz, tier (|S1), elements (int32), sources (int32),
//       fit_error_percent, held_out_error_percent, gmres_iterations (int32), unit_seconds,
//       check_power_dB, check_smoothed_dB, check_point_dB, wave_check_power_dB,
//       wave_check_point_dB (float64, NaN where the mode has no such check),
//       wave_check_against (|S1: 'A', 'F' or ' '), at_source_cap, above_tolerance,
//       moved_from_high_frequency, converged (bool).
// The pressure of mode j at a point x (e^{+i omega t}, outgoing h_n = j_n - i y_n; r, theta,
// phi of x minus the source's position, polar axis z):
//   p_j(x) = sum over its sources of a0 h0(k r) + h1(k r) (a1 cos theta + a2 sin theta e^{-i phi}
//            - a3 sin theta e^{+i phi}).
#pragma once

#include <string>

#include "tools/bake/output/scene_data.h"

// Writes `scene` to `path` as an npz archive. Throws BakeError naming `path` when it cannot be
// written or would exceed 4 GiB.
void writeNpz(const SceneData& scene, const std::string& path);
