// tonwell-object's scene folder: the one argument left on its command line once glutInit has
// taken the X options, the folder's presets.json (app/scene_preset_file.h) that stands in for the
// fixed preset table, and where the program finds its ZEP sampling rate. GUI thread, start-up
// only, before the window exists.
//
// The folder's transfer list names its per-mode files relative to the folder's parent
// ("ring/ring-transfer-000"), as the built-in scenes' lists are relative to the demo directory:
// the program therefore works from the folder's parent, and names every file of the scene as
// "<name>/<file>" from there.
#pragma once

#include <string>

#include "app/scene_preset_file.h"

// The presets of the folder opened by openObjectFolder; scene loading copies them into the live
// settings and the window takes its clear colour from them. Empty (name "") until then.
extern ScenePresetFile objectScenePresets;

// Takes the scene folder from the program's remaining arguments (argv[1], argc == 2), enters the
// folder's parent (chdir) and reads "<name>/presets.json" into objectScenePresets.
// A missing or extra argument: the usage message on standard error, exit(2) ("-h" or "--help":
// the usage on standard output, exit(0)). A folder that does not exist, or a preset file that is
// missing or malformed: one message naming the file (and the field), exit(1).
void openObjectFolder(int argc, char** argv);

// The ZEP sampling rate of the object program, after openObjectFolder: "ZEPSamplingRate.txt"
// beside the folder (in its parent, the demo directory when the folder was baked there) or else
// inside the folder, read and checked as readZepSamplingRate does (a bad file ends the process
// with its report); with neither, the default of 200 Hz and a line saying so. Sets
// zepSamplingRate and blockSize.
void readObjectZepSamplingRate();
