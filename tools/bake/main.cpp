// tonwell-bake: makes a scene folder the demo can load (meshes, mode shapes, frequencies, the
// acoustic transfer of every mode, report)
// from a recipe. Run by hand, by the run script on first use of a scene, and by the tests.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/bake/bake_scene.h"
#include "tools/bake/batch_bake.h"
#include "tools/bake/common/bake_error.h"
#include "tools/bake/modes/material_table.h"
#include "tools/bake/output/scene_export.h"
#include "tools/bake/parallel/mpi_ranks.h"
#include "tools/bake/recipe/command_line_recipe.h"
#include "tools/bake/recipe/recipe.h"
#include "tools/bake/scene_on_ranks.h"

namespace {

void printUsage(FILE* out) {
    std::fprintf(out,
                 "Usage: tonwell-bake [--force] [--quiet] [--check] [--modes-only] [--workers N]\n"
                 "                   RECIPE OUTPUT_FOLDER\n"
                 "       tonwell-bake --mesh FILE --material NAME [--size METRES]\n"
                 "                   [--band HZ | --modes N] [--recipe-only] [options] "
                 "OUTPUT_FOLDER\n"
                 "       tonwell-bake [options] --batch LIST_FILE OUTPUT_DIRECTORY\n"
                 "       mpirun -np N tonwell-bake [options] RECIPE OUTPUT_FOLDER (or --batch)\n"
                 "       tonwell-bake [--quiet] --export npz|gltf SCENE_FOLDER OUTPUT_FILE\n"
                 "\n"
                 "Bakes the scene described by RECIPE (a JSON file: shape, material, mesh\n"
                 "resolution, number of modes, transfer settings) into OUTPUT_FOLDER: the struck\n"
                 "object's OBJ and MTL files, its mode shapes (<name>.U) and frequencies in Hz\n"
                 "(<name>.freq), the acoustic transfer of every mode (the list\n"
                 "<name>-ZEPObjectsList-NN.txt and one .sources and .k file per mode), the bell's\n"
                 "fixtures, and report.txt / report.svg. The folder is replaced as a whole only\n"
                 "when the bake succeeds. Name OUTPUT_FOLDER after the scene (<demo>/<name>): the\n"
                 "transfer list names its files relative to the demo directory.\n"
                 "\n"
                 "A folder already baked from the same recipe by the same baker is left alone.\n"
                 "\n"
                 "Options:\n"
                 "  --force   bake even when OUTPUT_FOLDER is up to date\n"
                 "  --quiet   print nothing but errors\n"
                 "  --check   bake nothing; exit 0 if OUTPUT_FOLDER is up to date, 3 if not\n"
                 "  --modes-only\n"
                 "            stop after the eigen solve: meshes, .U, .freq and the report but\n"
                 "            no acoustic transfer, so the demo cannot load the folder (for\n"
                 "            studies of the modes, such as mesh convergence)\n"
                 "  --workers N\n"
                 "            run the eigen slices and the transfer groups in N worker processes\n"
                 "            (default: one per hardware thread)\n"
                 "  --batch   bake every recipe LIST_FILE names (one path per line, relative\n"
                 "            to LIST_FILE; # comments) into OUTPUT_DIRECTORY/<recipe name>,\n"
                 "            skipping scenes already up to date; all recipes are checked\n"
                 "            first; a scene that fails does not stop the others, and every\n"
                 "            failure is reported at the end (exit status 1)\n"
                 "  --export npz|gltf\n"
                 "            bake nothing; write the baked SCENE_FOLDER to OUTPUT_FILE: \"npz\"\n"
                 "            a numpy archive of named arrays (frequencies, damping, vertices,\n"
                 "            faces, mode_shapes, the transfer's sources, the report's table),\n"
                 "            \"gltf\" a glTF 2.0 binary (.glb): the mesh, and the modes and the\n"
                 "            transfer in its TONWELL_modal_sound extension\n"
                 "  --help    show this text\n"
                 "\n"
                 "Your own object (the recipe is made from the command line, written into\n"
                 "OUTPUT_FOLDER as recipe.json and baked; OUTPUT_FOLDER's name is the scene's):\n"
                 "  --mesh FILE      a closed OBJ or PLY mesh (.gz too); wrapped and placed\n"
                 "  --material NAME  %s\n"
                 "  --size METRES    its largest extent (default: the mesh's, read as metres)\n"
                 "  --band HZ        every mode below HZ (default %g Hz); the meshes follow it\n"
                 "  --modes N        the lowest N modes below the default band\n"
                 "  --recipe-only    write OUTPUT_FOLDER/recipe.json for editing, bake nothing;\n"
                 "                   then: tonwell-bake OUTPUT_FOLDER/recipe.json OUTPUT_FOLDER\n"
                 "\n"
                 "Under an MPI launcher (mpirun -np N, srun) the ranks share the eigen slices and\n"
                 "the transfer groups, each rank one at a time (launch one rank per core;\n"
                 "--workers is then not used); rank 0 reads the recipe, prints and writes the\n"
                 "folder, and the files are those of a plain bake. A batch of two scenes or\n"
                 "more goes to the ranks as whole scenes instead, each baked by one rank with\n"
                 "--workers N worker processes (default 1).\n"
                 "\n"
                 "Recipes of the demo's scenes: tools/bake/recipes/{bell,chair,dragon}.json, and\n"
                 "quick coarse variants *-quick.json.\n",
                 materialPresetNames().c_str(), kDefaultCommandLineBand_Hz);
}

// What the command line asks for.
struct CommandLine {
    BakeOptions options;
    bool check = false, batch = false, recipeOnly = false;
    std::string exportFormat;      // --export: "npz" or "gltf"; the folders are then the scene and
                                   // the output file
    CommandLineRecipeOptions own;  // --mesh and its options
    std::string recipePath, outputFolder;
};

// Reads the options and arguments into `line`; returns the exit status when the command ends here
// (--help, or a bad option, reported), -1 to go on.
int readCommandLine(int argc, char** argv, CommandLine& line) {
    BakeOptions& options = line.options;
    CommandLineRecipeOptions& own = line.own;
    // A number after the option at argv[i], within [low, high]; false when there is none.
    auto number = [&](int i, double low, double high, double* value) {
        char* end = nullptr;
        if (i + 1 >= argc) return false;
        *value = std::strtod(argv[i + 1], &end);
        return *end == '\0' && end != argv[i + 1] && *value >= low && *value <= high;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            printUsage(stdout);
            return 0;
        } else if (arg == "--force") {
            options.force = true;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--check") {
            line.check = true;
        } else if (arg == "--batch") {
            line.batch = true;
        } else if (arg == "--modes-only") {
            options.modesOnly = true;
        } else if (arg == "--workers") {
            char* end = nullptr;
            const long count = i + 1 < argc ? std::strtol(argv[i + 1], &end, 10) : 0;
            if (i + 1 >= argc || *end != '\0' || count < 1 || count > 1024) {
                std::fprintf(stderr, "tonwell-bake: --workers needs a number from 1 to 1024\n");
                return 2;
            }
            options.workerCount = static_cast<int>(count);
            ++i;
        } else if (arg == "--mesh" || arg == "--material") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                std::fprintf(stderr, "tonwell-bake: %s needs a %s\n", arg.c_str(),
                             arg == "--mesh" ? "mesh file" : "material name");
                return 2;
            }
            (arg == "--mesh" ? own.meshFile : own.materialName) = argv[++i];
        } else if (arg == "--size") {
            if (!number(i, 1e-4, 100.0, &own.size_m)) {
                std::fprintf(stderr,
                             "tonwell-bake: --size needs a length in metres (0.0001 to 100)\n");
                return 2;
            }
            ++i;
        } else if (arg == "--band") {
            if (!number(i, 20.0, kMaxRecipeFrequency_Hz, &own.band_Hz)) {
                std::fprintf(stderr,
                             "tonwell-bake: --band needs a frequency from 20 to 22050 Hz\n");
                return 2;
            }
            ++i;
        } else if (arg == "--modes") {
            double count = 0;
            if (!number(i, 1, kMaxRecipeModes, &count) || count != std::floor(count)) {
                std::fprintf(stderr, "tonwell-bake: --modes needs a whole number from 1 to %d\n",
                             kMaxRecipeModes);
                return 2;
            }
            own.modeCount = static_cast<int>(count);
            ++i;
        } else if (arg == "--export") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0' || argv[i + 1][0] == '-') {
                std::fprintf(stderr, "tonwell-bake: --export needs a format (%s)\n",
                             kExportFormats);
                return 2;
            }
            line.exportFormat = argv[++i];
        } else if (arg == "--recipe-only") {
            line.recipeOnly = true;
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "tonwell-bake: unknown option %s\n", arg.c_str());
            printUsage(stderr);
            return 2;
        } else if (line.recipePath.empty()) {
            line.recipePath = arg;
        } else if (line.outputFolder.empty()) {
            line.outputFolder = arg;
        } else {
            std::fprintf(stderr, "tonwell-bake: too many arguments\n");
            printUsage(stderr);
            return 2;
        }
    }
    return -1;
}

// With --mesh, the one argument is the output folder and the recipe is made for it; the options
// that go with --mesh are refused without it. Returns 2 (reported) when the arguments do not fit
// together, -1 to go on.
int settleFolders(CommandLine& line) {
    const CommandLineRecipeOptions& own = line.own;
    const bool fromCommandLine = !own.meshFile.empty() || !own.materialName.empty();
    if (fromCommandLine) {
        if (own.meshFile.empty() || own.materialName.empty() || line.recipePath.empty() ||
            !line.outputFolder.empty() || (own.band_Hz > 0 && own.modeCount > 0)) {
            std::fprintf(stderr,
                         "tonwell-bake: --mesh FILE and --material NAME make the recipe for one "
                         "OUTPUT_FOLDER, with --band or --modes (not both)\n");
            printUsage(stderr);
            return 2;
        }
        // "demo/ring/" names the folder "demo/ring".
        std::string folder = std::filesystem::path(line.recipePath).lexically_normal().string();
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        line.outputFolder = folder;
        line.recipePath = commandLineRecipePath(folder);
    } else if (line.recipeOnly || own.size_m > 0 || own.band_Hz > 0 || own.modeCount > 0) {
        std::fprintf(stderr,
                     "tonwell-bake: --size, --band, --modes and --recipe-only go with --mesh\n");
        return 2;
    }
    if (line.recipePath.empty() || line.outputFolder.empty()) {
        printUsage(stderr);
        return 2;
    }
    return -1;
}

// --mesh --recipe-only: writes the recipe made for the folder (on rank 0) and says how to bake it.
void writeCommandLineRecipe(const CommandLine& line, const std::string& text) {
    if (rankIndex() != 0) return;
    std::filesystem::create_directories(line.outputFolder);
    std::ofstream out(line.recipePath, std::ios::binary);
    out << text;
    if (!out) throw BakeError(line.recipePath + ": cannot write the recipe");
    if (!line.options.quiet)
        std::printf("tonwell-bake: wrote %s; bake it with: tonwell-bake %s %s\n",
                    line.recipePath.c_str(), line.recipePath.c_str(), line.outputFolder.c_str());
}

// The bake itself, a batch, a check or a recipe written: the exit status. Throws BakeError.
int run(const CommandLine& line) {
    const bool fromCommandLine = !line.own.meshFile.empty();
    if (line.batch) {
        if (fromCommandLine)
            throw BakeError("--batch takes recipe files; bake --mesh objects one at a time");
        const BatchSummary summary =
            bakeBatch(line.recipePath, line.outputFolder, line.options, line.check);
        return line.check && summary.skipped < summary.scenes ? 3 : 0;
    }
    Recipe recipe;
    if (fromCommandLine) {
        // Read back as the baker reads the file it writes, so rebaking from it matches.
        const std::string text = commandLineRecipe(line.own, line.outputFolder);
        recipe = readRecipeOnRanks(line.recipePath,
                                   [&] { return readRecipeText(text, line.recipePath); });
        if (line.recipeOnly) {
            writeCommandLineRecipe(line, text);
            return 0;
        }
    } else {
        recipe = readRecipeOnRanks(line.recipePath);
    }
    if (line.check)
        return valueFromRankZero(
            isUpToDate(line.outputFolder, bakeStamp(recipe, line.options)) ? 0 : 3);
    bakeSceneOnRanks(recipe, line.outputFolder, line.options);
    return 0;
}

// --export FORMAT SCENE_FOLDER OUTPUT_FILE: the exit status (0, 1 on a failed export, 2 on a
// command line that does not fit). Runs on rank 0 only.
int exportCommand(const CommandLine& line) {
    const BakeOptions& o = line.options;
    if (line.check || line.batch || line.recipeOnly || o.force || o.modesOnly ||
        o.workerCount > 0 || !line.own.meshFile.empty() || !line.own.materialName.empty() ||
        line.own.size_m > 0 || line.own.band_Hz > 0 || line.own.modeCount > 0) {
        std::fprintf(stderr, "tonwell-bake: --export takes only --quiet besides its format\n");
        return 2;
    }
    if (line.recipePath.empty() || line.outputFolder.empty()) {
        std::fprintf(stderr, "tonwell-bake: --export %s needs a SCENE_FOLDER and an OUTPUT_FILE\n",
                     line.exportFormat.c_str());
        printUsage(stderr);
        return 2;
    }
    if (rankIndex() != 0) return 0;
    const std::string problem = exportScene(line.recipePath, line.exportFormat, line.outputFolder);
    if (!problem.empty()) {
        std::fprintf(stderr, "tonwell-bake: error: %s\n", problem.c_str());
        return 1;
    }
    if (!o.quiet) {
        std::error_code error;
        const auto bytes = std::filesystem::file_size(line.outputFolder, error);
        std::printf("tonwell-bake: exported %s to %s (%s, %llu bytes)\n", line.recipePath.c_str(),
                    line.outputFolder.c_str(), line.exportFormat.c_str(),
                    static_cast<unsigned long long>(error ? 0 : bytes));
    }
    return 0;
}

int bake(int argc, char** argv) {
    CommandLine line;
    if (const int status = readCommandLine(argc, argv, line); status >= 0) return status;
    if (!line.exportFormat.empty()) return exportCommand(line);
    if (const int status = settleFolders(line); status >= 0) return status;
    // The baker's identity for the cache: size and modification time of this executable, which
    // change whenever it is rebuilt.
    line.options.bakerIdentity = executableIdentity("/proc/self/exe");
    if (line.options.bakerIdentity.empty())
        line.options.bakerIdentity = executableIdentity(argv[0]);
    try {
        return run(line);
    } catch (const BakeError& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "\ntonwell-bake: error: %s\n", e.what());
        return 1;
    } catch (const std::exception& e) {
        // Not a bake's error (out of memory, ...): it may have hit this rank alone, while the
        // others wait for it, so it ends them all.
        if (rankCount() > 1) abortRanks(line.recipePath + ": " + e.what());
        std::fflush(stdout);
        std::fprintf(stderr, "\ntonwell-bake: error: %s: %s\n", line.recipePath.c_str(), e.what());
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string problem = startRanks(&argc, &argv);
    if (!problem.empty()) {
        std::fprintf(stderr, "tonwell-bake: error: cannot run on MPI ranks: %s\n", problem.c_str());
        return 1;
    }
    return finishRanks(bake(argc, argv));
}
