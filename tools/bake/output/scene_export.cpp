// The export entry point (see scene_export.h): the scene gathered once, then its format's writer.
#include "tools/bake/output/scene_export.h"

#include <cstdio>
#include <new>

#include "tools/bake/common/bake_error.h"
#include "tools/bake/output/glb_writer.h"
#include "tools/bake/output/npz_writer.h"
#include "tools/bake/output/scene_data.h"

std::string exportScene(const std::string& folder, const std::string& format,
                        const std::string& out) {
    if (format != "npz" && format != "gltf")
        return "unknown export format \"" + format + "\" (expected " + kExportFormats + ")";
    if (out.empty()) return "no output file given for the export";
    SceneData scene;
    const std::string problem = readSceneData(folder, &scene);
    if (!problem.empty()) return problem;
    try {
        if (format == "npz")
            writeNpz(scene, out);
        else
            writeGlb(scene, out);
    } catch (const BakeError& e) {
        std::remove(out.c_str());
        return e.what();
    } catch (const std::bad_alloc&) {
        std::remove(out.c_str());
        return out + ": out of memory writing the export";
    }
    return "";
}
