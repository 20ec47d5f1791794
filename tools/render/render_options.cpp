// Command line and strike script parsing of tonwell-render.
#include "tools/render/render_options.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

constexpr double kMaxRenderSeconds = 3600.0;
constexpr double kMaxStrikeMagnitude = 1e6;

// A finite double that fills the whole text.
bool parseNumber(const std::string& text, double* value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(v)) return false;
    *value = v;
    return true;
}

// A decimal int that fills the whole text.
bool parseInteger(const std::string& text, int* value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (end != text.c_str() + text.size() || errno == ERANGE || v < -2147483647L ||
        v > 2147483647L) {
        return false;
    }
    *value = static_cast<int>(v);
    return true;
}

// Three finite numbers separated by commas.
bool parseTriple(const std::string& text, double out[3]) {
    std::string parts[3];
    size_t start = 0;
    for (int k = 0; k < 3; ++k) {
        const size_t comma = text.find(',', start);
        if ((k < 2) != (comma != std::string::npos)) return false;
        parts[k] = text.substr(start, k < 2 ? comma - start : std::string::npos);
        start = comma + 1;
    }
    for (int k = 0; k < 3; ++k) {
        if (!parseNumber(parts[k], &out[k])) return false;
    }
    return true;
}

}  // namespace

const char* renderUsage() {
    return "Usage: tonwell-render SCENE_FOLDER -o OUTPUT.wav [options]\n"
           "\n"
           "Renders strikes on a scene to a WAV file at 44100 Hz with the demo's own audio\n"
           "block code, without a window or an audio device. SCENE_FOLDER is a scene folder\n"
           "named bell, chair or dragon (the name picks the scene's fixed preset damping,\n"
           "gains and camera), or any folder holding the presets.json that tonwell-bake\n"
           "writes for an object of one's own (its presets are used instead); the files are\n"
           "read as the demo reads them, from the folder's parent.\n"
           "\n"
           "Strikes and contacts (at least one of them):\n"
           "  --strike \"STRIKE\"      one strike; may be repeated\n"
           "  --script FILE          strikes from FILE, one STRIKE per line ('#' comments)\n"
           "  STRIKE: words separated by blanks\n"
           "    at=SECONDS           when (default 0); the force starts on the first block\n"
           "                         boundary at or after that time\n"
           "    vertex=N             0-based mesh vertex (OBJ vertex N + 1), or\n"
           "    point=X,Y,Z          a world point, snapped to the nearest vertex\n"
           "    direction=X,Y,Z      force direction in world axes, or\n"
           "    direction=listener   from the listener's eye to the vertex (default)\n"
           "    magnitude=M          strength (default: the scene's preset magnitude)\n"
           "    duration=N           samples its force acts, 1..256 (default: --impact-duration)\n"
           "  --contact \"CONTACT\"    a moving contact; may be repeated (not overlapping in "
           "time)\n"
           "  CONTACT: a kind, then words KEY=VALUE\n"
           "    scrape|slide|roll    the kind: a rough scrape or slide, or a ball rolling\n"
           "    path=V1,V2,...       0-based mesh vertices: the contact follows the straight\n"
           "                         segments between them over the surface at constant speed\n"
           "    at=SECONDS           when it starts (default 0)\n"
           "    duration=SECONDS     how long it takes to follow the path\n"
           "    force=N              normal force (the strikes' force units)\n"
           "    roughness=R          RMS force fluctuation relative to the force (default: the\n"
           "                         object's, as loud at 0.3 m/s as a strike of that force)\n"
           "    slope=B              spectral slope of the 1/f^B profile, 0..2 (default 1.5)\n"
           "    radius=M             the rolling ball's radius in metres (default 0.008)\n"
           "\n"
           "Options:\n"
           "  -o, --output FILE      the WAV file to write\n"
           "  --renderer ZEP|Modal   gains from the acoustic transfer (default) or 1/distance\n"
           "  --mono | --stereo      one channel at the eye (default) or two at the ears\n"
           "                         (stereo is always \"ZEP\")\n"
           "  --binaural             two channels heard through a measured head: the transfer\n"
           "                         at the eye times each ear's HRTF at each mode's frequency\n"
           "                         for the object's direction (always \"ZEP\")\n"
           "  --hrtf FILE.sofa       the HRTF set of --binaural, a SOFA file of convention\n"
           "                         SimpleFreeFieldHRIR (default: libmysofa's KEMAR set,\n"
           "                         /usr/share/libmysofa/default.sofa)\n"
           "  --head-yaw DEGREES     turn the head (and its ears) about its up axis, positive\n"
           "                         to the left (default 0: facing the scene's focus)\n"
           "  --modes N              synthesise modes 0..N-1 (default: all)\n"
           "  --impact-duration N    samples a strike's force acts, 1..256 (default 10)\n"
           "  --zep-rate HZ          transfer updates per second, 100..300 (default 200);\n"
           "                         blocks are 44100 / HZ frames\n"
           "  --length SECONDS       length of the output (default 2)\n"
           "  --listener X,Y,Z       the listener's eye, world coordinates (default: the\n"
           "                         scene's start camera)\n"
           "  --camera R,AZ,EL       the camera at distance R from the scene's focus, azimuth\n"
           "                         and elevation in degrees\n"
           "  --format float|pcm16   sample format (default float)\n"
           "  --spectrogram FILE     also write a spectrogram PNG (needs sox)\n"
           "  --modes-csv FILE       also write each mode's level at the listener per block:\n"
           "                         block, end time (s), then one column per mode in dB\n"
           "                         (full scale; 1 Pa for ZEP), -300 for a mode at rest\n"
           "  --solo N               hear mode N (0-based) alone; the others ring unheard\n"
           "  --mute N               do not hear mode N; may be repeated\n"
           "  --help                 show this text\n"
           "\n"
           "Example:\n"
           "  tonwell-render demo/chair -o chair.wav --strike \"at=0.1 vertex=12\"\n";
}

std::string parseStrike(const std::string& text, StrikeRequest* strike) {
    std::istringstream words(text);
    std::string word;
    bool any = false;
    while (words >> word) {
        any = true;
        const size_t equals = word.find('=');
        if (equals == std::string::npos) return "\"" + word + "\" is not KEY=VALUE";
        const std::string key = word.substr(0, equals);
        const std::string value = word.substr(equals + 1);
        if (key == "at") {
            if (!parseNumber(value, &strike->time)) return "time \"" + value + "\" is not a number";
            if (strike->time < 0) return "time " + value + " is negative";
            // No output is longer than an hour (--length), and later times would overflow the
            // block count they are turned into.
            if (strike->time > kMaxRenderSeconds) return "time " + value + " is after 3600 s";
        } else if (key == "vertex") {
            if (!parseInteger(value, &strike->vertex)) {
                return "vertex \"" + value + "\" is not a whole number";
            }
            if (strike->vertex < 0) return "vertex " + value + " is negative";
            strike->hasPoint = false;
        } else if (key == "point") {
            if (!parseTriple(value, strike->point)) {
                return "point \"" + value + "\" is not three numbers X,Y,Z";
            }
            strike->hasPoint = true;
            strike->vertex = -1;
        } else if (key == "direction") {
            if (value == "listener") {
                strike->fromListener = true;
                continue;
            }
            if (!parseTriple(value, strike->direction)) {
                return "direction \"" + value + "\" is not three numbers X,Y,Z or \"listener\"";
            }
            const double* d = strike->direction;
            // Its length as the strike normalises it: one too small to square (1e-200) is zero
            // there, one too large (1e200) infinite.
            const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
            if (!(length > 0)) return "direction " + value + " is zero";
            if (!std::isfinite(length)) return "direction " + value + " is too long";
            strike->fromListener = false;
        } else if (key == "magnitude") {
            if (!parseNumber(value, &strike->magnitude)) {
                return "magnitude \"" + value + "\" is not a number";
            }
            if (strike->magnitude < 0) return "magnitude " + value + " is negative";
            // The panel's magnitude is a single-precision float; past 1e6 the struck modes run
            // far beyond full scale anyway.
            if (strike->magnitude > kMaxStrikeMagnitude)
                return "magnitude " + value + " is above 1e6";
            strike->hasMagnitude = true;
        } else if (key == "duration") {
            if (!parseInteger(value, &strike->duration) || strike->duration < 1 ||
                strike->duration > 256) {
                return "duration \"" + value + "\" is not a number of samples from 1 to 256";
            }
        } else {
            return "unknown key \"" + key +
                   "\" (expected at, vertex, point, direction, magnitude, duration)";
        }
    }
    if (!any) return "empty strike";
    if (strike->vertex < 0 && !strike->hasPoint) return "a strike needs vertex=N or point=X,Y,Z";
    return "";
}

std::string readStrikeScript(const std::string& fileName, std::vector<StrikeRequest>* strikes) {
    // A script is a file: a device or a pipe (/dev/zero) could feed a line without end.
    struct stat status;
    if (stat(fileName.c_str(), &status) != 0) return fileName + ": cannot be read";
    if (!S_ISREG(status.st_mode)) return fileName + ": cannot be read (not a regular file)";
    std::ifstream in(fileName);
    if (!in) return fileName + ": cannot be read";
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        StrikeRequest strike;
        strike.origin = fileName + ":" + std::to_string(lineNumber);
        const std::string problem = parseStrike(line, &strike);
        if (!problem.empty()) return strike.origin + ": " + problem;
        strikes->push_back(strike);
    }
    if (in.bad()) return fileName + ": cannot be read";
    return "";
}

std::string parseContact(const std::string& text, ContactRequest* contact) {
    std::istringstream words(text);
    std::string word;
    if (!(words >> word)) return "empty contact";
    if (word == "scrape" || word == "slide") {
        contact->kind = 0;
    } else if (word == "roll") {
        contact->kind = 1;
    } else {
        return "\"" + word + "\" is no kind of contact (expected scrape, slide or roll)";
    }
    bool hasDuration = false, hasForce = false;
    // A number in [low, high], or (low, high] when lowOpen; the message names the bound.
    auto number = [](const std::string& name, const std::string& value, double low, double high,
                     bool lowOpen, double* out) -> std::string {
        if (!parseNumber(value, out)) return name + " \"" + value + "\" is not a number";
        char bound[64];
        snprintf(bound, sizeof bound, "%g", low);
        if (lowOpen && !(*out > low)) return name + " " + value + " must be above " + bound;
        if (!lowOpen && !(*out >= low)) return name + " " + value + " must be at least " + bound;
        snprintf(bound, sizeof bound, "%g", high);
        if (*out > high) return name + " " + value + " is above " + bound;
        return "";
    };
    while (words >> word) {
        const size_t equals = word.find('=');
        if (equals == std::string::npos) return "\"" + word + "\" is not KEY=VALUE";
        const std::string key = word.substr(0, equals);
        const std::string value = word.substr(equals + 1);
        std::string problem;
        if (key == "path") {
            contact->path.clear();
            std::istringstream parts(value);
            std::string part;
            while (std::getline(parts, part, ',')) {
                int vertex = -1;
                if (!parseInteger(part, &vertex) || vertex < 0)
                    return "path \"" + value + "\" is not vertices V1,V2,... (whole numbers >= 0)";
                contact->path.push_back(vertex);
            }
            if (contact->path.empty()) return "path \"" + value + "\" names no vertex";
        } else if (key == "at") {
            problem = number("time", value, 0.0, kMaxRenderSeconds, false, &contact->time);
        } else if (key == "duration") {
            problem = number("duration", value, 0.0, kMaxRenderSeconds, true, &contact->duration);
            hasDuration = true;
        } else if (key == "force") {
            problem = number("force", value, 0.0, kMaxStrikeMagnitude, false, &contact->force);
            hasForce = true;
        } else if (key == "roughness") {
            problem =
                number("roughness", value, 0.0, kMaxStrikeMagnitude, false, &contact->roughness);
        } else if (key == "slope") {
            problem = number("slope", value, 0.0, 2.0, false, &contact->slope);
        } else if (key == "radius") {
            problem = number("radius", value, 0.0, 10.0, true, &contact->radius);
        } else {
            return "unknown key \"" + key +
                   "\" (expected path, at, duration, force, roughness, slope, radius)";
        }
        if (!problem.empty()) return problem;
    }
    if (contact->path.empty()) return "a contact needs path=V1,V2,...";
    if (!hasDuration) return "a contact needs duration=SECONDS";
    if (!hasForce) return "a contact needs force=N";
    return "";
}

std::string parseRenderArguments(const std::vector<std::string>& arguments,
                                 RenderOptions* options) {
    const size_t count = arguments.size();
    for (size_t i = 0; i < count; ++i) {
        const std::string& a = arguments[i];
        // Options with a value take the next argument.
        auto value = [&](std::string* out) -> std::string {
            if (i + 1 >= count) return a + ": missing value";
            *out = arguments[++i];
            return "";
        };
        std::string v, problem;
        if (a == "--help" || a == "-h") {
            options->help = true;
        } else if (a == "--mono") {
            options->channelCount = 1;
            options->binaural = false;
        } else if (a == "--stereo") {
            options->channelCount = 2;
            options->binaural = false;
        } else if (a == "--binaural") {
            options->channelCount = 2;
            options->binaural = true;
        } else if (a.size() > 1 && a[0] == '-') {
            static const char* const kValued[] = {
                "-o",       "--output",          "--strike",      "--script",    "--renderer",
                "--modes",  "--impact-duration", "--zep-rate",    "--length",    "--listener",
                "--camera", "--format",          "--spectrogram", "--modes-csv", "--solo",
                "--mute",   "--contact",         "--hrtf",        "--head-yaw"};
            bool known = false;
            for (const char* name : kValued) known = known || a == name;
            if (!known) return a + ": unknown option (see --help)";
            if (!(problem = value(&v)).empty()) return problem;
            const std::string where = a + " " + v + ": ";
            if (a == "-o" || a == "--output") {
                options->outputFile = v;
            } else if (a == "--contact") {
                ContactRequest contact;
                contact.origin = "--contact \"" + v + "\"";
                if (!(problem = parseContact(v, &contact)).empty()) {
                    return contact.origin + ": " + problem;
                }
                options->contacts.push_back(contact);
            } else if (a == "--strike") {
                StrikeRequest strike;
                strike.origin = "--strike \"" + v + "\"";
                if (!(problem = parseStrike(v, &strike)).empty()) {
                    return strike.origin + ": " + problem;
                }
                options->strikes.push_back(strike);
            } else if (a == "--script") {
                if (!(problem = readStrikeScript(v, &options->strikes)).empty()) return problem;
            } else if (a == "--renderer") {
                if (v == "ZEP") {
                    options->rendererType = 0;
                } else if (v == "Modal") {
                    options->rendererType = 1;
                } else {
                    return where + "the renderer is \"ZEP\" or \"Modal\"";
                }
            } else if (a == "--modes") {
                if (!parseInteger(v, &options->modeCount) || options->modeCount < 1) {
                    return where + "the number of modes must be a whole number of at least 1";
                }
            } else if (a == "--impact-duration") {
                if (!parseInteger(v, &options->impactDuration) || options->impactDuration < 1 ||
                    options->impactDuration > 256) {
                    return where + "the impact duration must be a whole number from 1 to 256";
                }
            } else if (a == "--zep-rate") {
                if (!parseInteger(v, &options->zepRate) || options->zepRate < 100 ||
                    options->zepRate > 300) {
                    return where + "the ZEP rate must be a whole number from 100 to 300";
                }
            } else if (a == "--length") {
                if (!parseNumber(v, &options->lengthSeconds) || !(options->lengthSeconds > 0) ||
                    options->lengthSeconds > kMaxRenderSeconds) {
                    return where + "the length must be a number of seconds above 0, at most 3600";
                }
            } else if (a == "--listener") {
                if (!parseTriple(v, options->listener)) return where + "expected X,Y,Z";
                options->hasListener = true;
            } else if (a == "--camera") {
                if (!parseTriple(v, options->camera)) return where + "expected R,AZIMUTH,ELEVATION";
                if (!(options->camera[0] > 0)) return where + "the camera distance must be above 0";
                options->hasCamera = true;
            } else if (a == "--format") {
                if (v == "float") {
                    options->float32 = true;
                } else if (v == "pcm16") {
                    options->float32 = false;
                } else {
                    return where + "the format is \"float\" or \"pcm16\"";
                }
            } else if (a == "--hrtf") {
                if (v.empty()) return a + ": the SOFA file's name is empty";
                options->hrtfFile = v;
            } else if (a == "--head-yaw") {
                if (!parseNumber(v, &options->headYaw) || std::fabs(options->headYaw) > 360.0) {
                    return where + "the head's yaw must be a number of degrees, -360..360";
                }
            } else if (a == "--spectrogram") {
                options->spectrogramFile = v;
            } else if (a == "--modes-csv") {
                options->modesCsvFile = v;
            } else if (a == "--solo" || a == "--mute") {
                int mode = -1;
                if (!parseInteger(v, &mode) || mode < 0) {
                    return where + "the mode must be a whole number of at least 0";
                }
                if (a == "--solo") {
                    options->soloMode = mode;
                } else {
                    options->mutedModes.push_back(mode);
                }
            }
        } else if (options->sceneFolder.empty()) {
            options->sceneFolder = a;
        } else {
            return a + ": only one scene folder may be given (the first was " +
                   options->sceneFolder + ")";
        }
    }
    if (options->help) return "";
    if (options->sceneFolder.empty()) return "no scene folder given (see --help)";
    if (options->outputFile.empty()) return "no output file given: add -o OUTPUT.wav";
    if (options->strikes.empty() && options->contacts.empty())
        return "no strike given: add --strike \"STRIKE\", --script FILE or --contact \"CONTACT\"";
    if (options->hasListener && options->hasCamera) {
        return "--listener and --camera both place the listener: give one of them";
    }
    if (options->rendererType == 1 && options->channelCount == 2) {
        return "--renderer Modal: the \"Modal\" renderer is mono only; use --mono or ZEP";
    }
    if (!options->hrtfFile.empty() && !options->binaural) {
        return "--hrtf " + options->hrtfFile + ": an HRTF set is for --binaural output only";
    }
    return "";
}
