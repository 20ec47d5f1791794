// The reader of a scene folder's "presets.json". Every field is required and checked for its
// type and range here, so that the rest of the program sees the same kind of values as the fixed
// preset table gives it (a positive camera radius, spinner limits around the magnitude, damping
// the resonators accept as a start, lights of 0 or 1).
#include "app/scene_preset_file.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "platform/input_exit.h"

namespace {

using Json = nlohmann::json;

// The first problem found: the field's dotted name ("camera.radius") and what is wrong with it.
struct FieldProblem {
    std::string field;
    std::string problem;
};

std::string dotted(const std::string& prefix, const std::string& key) {
    return prefix.empty() ? key : prefix + "." + key;
}

const Json& member(const Json& parent, const std::string& prefix, const char* key) {
    const auto it = parent.find(key);
    if (it == parent.end()) throw FieldProblem{dotted(prefix, key), "is missing"};
    return *it;
}

const Json& objectField(const Json& parent, const std::string& prefix, const char* key) {
    const Json& value = member(parent, prefix, key);
    if (!value.is_object()) throw FieldProblem{dotted(prefix, key), "must be an object"};
    return value;
}

double numberField(const Json& parent, const std::string& prefix, const char* key) {
    const Json& value = member(parent, prefix, key);
    if (!value.is_number()) throw FieldProblem{dotted(prefix, key), "must be a number"};
    return value.get<double>();
}

std::string stringField(const Json& parent, const std::string& prefix, const char* key) {
    const Json& value = member(parent, prefix, key);
    if (!value.is_string()) throw FieldProblem{dotted(prefix, key), "must be a string"};
    return value.get<std::string>();
}

bool booleanField(const Json& parent, const std::string& prefix, const char* key) {
    const Json& value = member(parent, prefix, key);
    if (!value.is_boolean()) throw FieldProblem{dotted(prefix, key), "must be true or false"};
    return value.get<bool>();
}

// An array of exactly `count` numbers into `values`.
void numbersField(const Json& parent, const std::string& prefix, const char* key, int count,
                  double* values) {
    const Json& value = member(parent, prefix, key);
    const std::string field = dotted(prefix, key);
    const std::string wanted = "must be an array of " + std::to_string(count) + " numbers";
    if (!value.is_array() || value.size() != static_cast<size_t>(count)) {
        throw FieldProblem{field, wanted};
    }
    for (int i = 0; i < count; ++i) {
        if (!value[i].is_number()) throw FieldProblem{field, wanted};
        values[i] = value[i].get<double>();
    }
}

void requirePositive(double value, const std::string& field) {
    if (!(value > 0.0)) throw FieldProblem{field, "must be positive"};
}

void requireNonNegative(double value, const std::string& field) {
    if (!(value >= 0.0)) throw FieldProblem{field, "must not be negative"};
}

void requireUnitInterval(double value, const std::string& field) {
    if (!(value >= 0.0 && value <= 1.0)) throw FieldProblem{field, "must lie between 0 and 1"};
}

// The panel's strike and damping values are single precision: a larger number would be infinite.
float toFloat(double value, const std::string& field) {
    if (!(std::fabs(value) <= FLT_MAX)) throw FieldProblem{field, "is out of range"};
    return static_cast<float>(value);
}

// A data file named inside the folder: "<folder>/<name>".
std::string folderFile(const Json& files, const char* key, const std::string& folder) {
    const std::string name = stringField(files, "files", key);
    if (name.empty() || name[0] == '/') {
        throw FieldProblem{dotted("files", key), "must name a file inside the scene folder"};
    }
    return folder + "/" + name;
}

// The folder's last component, trailing slashes ignored.
std::string baseName(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    const size_t slash = folder.rfind('/');
    return slash == std::string::npos ? folder : folder.substr(slash + 1);
}

std::string stripTrailingSlashes(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

void readPresets(const Json& root, const std::string& folder, ScenePresetFile* presets) {
    if (!root.is_object()) throw FieldProblem{"the top level", "must be an object"};
    const std::string format = stringField(root, "", "format");
    if (format != kScenePresetFormat) {
        throw FieldProblem{"format", "is \"" + format + "\"; this program reads \"" +
                                         std::string(kScenePresetFormat) + "\""};
    }
    presets->name = stringField(root, "", "name");
    const std::string folderName = baseName(folder);
    if (presets->name != folderName) {
        // The transfer list names its per-mode files as "<name>/...", relative to the folder's
        // parent: a renamed folder would not find them.
        throw FieldProblem{"name", "is \"" + presets->name + "\" but must be the folder's name \"" +
                                       folderName +
                                       "\" (the transfer list names its files under it)"};
    }
    SceneParameters& p = presets->parameters;

    // Camera: radius, azimuth and elevation (degrees) around the focus.
    const Json& camera = objectField(root, "", "camera");
    p.initialCameraRadius = numberField(camera, "camera", "radius");
    requirePositive(p.initialCameraRadius, "camera.radius");
    p.cameraPhi = numberField(camera, "camera", "azimuth");
    p.cameraTheta = numberField(camera, "camera", "elevation");
    if (!(std::fabs(p.cameraTheta) < 90.0)) {
        throw FieldProblem{"camera.elevation", "must lie between -90 and 90 (exclusive)"};
    }
    numbersField(camera, "camera", "focus", 3, p.cameraFocus);
    p.maxCameraDistance = numberField(camera, "camera", "maxDistance");
    if (!(p.maxCameraDistance >= p.initialCameraRadius)) {
        throw FieldProblem{"camera.maxDistance", "must be at least camera.radius"};
    }

    // Impact: the default magnitude inside the spinner's limits, all positive.
    const Json& impact = objectField(root, "", "impact");
    const double magnitude = numberField(impact, "impact", "magnitude");
    const double low = numberField(impact, "impact", "min");
    const double high = numberField(impact, "impact", "max");
    requirePositive(low, "impact.min");
    requirePositive(high, "impact.max");
    if (!(low < high)) throw FieldProblem{"impact.min", "must be less than impact.max"};
    if (!(magnitude >= low && magnitude <= high)) {
        throw FieldProblem{"impact.magnitude", "must lie between impact.min and impact.max"};
    }
    p.impactMagnitude = toFloat(magnitude, "impact.magnitude");
    p.impactMagnitudeMin = toFloat(low, "impact.min");
    p.impactMagnitudeMax = toFloat(high, "impact.max");

    // Rayleigh damping c = alpha + beta omega^2: alpha in 1/s, beta in s, neither negative (the
    // panel refuses negative coefficients too).
    const Json& damping = objectField(root, "", "damping");
    const double alpha = numberField(damping, "damping", "mass");
    const double beta = numberField(damping, "damping", "stiffness");
    requireNonNegative(alpha, "damping.mass");
    requireNonNegative(beta, "damping.stiffness");
    p.massDamping = toFloat(alpha, "damping.mass");
    p.stiffnessDamping = toFloat(beta, "damping.stiffness");

    p.modalRendererGain = numberField(root, "", "modalGain");
    requirePositive(p.modalRendererGain, "modalGain");

    // Lights: one grey level, and which of the eight fixed lights are on.
    const Json& lights = objectField(root, "", "lights");
    p.lightIntensity = numberField(lights, "lights", "intensity");
    requireUnitInterval(p.lightIntensity, "lights.intensity");
    double enabled[8];
    numbersField(lights, "lights", "enabled", 8, enabled);
    for (int i = 0; i < 8; ++i) {
        if (enabled[i] != 0.0 && enabled[i] != 1.0) {
            throw FieldProblem{"lights.enabled[" + std::to_string(i) + "]", "must be 0 or 1"};
        }
        p.lightEnabled[i] = static_cast<int>(enabled[i]);
    }

    double background[3];
    numbersField(root, "", "background", 3, background);
    for (int k = 0; k < 3; ++k) {
        requireUnitInterval(background[k], "background[" + std::to_string(k) + "]");
        presets->background[k] = static_cast<float>(background[k]);
    }
    p.groundConstraint = booleanField(root, "", "floor") ? 1 : 0;

    const Json& files = objectField(root, "", "files");
    const std::string prefix = stripTrailingSlashes(folder);
    presets->meshFile = folderFile(files, "mesh", prefix);
    presets->modeShapeFile = folderFile(files, "modeShapes", prefix);
    presets->frequencyFile = folderFile(files, "frequencies", prefix);
    presets->transferListFile = folderFile(files, "transferList", prefix);
    p.meshFile = presets->meshFile.c_str();
    p.modeShapeFile = presets->modeShapeFile.c_str();
    p.frequencyFile = presets->frequencyFile.c_str();
    p.transferListFile = presets->transferListFile.c_str();
}

}  // namespace

std::string parseScenePresetFile(const std::string& text, const std::string& fileName,
                                 const std::string& folder, ScenePresetFile* presets) {
    const std::string where = "Error: \"" + fileName + "\": ";
    Json root;
    try {
        root = Json::parse(text);
    } catch (const Json::exception& error) {
        // A syntax error or a number beyond double's range ("1e400"); what() is
        // "[json.exception.parse_error.101] parse error at line 3, column 5: ...".
        std::string detail = error.what();
        const size_t start = detail.find("] ");
        if (start != std::string::npos) detail = detail.substr(start + 2);
        return where + "not valid JSON (" + detail + ")";
    }
    try {
        readPresets(root, folder, presets);
    } catch (const FieldProblem& problem) {
        if (problem.field == "the top level") return where + "the top level " + problem.problem;
        return where + "\"" + problem.field + "\" " + problem.problem;
    }
    return "";
}

void readScenePresetFileOrExit(const std::string& folder, ScenePresetFile* presets) {
    const std::string fileName = stripTrailingSlashes(folder) + "/" + kScenePresetFileName;
    FILE* file = fopen(fileName.c_str(), "rb");
    std::string text;
    bool readable = file != nullptr;
    if (readable) {
        char buffer[4096];
        size_t count = 0;
        while ((count = fread(buffer, 1, sizeof(buffer), file)) > 0) text.append(buffer, count);
        readable = !ferror(file);
    }
    const int openError = errno;
    if (file != nullptr) fclose(file);
    if (!readable) {
        printInputMessage(
            stdout,
            "Error: \"%s\" cannot be read (%s); tonwell-bake writes it into the scene folders "
            "it bakes.\n",
            fileName.c_str(), strerror(openError));
        exitOnBadInput(1);
    }
    const std::string message = parseScenePresetFile(text, fileName, folder, presets);
    if (!message.empty()) {
        printInputMessage(stdout, "%s\n", message.c_str());
        exitOnBadInput(1);
    }
}
