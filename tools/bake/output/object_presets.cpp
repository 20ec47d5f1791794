// The computed presets of a user's object and their file (see object_presets.h).
#include "tools/bake/output/object_presets.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>

#include "tools/bake/common/bake_error.h"
#include "tools/bake/common/physical_constants.h"

namespace {

// The bounding sphere fills at most 1 / kFramingMargin of the half field of view.
constexpr double kFramingMargin = 1.1;
constexpr double kZoomLimitFactor = 8.0;
// The chair's start direction and lights (geometry/scene_presets.cpp).
constexpr double kStartAzimuth_deg = -70.0, kStartElevation_deg = 20.0;
// Diffuse colours of relative luminance from this on get the dark background.
constexpr double kLightColourLuminance = 0.3;
const Eigen::Vector3d kDarkBackground(0.12, 0.12, 0.14), kLightBackground(0.86, 0.88, 0.9);

// Rec. 709 relative luminance of a linear RGB colour.
double luminance(const Eigen::Vector3d& rgb) {
    return 0.2126 * rgb.x() + 0.7152 * rgb.y() + 0.0722 * rgb.z();
}

}  // namespace

ObjectPresets computeObjectPresets(const Recipe& recipe, const SurfaceMesh& surface) {
    ObjectPresets p;
    p.name = recipe.name;
    Eigen::Vector3d lower, upper;
    boundingBox(surface, lower, upper);
    p.cameraFocus = 0.5 * (lower + upper);
    double sphereRadius = 0.0;
    for (const Eigen::Vector3d& v : surface.positions)
        sphereRadius = std::max(sphereRadius, (v - p.cameraFocus).norm());
    // A sphere of radius R at distance d subtends the half angle asin(R / d); it fits the half
    // field of view theta with margin m when d = m R / sin(theta).
    const double halfField = 0.5 * kViewVerticalFieldOfView_deg * kPi / 180.0;
    p.cameraRadius = kFramingMargin * sphereRadius / std::sin(halfField);
    p.maxCameraDistance = kZoomLimitFactor * p.cameraRadius;
    p.cameraAzimuth_deg = kStartAzimuth_deg;
    p.cameraElevation_deg = kStartElevation_deg;
    p.massDamping = recipe.massDamping;
    p.stiffnessDamping = recipe.stiffnessDamping;
    p.background =
        luminance(recipe.diffuse) >= kLightColourLuminance ? kDarkBackground : kLightBackground;
    p.meshFile = recipe.name + ".obj";
    p.modeShapeFile = recipe.name + ".U";
    p.frequencyFile = recipe.name + ".freq";
    p.transferListFile = transferListName(recipe);
    return p;
}

void writeObjectPresets(const std::string& path, const ObjectPresets& p) {
    using Json = nlohmann::json;
    auto vector3 = [](const Eigen::Vector3d& v) { return Json{v.x(), v.y(), v.z()}; };
    Json lights = Json::array();
    for (int enabled : p.lightEnabled) lights.push_back(enabled);
    const Json json = {{"format", kObjectPresetsFormat},
                       {"name", p.name},
                       {"camera",
                        {{"radius", p.cameraRadius},
                         {"azimuth", p.cameraAzimuth_deg},
                         {"elevation", p.cameraElevation_deg},
                         {"focus", vector3(p.cameraFocus)},
                         {"maxDistance", p.maxCameraDistance}}},
                       {"impact",
                        {{"magnitude", p.impactMagnitude},
                         {"min", p.impactMagnitudeMin},
                         {"max", p.impactMagnitudeMax}}},
                       {"damping", {{"mass", p.massDamping}, {"stiffness", p.stiffnessDamping}}},
                       {"modalGain", p.modalRendererGain},
                       {"lights", {{"intensity", p.lightIntensity}, {"enabled", lights}}},
                       {"background", vector3(p.background)},
                       {"floor", false},
                       {"files",
                        {{"mesh", p.meshFile},
                         {"modeShapes", p.modeShapeFile},
                         {"frequencies", p.frequencyFile},
                         {"transferList", p.transferListFile}}}};
    std::ofstream out(path);
    out << json.dump(2) << "\n";
    if (!out) throw BakeError(path + ": cannot write the presets");
}

std::string describeObjectPresets(const ObjectPresets& p) {
    char text[1024];
    std::snprintf(
        text, sizeof text,
        "  camera: radius %.4g m, azimuth %g, elevation %g degrees, focus (%.4g, %.4g, %.4g) m, "
        "zoom limit %.4g m\n"
        "  impact magnitude %.4g (spinner %.4g to %.4g), Rayleigh alpha %g 1/s, beta %g s\n"
        "  Modal gain %.4g; lights 2 and 7 at %g; background (%g, %g, %g); no floor\n",
        p.cameraRadius, p.cameraAzimuth_deg, p.cameraElevation_deg, p.cameraFocus.x(),
        p.cameraFocus.y(), p.cameraFocus.z(), p.maxCameraDistance, p.impactMagnitude,
        p.impactMagnitudeMin, p.impactMagnitudeMax, p.massDamping, p.stiffnessDamping,
        p.modalRendererGain, p.lightIntensity, p.background.x(), p.background.y(),
        p.background.z());
    return text;
}
