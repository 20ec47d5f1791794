// The glTF export of a scene: one glTF 2.0 binary file (".glb") holding the struck object's mesh
// and, in the vendor extension TONWELL_modal_sound on its primitive, the modes and their acoustic
// transfer as accessors, so that an engine reads a mode set with any glTF loader and no code of
// ours. docs/gltf-extension.md gives the extension's schema; glTF has no double precision
// accessors, so every array is float32 (the nearest float to the scene's double).
//
// File: the 12-byte header (magic "glTF", version 2, total length), the JSON chunk (padded with
// spaces to a multiple of 4 bytes), the BIN chunk (padded with zeros); every bufferView starts on
// a multiple of 4 bytes of the BIN chunk. Buffer views, in order: positions (VEC3), indices
// (UNSIGNED_INT), frequencies, wave numbers, the mode shapes of all modes one after the other
// (VEC3 per vertex), the sources' positions (VEC3), and their coefficients' real and imaginary
// parts (VEC4: a0 .. a3), mode after mode; each mode's accessors point into them.
#pragma once

#include <string>

#include "tools/bake/output/scene_data.h"

// The extension's name, as it appears in extensionsUsed and on the primitive.
inline const char* kModalSoundExtension = "TONWELL_modal_sound";

// Writes `scene` to `path` as a ".glb". Throws BakeError naming `path` when it cannot be
// written, the file would exceed 4 GiB, or the scene has no modes or no triangles.
void writeGlb(const SceneData& scene, const std::string& path);
