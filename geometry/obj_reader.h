// The Wavefront OBJ and MTL reader: turns a scene's mesh file (and the material library it
// names) into an ObjModel. Runs at start-up on the GUI thread, once per scene object.
//
// The accepted subset: "v", "vn", "vt", "f" (corners v, v/t, v/t/n or v//n, fixed per face by
// its first corner; polygons fan-triangulated), "g" (the name is the rest of the line, leading
// blanks included), "mtllib", "usemtl", comments; other keywords are skipped, and a word that
// starts with 'v' but is none of the three vertex keywords ends the reader. Materials: "newmtl",
// "Ka", "Kd", "Ks", "Ns" (0..1000, scaled by 0.128 to OpenGL's 0..128), "map_...".
//
// Bad input ends the process with exit code 1 after one message that names the file and line:
// face indices that are zero, negative or beyond the elements the file defines, a face with
// fewer than three corners or a corner without an index its format promises, a vertex line with
// too few numbers, a word longer than 127 characters, a group, library or material line longer
// than the reader's 128-byte line buffer, a library or material line without its name.
// Inside a BadInputCapture (platform/input_exit.h) the message is kept by the capture instead,
// the partial model is released and the reader throws BadInput{1, message}.
#pragma once

#include "geometry/obj_model.h"

// Reads the OBJ file `fileName` (and the material library it names, relative to the file's
// directory) into a new model the caller owns; counts, arrays, groups and materials as described
// in geometry/obj_model.h. Never returns null: a file that cannot be opened prints
// "glmReadOBJ() failed: can't open data file \"<name>\"." to standard error and ends the process
// with exit code 1; bad content prints its message to standard output and exits with 1.
ObjModel* glmReadOBJ(const char* fileName);

// Reads the material library `libraryName`, found in the directory of model->fileName, into
// model->materials (glmResetMaterials with one more entry than the library's material names;
// entry 0 stays "default" and takes the lines before the first name). A library that cannot be
// opened prints "glmReadMTL() failed: can't open material file <path>." to standard error and
// ends the process with exit code 1.
void glmReadMTL(ObjModel* model, const char* libraryName);

#ifdef TONWELL_OBJ_READER_THROWS
// Fuzzing builds only: the reader throws this where the program would call exit(code), so one
// process can try many inputs; `model` is the model being read, for the catcher to release with
// glmDelete.
struct ObjReaderExit {
    int code;
    ObjModel* model;
};
#endif
