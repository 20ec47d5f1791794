// libFuzzer target for tonwell-render's command line and strike scripts. An input is the
// arguments, one per line, then optionally "#FILE#" and a strike script: every --script names
// that script (written to the scratch folder), so no input reaches other files. Bad arguments
// come back as one message naming the argument or the script's file and line. Beyond what the
// sanitizers find, options the parser accepts must be ones the renderer can use without further
// checks: a scene folder, an output, strikes at times within the longest output with a vertex or
// a finite point, a finite non-zero direction, a magnitude within bounds, and settings in range.
#include <cmath>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "tools/render/render_options.h"

namespace {

void checkOptions(const RenderOptions& o) {
    if (o.help) return;
    fuzz::require(!o.sceneFolder.empty() && !o.outputFile.empty() && !o.strikes.empty(),
                  "a scene, an output and strikes");
    for (const StrikeRequest& s : o.strikes) {
        fuzz::require(s.time >= 0.0 && s.time <= 3600.0, "a strike time within an hour");
        fuzz::require(s.vertex >= 0 || s.hasPoint, "a vertex or a point");
        if (s.hasPoint)
            fuzz::require(
                std::isfinite(s.point[0]) && std::isfinite(s.point[1]) && std::isfinite(s.point[2]),
                "a finite point");
        if (!s.fromListener) {
            const double* d = s.direction;
            const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
            fuzz::require(std::isfinite(length) && length > 0.0, "a direction to normalise");
        }
        if (s.hasMagnitude)
            fuzz::require(s.magnitude >= 0.0 && s.magnitude <= 1e6, "a magnitude within bounds");
        fuzz::require(!s.origin.empty(), "where the strike was given");
    }
    fuzz::require(o.rendererType == 0 || o.rendererType == 1, "a renderer");
    fuzz::require(o.channelCount == 1 || o.channelCount == 2, "mono or stereo");
    fuzz::require(!(o.rendererType == 1 && o.channelCount == 2), "Modal is mono");
    fuzz::require(o.modeCount == -1 || o.modeCount >= 1, "a mode count");
    fuzz::require(o.impactDuration >= 1 && o.impactDuration <= 256, "an impact duration");
    fuzz::require(o.zepRate >= 100 && o.zepRate <= 300, "a ZEP rate");
    fuzz::require(o.lengthSeconds > 0.0 && o.lengthSeconds <= 3600.0, "a length");
    fuzz::require(!(o.hasListener && o.hasCamera), "one listener placement");
    if (o.hasCamera) fuzz::require(o.camera[0] > 0.0, "a camera distance");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> parts = fuzz::splitFiles(data, size);
    const std::string script = std::string(fuzz::scratchDirectory()) + "/strikes.txt";
    fuzz::writeFile(script, parts.size() > 1 ? parts[1] : std::string());

    std::vector<std::string> arguments;
    size_t start = 0;
    const std::string& text = parts[0];
    while (start <= text.size() && !text.empty()) {
        const size_t end = text.find('\n', start);
        arguments.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    for (size_t i = 0; i + 1 < arguments.size(); ++i)
        if (arguments[i] == "--script") arguments[i + 1] = script;

    RenderOptions options;
    const std::string problem = parseRenderArguments(arguments, &options);
    if (problem.empty()) checkOptions(options);
    return 0;
}
