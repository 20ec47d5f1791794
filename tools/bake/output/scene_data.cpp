// Gathering a scene folder for export (see scene_data.h): where its files are, then each file
// through its reader, with every problem turned into one message naming the file.
#include "tools/bake/output/scene_data.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <new>
#include <nlohmann/json.hpp>
#include <sstream>

#include "geometry/dense_matrix.h"
#include "geometry/scene_presets.h"
#include "platform/input_exit.h"
#include "sound/transfer_model.h"
#include "tools/bake/common/bake_error.h"
#include "tools/bake/surface/mesh_import.h"

namespace {

constexpr int kSourceRecordSize = 11;  // x, y, z, then a0 .. a3 as real and imaginary parts

// Where a folder's files are and the damping the demo gives its modes.
struct SceneFiles {
    std::string mesh, modeShapes, frequencies, transferList;
    std::string transferBase;  // the directory the list's prefixes are relative to
    double alpha = 0.0, beta = 0.0;
};

bool readText(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    *text = bytes.str();
    return static_cast<bool>(in) || in.eof();
}

// A number at `pointer` ("/damping/mass") of presets.json, or a BakeError naming the file.
double presetNumber(const nlohmann::json& json, const char* pointer, const std::string& path) {
    const nlohmann::json::json_pointer at(pointer);
    if (!json.contains(at) || !json.at(at).is_number())
        throw BakeError(path + ": \"" + std::string(pointer + 1) + "\" is missing or not a number");
    return json.at(at).get<double>();
}

std::string presetString(const nlohmann::json& json, const char* pointer, const std::string& path) {
    const nlohmann::json::json_pointer at(pointer);
    if (!json.contains(at) || !json.at(at).is_string() || json.at(at).get<std::string>().empty())
        throw BakeError(path + ": \"" + std::string(pointer + 1) + "\" is missing or not a name");
    return json.at(at).get<std::string>();
}

// The files and damping of the folder `folder` named `name` inside `parent`, as tonwell-render
// chooses them: the fixed preset of a built-in scene's name, else the folder's presets.json.
SceneFiles locateFiles(const std::string& folder, const std::string& name,
                       const std::string& parent) {
    SceneFiles files;
    files.transferBase = parent;
    const int selector = name == "bell"     ? kBellScene
                         : name == "chair"  ? kChairScene
                         : name == "dragon" ? kDragonScene
                                            : -1;
    if (selector >= 0) {
        // The preset's file names are relative to the demo directory, the folder's parent.
        const SceneParameters& preset = *scenePreset(selector);
        files.mesh = parent + "/" + preset.meshFile;
        files.modeShapes = parent + "/" + preset.modeShapeFile;
        files.frequencies = parent + "/" + preset.frequencyFile;
        files.transferList = parent + "/" + preset.transferListFile;
        // The demo's damping is single precision; these are its values.
        files.alpha = preset.massDamping;
        files.beta = preset.stiffnessDamping;
        return files;
    }
    const std::string path = folder + "/presets.json";
    std::string text;
    if (!readText(path, &text))
        throw BakeError(folder +
                        ": not a scene folder: its name is not bell, chair or dragon and it holds "
                        "no readable presets.json");
    nlohmann::json json;
    try {
        json = nlohmann::json::parse(text);
    } catch (const nlohmann::json::parse_error& e) {
        throw BakeError(path + ": not valid JSON (" + e.what() + ")");
    }
    if (!json.is_object()) throw BakeError(path + ": not a JSON object");
    files.alpha = presetNumber(json, "/damping/mass", path);
    files.beta = presetNumber(json, "/damping/stiffness", path);
    files.mesh = folder + "/" + presetString(json, "/files/mesh", path);
    files.modeShapes = folder + "/" + presetString(json, "/files/modeShapes", path);
    files.frequencies = folder + "/" + presetString(json, "/files/frequencies", path);
    files.transferList = folder + "/" + presetString(json, "/files/transferList", path);
    return files;
}

// A dense matrix file through the program's reader, whose message (it names the file) becomes a
// BakeError. The caller owns the returned block (free()).
double* readMatrix(const std::string& path, int* rows, int* columns) {
    BadInputCapture capture;
    double* elements = nullptr;
    if (loadDenseMatrix(path.c_str(), rows, columns, &elements) != 0)
        throw BakeError(capture.lastMessage);
    return elements;
}

void readMesh(const std::string& path, SceneData* scene) {
    const SurfaceMesh mesh = readTriangleSoup(path);  // throws BakeError naming the file
    scene->vertexCount = static_cast<int>(mesh.positions.size());
    scene->vertices.reserve(3 * mesh.positions.size());
    for (const Eigen::Vector3d& p : mesh.positions)
        scene->vertices.insert(scene->vertices.end(), {p.x(), p.y(), p.z()});
    scene->faces.reserve(3 * mesh.triangles.size());
    for (const auto& t : mesh.triangles)
        scene->faces.insert(scene->faces.end(), t.begin(), t.end());
}

void readModes(const SceneFiles& files, SceneData* scene) {
    int rows = 0, columns = 0;
    scene->modeShapes.reset(readMatrix(files.modeShapes, &rows, &columns));
    if (rows != 3 * scene->vertexCount)
        throw BakeError(files.modeShapes + ": " + std::to_string(rows) + " rows, but the mesh " +
                        files.mesh + " has " + std::to_string(scene->vertexCount) +
                        " vertices (three rows each)");
    scene->modeCount = columns;

    int frequencyRows = 0, frequencyColumns = 0;
    std::unique_ptr<double, decltype(&std::free)> frequencies(
        readMatrix(files.frequencies, &frequencyRows, &frequencyColumns), &std::free);
    if (frequencyColumns != 1 || frequencyRows != columns)
        throw BakeError(files.frequencies + ": a " + std::to_string(frequencyRows) + " x " +
                        std::to_string(frequencyColumns) + " matrix where a column of the " +
                        std::to_string(columns) + " modes of " + files.modeShapes +
                        " was expected");
    scene->frequencies_Hz.assign(frequencies.get(), frequencies.get() + frequencyRows);

    // As the engine builds its resonators (engine/engine_object.cpp): omega with the program's
    // 2 pi, stiffness omega^2, c = beta k + alpha.
    scene->alpha_perSecond = files.alpha;
    scene->beta_seconds = files.beta;
    for (double f : scene->frequencies_Hz) {
        const double omega = f * twoPi;
        scene->dampingCoefficients_perSecond.push_back(files.beta * (omega * omega) + files.alpha);
    }
}

void readTransfer(const SceneFiles& files, SceneData* scene) {
    TransferModel model;
    // The loader's blocks are malloc'ed and owned by whoever holds the model.
    struct Release {
        TransferModel* model;
        ~Release() {
            for (double* block : model->sourceBlocks) std::free(block);
        }
    } release{&model};
    {
        BadInputCapture capture;  // also keeps the loader's summary line off the console
        try {
            model = loadTransferModel(files.transferList.c_str(), files.transferBase.c_str());
        } catch (const BadInput& bad) {
            throw BakeError(bad.message.find(files.transferList) == std::string::npos
                                ? files.transferList + ": " + bad.message
                                : bad.message);
        }
    }
    if (model.frequencyCount != scene->modeCount)
        throw BakeError(files.transferList + ": names " + std::to_string(model.frequencyCount) +
                        " modes, but " + files.modeShapes + " holds " +
                        std::to_string(scene->modeCount));
    scene->waveNumbers_perMetre = model.waveNumbers;
    scene->sourceOffsets.assign(1, 0);
    for (int j = 0; j < model.frequencyCount; ++j) {
        const double* block = model.sourceBlocks[j];
        scene->sources.insert(scene->sources.end(), block,
                              block + kSourceRecordSize * model.sourceCounts[j]);
        scene->sourceOffsets.push_back(scene->sourceOffsets.back() + model.sourceCounts[j]);
    }
}

void readReport(const std::string& folder, SceneData* scene) {
    scene->forceUnit_N = std::numeric_limits<double>::quiet_NaN();
    const std::string path = folder + "/report.txt";
    std::string text;
    if (!std::filesystem::exists(path)) return;
    if (!readText(path, &text)) throw BakeError(path + ": cannot be read");
    const std::string problem = parseReportTable(text, path, &scene->report);
    if (!problem.empty()) throw BakeError(problem);
    if (scene->report.rowCount() != 0 && scene->report.rowCount() != scene->modeCount)
        throw BakeError(path + ": its transfer table lists " +
                        std::to_string(scene->report.rowCount()) + " modes, the scene has " +
                        std::to_string(scene->modeCount));
    scene->hasReport = true;
    const std::string key = "force unit: ";
    const size_t at = text.find(key);
    if (at != std::string::npos) {
        double unit = 0.0;
        if (std::sscanf(text.c_str() + at + key.size(), "%lf N", &unit) == 1)
            scene->forceUnit_N = unit;
    }
}

}  // namespace

std::string readSceneData(const std::string& folderArgument, SceneData* scene) {
    *scene = SceneData();
    std::string folder = folderArgument;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    try {
        std::error_code error;
        if (!std::filesystem::is_directory(folder, error))
            return folderArgument + ": no such scene folder";
        const std::filesystem::path path(folder);
        scene->name = path.filename().string();
        std::string parent = path.parent_path().string();
        if (parent.empty()) parent = ".";
        const SceneFiles files = locateFiles(folder, scene->name, parent);
        readMesh(files.mesh, scene);
        readModes(files, scene);
        readTransfer(files, scene);
        readReport(folder, scene);
    } catch (const BakeError& e) {
        *scene = SceneData();
        return e.what();
    } catch (const std::bad_alloc&) {
        *scene = SceneData();
        return folder + ": out of memory reading the scene";
    }
    return "";
}
