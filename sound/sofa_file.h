// Reading a SOFA file (AES69, convention SimpleFreeFieldHRIR) into an HRTF set
// (sound/hrtf_set.h), with libmysofa. Called off the audio thread: by the demo's GUI thread when
// the binaural output is first chosen, by the engine's control thread (libtonwell), and by
// tonwell-render before it renders.
#pragma once

#include <memory>
#include <string>

#include "sound/hrtf_set.h"

// The HRTF set used when none is named: the MIT KEMAR measurement Debian's libmysofa1 installs.
constexpr const char* kDefaultHrtfFile = "/usr/share/libmysofa/default.sofa";

// Reads `fileName` and builds its HRTF set: the measurements' source positions as directions in
// the head frame (x forward, y left, z up: the file's ListenerView must be +x and its ListenerUp
// +z, the convention's defaults), two receivers (the left ear being the one at positive y), one
// emitter, the impulse responses and the file's delays. The file's sample rate is the set's own:
// its spectra give the gain at any frequency below half that rate, so no resampling is needed;
// a rate below 44100 Hz is refused, since the set would not cover the output's band.
// Returns the set, or null with *problem set to one message that names the file and says what is
// wrong with it ("x.sofa: not a SOFA file libmysofa can read (invalid format)",
// "x.sofa: convention FreeFieldDirectivityTF, not SimpleFreeFieldHRIR", "x.sofa: sample rate
// 22050 Hz, below the output's 44100 Hz"). Never prints, never ends the process.
// Allocates; reads the file.
std::unique_ptr<HrtfSet> readSofaFile(const std::string& fileName, std::string* problem);
