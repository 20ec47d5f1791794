// Loudness calibration of a baked scene: the force unit (newtons per unit of the program's force)
// that makes the program's preset strike at its start camera clearly heard. The baker runs it
// between the acoustic transfer stage and the writing, and writes the mode shapes times the
// force unit as ".U", so that the program, its presets and its file formats stay as they are.
//
// The strike is the program's own (sound/impact.h, sound/audio_block.cpp): a click at the start
// camera on surface vertex v pushes along the unit vector d from the eye to the vertex with the
// preset magnitude M for the default impact duration (10 samples); mode i receives the modal
// force g M (u_i(v) . d) with the modal force gain g = 26, rings in its resonator (unit modal
// mass, Rayleigh damping c_i = alpha + beta omega_i^2) and is heard in "ZEP" mono with the weight
// omega_i |p_i(eye)|, p_i the pressure of the mode's fitted sources at unit modal velocity
// (pascals), evaluated at the eye in the object's frame. The output is linear in the force, so
// one response at force unit 1 N fixes the unit for any target.
//
// Units: SI; an output sample of 1.0 is 1 Pa at the listener and full scale, so a peak P is
// 20 log10(P) dBFS.
#pragma once

#include <Eigen/Core>
#include <string>
#include <vector>

#include "tools/bake/output/object_presets.h"
#include "tools/bake/recipe/recipe.h"
#include "tools/bake/transfer/multipole/transfer_files.h"

// The program's preset strike and listener of one scene, at the start camera, the object at
// rest. The defaults are the program's (sound/synthesis_state.h, sound/synthesis_state.cpp).
struct PresetStrike {
    double magnitude = 0.0;                 // M, units of the program's force
    int durationSamples = 10;               // samples the force acts (the program's default)
    double forceGain = 26.0;                // g, the program's modal force gain
    double massDamping = 0.0;               // Rayleigh alpha, 1/s
    double stiffnessDamping = 0.0;          // Rayleigh beta, s
    double timeStep = 1.0 / 44100.0;        // s
    Eigen::Vector3d eye{0.0, 0.0, 0.0};     // the start camera's eye, world, m
    Eigen::Vector3d objectOrigin{0, 0, 0};  // world position of the object's frame at rest, m
    double modalRendererGain = 0.0;         // "Modal" renderer: weight gain / |eye - origin|
};

// The preset strike of the program's scene named `sceneName` ("bell", "chair" or "dragon": the
// name chooses the preset, as tonwell-render's folder name does), from geometry/scene_presets.cpp:
// its magnitude and damping, the eye of its start camera (focus + r (cos el cos az, sin el,
// -cos el sin az), geometry/orbit_camera.cpp) and, for the bell, the object's frame at the rest
// pose of its swing (translated by (0, 1, 0), app/swing.cpp). Returns false for any other name.
bool presetStrikeForScene(const std::string& sceneName, PresetStrike* strike);

// The preset strike of a scene: the program's fixed table for bell, chair and dragon (as above),
// otherwise the presets `computed` from the object (its start camera, magnitude, damping and
// "Modal" gain; the object's frame is the world's). Returns false for another name without
// computed presets (null).
bool presetStrikeForScene(const std::string& sceneName, const ObjectPresets* computed,
                          PresetStrike* strike);

// The loudness of the preset strike on a set of vertices.
struct StrikeLoudness {
    std::vector<int> vertices;       // 0-based surface vertices struck (OBJ vertex v + 1)
    std::vector<double> zepPeaks;    // per vertex: largest |sample| in "ZEP" mono, Pa
    std::vector<double> modalPeaks;  // per vertex: largest |sample| in "Modal" mono
    double zepMedian = 0.0;          // medians over the vertices (mean of the middle two)
    double modalMedian = 0.0;
};

// `count` vertices of `positions` spread over the object by farthest-point sampling: the first is
// the vertex farthest from the centroid of all vertices, each next one the vertex farthest from
// those already chosen (ties to the lowest index). Deterministic. Precondition: 1 <= count <=
// positions.size().
std::vector<int> spreadVertices(const std::vector<Eigen::Vector3d>& positions, int count);

// The preset strike on each of `vertices`, at force unit 1 N, its output sampled as the program
// samples it: sample n is the sum over the modes of weight_i q_i((n + 1) dt), with q_i the exact
// response of the unit-mass oscillator to a rectangular force pulse (the program's resonators
// are its exact zero-order-hold discretisation), the force starting at t = 0. The peak is the
// largest |sample| over all time: the sum is followed until the decaying envelope
// sum_i |weight_i z_i(t)| (z_i the resonator's complex state, |q_i| <= |z_i| after the pulse)
// falls below the peak found so far, or for at most 30 s.
// positions: the surface vertices in the object's frame (m); surfaceShapes: 3N x r, the
// mass-normalised surface mode shapes (row 3v + k = axis k of vertex v, m per unit modal
// coordinate); frequencies: r, Hz; transfer: r modes' fitted sources and wave numbers (the files
// the program reads). Modes the program refuses (damping ratio >= 1) are silent here too.
// Cost: about r x (samples followed) complex updates and a matrix product of the same samples
// with an r x 2|vertices| weight matrix; well under a second for 250 modes followed for 2 s.
StrikeLoudness presetStrikeLoudness(const std::vector<Eigen::Vector3d>& positions,
                                    const Eigen::MatrixXd& surfaceShapes,
                                    const Eigen::VectorXd& frequencies,
                                    const std::vector<TransferFileMode>& transfer,
                                    const PresetStrike& strike, const std::vector<int>& vertices);

// What the baker found and applied, for the report.
struct LoudnessCalibration {
    bool calibrated = false;         // the preset strike was measured (a preset exists)
    bool automatic = false;          // the force unit was computed for the target
    bool presetsCalibrated = false;  // computed presets: the impact magnitude and the "Modal"
                                     // gain were computed for the target (force unit fixed)
    double forceUnit = 1.0;          // N per unit of the program's force; scales ".U"
    double target_dBFS = -12.0;      // the target median peak (automatic only)
    PresetStrike strike;             // what was struck
    StrikeLoudness atUnitForce;      // the peaks at force unit 1 N
};

// The force unit of the scene of `recipe`: recipe.loudness.forceUnit when it is fixed, otherwise
// the unit that puts the median "ZEP" peak of the preset strike on ten spread vertices at
// recipe.loudness.strikePeak_dBFS: forceUnit = 10^(target / 20) / (median peak at 1 N). The
// strike is measured whenever the scene has a preset (for the report). Arguments as for
// presetStrikeLoudness.
// With `presets` (a scene with computed presets, object_presets.h) the force unit is the recipe's
// number, or 1 N, and the presets are calibrated instead, in place: the impact magnitude
// M = 10^(target / 20) / (forceUnit x median ZEP peak at M = 1), its spinner limits M / 25 and
// 4 M, and the "Modal" gain that makes that renderer's median peak equal the ZEP median (both are
// linear in the magnitude, "Modal" also in its gain).
// Throws BakeError naming the recipe when the automatic unit is asked for a scene without a
// preset or the strike is silent at the listener.
LoudnessCalibration calibrateLoudness(const Recipe& recipe,
                                      const std::vector<Eigen::Vector3d>& positions,
                                      const Eigen::MatrixXd& surfaceShapes,
                                      const Eigen::VectorXd& frequencies,
                                      const std::vector<TransferFileMode>& transfer,
                                      ObjectPresets* presets = nullptr);

// 20 log10(peak): the level of a peak in dBFS (full scale 1.0); -inf for 0.
double peakToDbfs(double peak);

// One line for the progress output and the report: the force unit and the median peaks in dBFS.
std::string describeLoudness(const LoudnessCalibration& calibration);
