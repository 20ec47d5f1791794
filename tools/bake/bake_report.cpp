// Text and SVG bake reports (see bake_report.h).
#include "tools/bake/bake_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "tools/bake/bake_error.h"

namespace {

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};

std::unique_ptr<FILE, FileCloser> create(const std::string& path) {
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "w"));
    if (!file) throw BakeError(path + ": cannot open the file for writing");
    return file;
}

}  // namespace

void writeReportText(const std::string& path, const BakeReport& r) {
    auto file = create(path);
    FILE* f = file.get();
    std::fprintf(f, "tonwell-bake report: %s (recipe %s)\n\n", r.sceneName.c_str(),
                 r.recipePath.c_str());
    std::fprintf(f, "material: E = %.4g Pa, nu = %.4g, rho = %.4g kg/m^3\n", r.youngsModulus,
                 r.poissonRatio, r.density);
    std::fprintf(f, "surface: %d vertices, %d triangles\n", r.surfaceVertexCount,
                 r.surfaceTriangleCount);
    std::fprintf(f, "volume mesh: %d nodes, %d linear tetrahedra\n", r.nodeCount, r.tetCount);
    std::fprintf(f, "volume %.6g m^3, mass %.6g kg\n", r.volume, r.mass);
    std::fprintf(f,
                 "eigen solve: %d restarts, %d solves; six rigid modes dropped (largest %.3g Hz, "
                 "residual outside the rigid motions %.2g)\n",
                 r.iterations, r.operations, r.largestRigidFrequency, r.rigidResidual);
    double total = 0.0;
    std::fprintf(f, "\nstage times:\n");
    for (const auto& [stage, seconds] : r.stageSeconds) {
        std::fprintf(f, "  %-12s %8.2f s\n", stage.c_str(), seconds);
        total += seconds;
    }
    std::fprintf(f, "  %-12s %8.2f s\n", "total", total);
    const long count = static_cast<long>(r.frequencies.size());
    std::fprintf(f, "\n%ld modes", count);
    if (count > 0)
        std::fprintf(f, ", %.2f Hz to %.2f Hz", r.frequencies(0), r.frequencies(count - 1));
    std::fprintf(f, ":\n");
    for (long j = 0; j < count; ++j) std::fprintf(f, "  %4ld %12.3f Hz\n", j + 1, r.frequencies(j));
    if (!r.notes.empty()) std::fprintf(f, "\nnotes:\n");
    for (const std::string& note : r.notes) std::fprintf(f, "  %s\n", note.c_str());
    if (std::ferror(f)) throw BakeError(path + ": writing the report failed");
}

void writeReportSvg(const std::string& path, const BakeReport& r) {
    auto file = create(path);
    FILE* f = file.get();
    const double width = 720, height = 420, left = 70, right = 20, top = 40, bottom = 50;
    const long count = static_cast<long>(r.frequencies.size());
    double fMin = 1.0, fMax = 10.0;
    if (count > 0) {
        fMin = std::max(1.0, r.frequencies.minCoeff());
        fMax = std::max(fMin * 1.01, r.frequencies.maxCoeff());
    }
    const double decadeLow = std::floor(std::log10(fMin)), decadeHigh = std::ceil(std::log10(fMax));
    auto xOf = [&](double mode) {
        return left + (width - left - right) * (count > 1 ? (mode - 1) / (count - 1) : 0.5);
    };
    auto yOf = [&](double hz) {
        const double t =
            (std::log10(std::max(hz, 1e-9)) - decadeLow) / std::max(1.0, decadeHigh - decadeLow);
        return height - bottom - (height - top - bottom) * t;
    };
    std::fprintf(f,
                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
                 "font-family=\"sans-serif\" font-size=\"12\">\n",
                 width, height);
    std::fprintf(f, "<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n");
    std::fprintf(f,
                 "<text x=\"%.0f\" y=\"22\" font-size=\"15\">%s: %ld vibration modes, %d surface "
                 "vertices, %d tetrahedra</text>\n",
                 left, r.sceneName.c_str(), count, r.surfaceVertexCount, r.tetCount);
    for (double d = decadeLow; d <= decadeHigh; d += 1.0) {
        for (int m = 1; m < 10; ++m) {
            const double hz = m * std::pow(10.0, d);
            if (hz > std::pow(10.0, decadeHigh) * 1.0001) break;
            const double y = yOf(hz);
            std::fprintf(f,
                         "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\"/>\n",
                         left, y, width - right, y, m == 1 ? "#999" : "#e4e4e4");
            if (m == 1)
                std::fprintf(f, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%g Hz</text>\n",
                             left - 6, y + 4, hz);
        }
    }
    std::fprintf(f, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"black\"/>\n",
                 left, height - bottom, width - right, height - bottom);
    for (long j = 0; j < count; ++j)
        std::fprintf(f,
                     "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3\" fill=\"#b5651d\"><title>mode %ld: "
                     "%.2f Hz</title></circle>\n",
                     xOf(j + 1), yOf(r.frequencies(j)), j + 1, r.frequencies(j));
    std::fprintf(
        f, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">mode number (1 to %ld)</text>\n",
        0.5 * (left + width - right), height - 15, count);
    std::fprintf(f, "</svg>\n");
    if (std::ferror(f)) throw BakeError(path + ": writing the report plot failed");
}
