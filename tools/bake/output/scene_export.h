// Exporting a baked scene folder to open formats: "npz" (numpy, npz_writer.h) and "gltf" (a glTF
// 2.0 binary with the TONWELL_modal_sound extension, glb_writer.h). What `tonwell-bake --export`
// runs, and what a binding calls; never ends the process.
#pragma once

#include <string>

// The formats exportScene takes, for usage texts: "npz|gltf".
inline const char* kExportFormats = "npz|gltf";

// Reads the scene folder `folder` (scene_data.h) and writes it to the file `out` in `format`
// ("npz" or "gltf"). Returns "" on success, otherwise one message naming the file and the
// problem (an unknown format, a file of the folder that is missing or malformed, an output that
// cannot be written). A folder that cannot be read leaves `out` untouched; a write that fails
// removes what it wrote.
std::string exportScene(const std::string& folder, const std::string& format,
                        const std::string& out);
