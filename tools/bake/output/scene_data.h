// A baked scene folder gathered into memory once, for the exporters (npz_writer.h, glb_writer.h)
// and for any other reader of whole scenes: the struck object's mesh, the mode shapes and
// frequencies, the Rayleigh damping the demo applies, the acoustic transfer of every mode as its
// point sources, and the report's per-mode table. Read on the calling thread; no global state.
//
// The folder is found as tonwell-render finds it: a folder named bell, chair or dragon takes the
// demo's fixed presets (geometry/scene_presets.h) and their file names; any other folder is read
// through its presets.json ("damping" and "files"). Every file is read by the reader the program
// uses for it (the dense matrix reader, the transfer model's loader) or, for the OBJ mesh, the
// baker's own OBJ reader (which keeps the written decimals in double precision); their problems
// come back as one message naming the file, never as an exit of the process.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tools/bake/output/report_table.h"

struct SceneData {
    std::string name;  // the folder's last component, the scene's name

    // The struck object's surface, metres, in the OBJ file's vertex order (vertex v is OBJ vertex
    // v + 1 and row block v of the mode shapes).
    int vertexCount = 0;
    std::vector<double> vertices;  // 3 * vertexCount: x, y, z of vertex v at 3v .. 3v + 2
    std::vector<int32_t> faces;    // 3 per triangle, 0-based vertex indices, counter-clockwise
                                   // seen from outside

    // The modes.
    int modeCount = 0;
    std::vector<double> frequencies_Hz;  // modeCount
    // The ".U" file as stored (3 * vertexCount rows, modeCount columns, column-major): the
    // displacement of vertex v along axis a (x, y, z) in mode j is modeShapes[3v + a + 3 n j]
    // with n = vertexCount. The baker stores the mass-normalised shapes (U^T M U = I) times the
    // scene's force unit (forceUnit_N below).
    std::unique_ptr<double, decltype(&std::free)> modeShapes{nullptr, &std::free};
    // Newtons per unit of the program's force, folded into ".U" by the baker (from report.txt,
    // six significant digits); NaN when the folder has no report that states it.
    double forceUnit_N = 0.0;

    // Rayleigh damping as the demo applies it to every mode of unit modal mass:
    // c_j = alpha + beta omega_j^2 with omega_j = 2 pi f_j, the mode's equation
    // q'' + c_j q' + omega_j^2 q = force.
    double alpha_perSecond = 0.0;                       // mass-proportional, 1/s
    double beta_seconds = 0.0;                          // stiffness-proportional, s
    std::vector<double> dampingCoefficients_perSecond;  // c_j, modeCount

    // The acoustic transfer: per mode, point sources of orders 0 and 1 radiating at wave number
    // waveNumbers_perMetre[j]. Sources of mode j are records sourceOffsets[j] .. sourceOffsets[j+1]
    // - 1 of `sources`, each the 11 doubles of a ".sources" column: position x, y, z (m, the
    // object's frame), then the real and imaginary parts of a0, a1, a2, a3 (see
    // sound/transfer_model.h for the field they make).
    std::vector<double> waveNumbers_perMetre;  // modeCount
    std::vector<int64_t> sourceOffsets;        // modeCount + 1, from 0
    std::vector<double> sources;               // 11 * sourceOffsets[modeCount]

    // The report's per-mode table; zero rows when the folder has no report.txt.
    bool hasReport = false;
    ReportTable report;
};

// Reads the scene folder `folder` (a path, relative or absolute; trailing slashes allowed) into
// `scene`. Returns "" on success, otherwise one message that names the file and what is wrong
// with it: a folder that does not exist or is neither a built-in scene's nor holds presets.json,
// a missing or unreadable file, a matrix of the wrong shape (".U" rows not three per OBJ vertex,
// ".freq" not one column of the modes' count, a transfer list of another count of modes), a
// malformed presets.json, OBJ or report.
std::string readSceneData(const std::string& folder, SceneData* scene);
