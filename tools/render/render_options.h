// The offline renderer's command line and strike scripts: what to render (scene folder, strikes,
// listener, renderer, channels, modes, impact duration, ZEP rate, length) and where to write it.
// Parsing only: nothing here reads the scene or touches the synthesis state, so every bad
// argument is refused with one message before any file is opened.
#pragma once

#include <string>
#include <vector>

#include "sound/contact_excitation.h"

// One strike: a force pulse at a mesh vertex (or the vertex nearest to a point), starting on the
// first block boundary at or after `time`.
struct StrikeRequest {
    double time = 0.0;                // seconds from the start of the output, >= 0
    int vertex = -1;                  // 0-based mesh vertex (vertex i is OBJ vertex i + 1), or -1
    bool hasPoint = false;            // snap `point` to the nearest vertex instead of `vertex`
    double point[3] = {0, 0, 0};      // world coordinates, metres
    bool fromListener = true;         // direction = unit vector from the eye to the vertex
    double direction[3] = {0, 0, 0};  // world axes; normalised before use
    bool hasMagnitude = false;        // otherwise the scene preset's impact magnitude
    double magnitude = 0.0;           // newtons-equivalent scale of the unit direction
    int duration = 0;                 // samples its force acts, 1..256; 0: --impact-duration
    std::string origin;               // where the strike was given, for messages
};

// One moving contact: the contact point follows the straight segments between the named mesh
// vertices (each point brought to the nearest point of the surface) at constant speed, from
// `time` for `duration` seconds.
struct ContactRequest {
    int kind = 0;           // 0 scrape (or slide), 1 roll
    std::vector<int> path;  // 0-based mesh vertices, at least one
    double time = 0.0;      // seconds from the start of the output, >= 0
    double duration = 0.0;  // seconds, > 0
    double force = 0.0;     // normal force, program force units (as a strike's magnitude)
    // sigma, the force's RMS fluctuation relative to the force; below 0: the object's default,
    // as loud at 0.3 m/s as a strike of the same force (EngineObject::contactRoughness)
    double roughness = -1.0;
    double slope = 1.5;     // beta, the profile's spectral slope, 0 .. 2
    double radius = 0.008;  // the rolling ball's radius, m
    std::string origin;     // where the contact was given, for messages
};

struct RenderOptions {
    std::string sceneFolder;  // a folder named bell, chair or dragon
    std::string outputFile;   // the WAV file
    std::vector<StrikeRequest> strikes;
    std::vector<ContactRequest> contacts;
    int rendererType = 0;     // 0 "ZEP", 1 "Modal"
    int channelCount = 1;     // 1 mono, 2 stereo or binaural
    bool binaural = false;    // two channels heard through a measured head (an HRTF set)
    std::string hrtfFile;     // the SOFA file of the binaural output; empty: the default set
    double headYaw = 0.0;     // degrees the head turns about its up axis, positive to the left
    int modeCount = -1;       // active modes; -1: all of the scene's
    int impactDuration = 10;  // samples, 1..256
    int zepRate = 200;        // Hz, 100..300: blocks of 44100 / zepRate frames
    double lengthSeconds = 2.0;
    bool float32 = true;             // otherwise 16-bit PCM
    bool hasListener = false;        // eye given as a world point
    double listener[3] = {0, 0, 0};  // world coordinates
    bool hasCamera = false;          // orbit given as radius, azimuth, elevation
    double camera[3] = {0, 0, 0};    // metres, degrees, degrees
    std::string spectrogramFile;     // PNG written by sox, or empty
    std::string modesCsvFile;        // per-block levels of each mode at the listener, or empty
    int soloMode = -1;               // the only mode heard (0-based), or -1
    std::vector<int> mutedModes;     // modes not heard (0-based)
    bool help = false;
};

// Parses the arguments after the program name into `options`. Strike scripts named by --script
// are read here too. Returns an empty string on success, otherwise one message naming the
// argument (or the script's file and line) and what is wrong with it.
std::string parseRenderArguments(const std::vector<std::string>& arguments, RenderOptions* options);

// Parses one strike description, words separated by blanks:
//   at=SECONDS  vertex=N | point=X,Y,Z  direction=X,Y,Z | direction=listener  magnitude=M
// Defaults: at=0, direction=listener, the preset magnitude; a vertex or a point is required.
// Times lie in [0, 3600] s, magnitudes in [0, 1e6], a direction's length is positive and finite.
// Returns an empty string on success, otherwise what is wrong (without the location).
std::string parseStrike(const std::string& text, StrikeRequest* strike);

// Parses one contact description: the kind first (scrape, slide or roll), then words KEY=VALUE:
//   path=V1,V2,...  at=SECONDS  duration=SECONDS  force=N  [roughness=R] [slope=B] [radius=M]
// path, duration and force are required; at defaults to 0. Times in [0, 3600] s, the duration
// above 0, force and roughness in [0, 1e6], the slope in [0, 2], the radius above 0.
// Returns an empty string on success, otherwise what is wrong (without the location).
std::string parseContact(const std::string& text, ContactRequest* contact);

// Reads a strike script: one strike per line in the form parseStrike takes; blank lines and
// lines starting with '#' are skipped. Appends to `strikes`. Returns an empty string on success,
// otherwise "<file>:<line>: <problem>" or "<file>: cannot be read" (also for a device or a
// pipe, which is no script).
std::string readStrikeScript(const std::string& fileName, std::vector<StrikeRequest>* strikes);

// The --help text.
const char* renderUsage();
