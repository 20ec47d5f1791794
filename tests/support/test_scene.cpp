#include "tests/support/test_scene.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSpeedOfSound = 343.0;

void writeFile(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

struct Mesh {
    std::vector<double> vertices;  // x, y, z per vertex
    std::vector<int> triangles;    // 0-based corners
};

// A UV sphere of `rings` latitude bands and `segments` longitudes: two poles and
// (rings - 1) * segments ring vertices, outward-facing triangles.
Mesh uvSphere(double radius, int rings, int segments, double cx, double cy, double cz) {
    Mesh m;
    auto add = [&](double x, double y, double z) {
        m.vertices.insert(m.vertices.end(), {cx + x, cy + y, cz + z});
    };
    add(0, radius, 0);
    for (int i = 1; i < rings; ++i) {
        const double theta = kPi * i / rings;
        for (int j = 0; j < segments; ++j) {
            const double phi = 2 * kPi * j / segments;
            add(radius * std::sin(theta) * std::cos(phi), radius * std::cos(theta),
                -radius * std::sin(theta) * std::sin(phi));
        }
    }
    add(0, -radius, 0);
    const int south = 1 + (rings - 1) * segments;
    auto ring = [&](int i, int j) { return 1 + (i - 1) * segments + (j % segments); };
    for (int j = 0; j < segments; ++j)
        m.triangles.insert(m.triangles.end(), {0, ring(1, j), ring(1, j + 1)});
    for (int i = 1; i < rings - 1; ++i) {
        for (int j = 0; j < segments; ++j) {
            m.triangles.insert(m.triangles.end(), {ring(i, j), ring(i + 1, j), ring(i + 1, j + 1)});
            m.triangles.insert(m.triangles.end(), {ring(i, j), ring(i + 1, j + 1), ring(i, j + 1)});
        }
    }
    for (int j = 0; j < segments; ++j) {
        m.triangles.insert(m.triangles.end(), {south, ring(rings - 1, j + 1), ring(rings - 1, j)});
    }
    return m;
}

struct Box {
    double x0, y0, z0, x1, y1, z1;
};

// Axis-aligned boxes, each its own group of six quads in `material`.
std::string boxesObj(const char* library, const char* material, const std::vector<Box>& boxes) {
    std::ostringstream obj;
    obj.precision(9);
    obj << "mtllib " << library << "\n";
    for (const Box& b : boxes) {
        for (int k = 0; k < 8; ++k) {
            obj << "v " << ((k & 1) ? b.x1 : b.x0) << " " << ((k & 2) ? b.y1 : b.y0) << " "
                << ((k & 4) ? b.z1 : b.z0) << "\n";
        }
    }
    for (size_t n = 0; n < boxes.size(); ++n) {
        // Corners numbered 1 + (x + 2y + 4z) + 8n; each face counter-clockwise from outside.
        const int o = static_cast<int>(8 * n);
        obj << "g box" << n << "\nusemtl " << material << "\n";
        const int faces[6][4] = {{1, 3, 4, 2}, {5, 6, 8, 7}, {1, 2, 6, 5},
                                 {3, 7, 8, 4}, {1, 5, 7, 3}, {2, 4, 8, 6}};
        for (const auto& f : faces) {
            obj << "f " << f[0] + o << " " << f[1] + o << " " << f[2] + o << " " << f[3] + o
                << "\n";
        }
    }
    return obj.str();
}

}  // namespace

std::vector<std::array<float, 3>> readObjVertices(const std::string& objFile) {
    std::vector<std::array<float, 3>> vertices;
    std::ifstream obj(objFile);
    for (std::string line; std::getline(obj, line);) {
        if (line.rfind("v ", 0) != 0) continue;
        std::array<float, 3> p{};
        char* at = &line[2];
        for (float& value : p) value = std::strtof(at, &at);
        vertices.push_back(p);
    }
    return vertices;
}

std::string sceneName(int sceneSelector) {
    switch (sceneSelector) {
        case 0:
            return "bell";
        case 1:
            return "chair";
        default:
            return "dragon";
    }
}

std::vector<double> logSpacedFrequencies(int count, double lowest, double highest) {
    std::vector<double> frequencies(count);
    for (int i = 0; i < count; ++i)
        frequencies[i] =
            count == 1 ? lowest : lowest * std::pow(highest / lowest, double(i) / (count - 1));
    return frequencies;
}

void writeTestScene(const std::string& demoDirectory, int sceneSelector,
                    const TestSceneOptions& options) {
    const std::string name = sceneName(sceneSelector);
    const std::string folder = demoDirectory + "/" + name + "/";
    const Mesh mesh = uvSphere(options.radius, 12, 24, 0.0, 0.0, 0.0);
    const int vertexCount = static_cast<int>(mesh.vertices.size() / 3);

    // The mesh; the bell's file carries its own normals (the sphere's radial directions).
    std::ostringstream obj;
    obj.precision(9);
    obj << "# test scene: " << name << "\n";
    for (int v = 0; v < vertexCount; ++v) {
        obj << "v " << mesh.vertices[3 * v] << " " << mesh.vertices[3 * v + 1] << " "
            << mesh.vertices[3 * v + 2] << "\n";
    }
    const bool withNormals = sceneSelector == 0;
    if (withNormals) {
        for (int v = 0; v < vertexCount; ++v) {
            obj << "vn " << mesh.vertices[3 * v] / options.radius << " "
                << mesh.vertices[3 * v + 1] / options.radius << " "
                << mesh.vertices[3 * v + 2] / options.radius << "\n";
        }
    }
    obj << "g object\n";
    for (size_t t = 0; t < mesh.triangles.size(); t += 3) {
        obj << "f";
        for (int c = 0; c < 3; ++c) {
            const int index = mesh.triangles[t + c] + 1;
            obj << " " << index;
            if (withNormals) obj << "//" << index;
        }
        obj << "\n";
    }
    writeFile(folder + name + ".obj", obj.str());

    // Mode shapes: mode j moves every vertex along its outward normal with the pattern
    // cos((j + 1) * longitude) * (1 + height), scaled to be of order one per vertex.
    const int r = static_cast<int>(options.frequencies.size());
    std::vector<double> U(3 * static_cast<size_t>(vertexCount) * r);
    for (int j = 0; j < r; ++j) {
        for (int v = 0; v < vertexCount; ++v) {
            const double x = mesh.vertices[3 * v], y = mesh.vertices[3 * v + 1],
                         z = mesh.vertices[3 * v + 2];
            const double longitude = std::atan2(-z, x);
            const double amplitude = std::cos((j + 1) * longitude) * (1.0 + y / options.radius);
            for (int k = 0; k < 3; ++k) {
                U[(static_cast<size_t>(v) + static_cast<size_t>(j) * vertexCount) * 3 + k] =
                    amplitude * mesh.vertices[3 * v + k] / options.radius;
            }
        }
    }
    writeFile(folder + name + ".U", denseMatrixBytes(3 * vertexCount, r, U));
    writeFile(folder + name + ".freq", denseMatrixBytes(r, 1, options.frequencies));

    // Transfer: one order-0 source at the origin per mode.
    static const char* const kListNames[3] = {"bell-ZEPObjectsList-05.txt",
                                              "chair-ZEPObjectsList-15.txt",
                                              "dragon-ZEPObjectsList-04.txt"};
    std::ostringstream list;
    for (int j = 0; j < r; ++j) {
        char prefix[256];
        snprintf(prefix, sizeof(prefix), "%s/transfer/mode%03d", name.c_str(), j);
        list << prefix << "\n";
        const double k = 2 * kPi * options.frequencies[j] / kSpeedOfSound;
        const int n = std::max(1, options.sourcesPerMode);
        std::vector<double> sources;
        for (int s = 0; s < n; ++s) {
            double position[3] = {0, 0, 0};
            if (n > 1) {
                // Fibonacci lattice: height 1 - (2s + 1)/n, golden-angle turns.
                const double h = 1.0 - (2.0 * s + 1.0) / n, ring = std::sqrt(1.0 - h * h);
                const double turn = s * kPi * (3.0 - std::sqrt(5.0));
                const double d = options.radius / 3.0;
                position[0] = d * ring * std::cos(turn);
                position[1] = d * h;
                position[2] = d * ring * std::sin(turn);
            }
            const double record[11] = {position[0],
                                       position[1],
                                       position[2],
                                       options.sourceStrength / n,
                                       0,
                                       0,
                                       0,
                                       0,
                                       0,
                                       0,
                                       0};
            sources.insert(sources.end(), record, record + 11);
        }
        writeFile(demoDirectory + "/" + prefix + ".sources", denseMatrixBytes(11, n, sources));
        writeFile(demoDirectory + "/" + prefix + ".k", denseMatrixBytes(1, 1, {k}));
    }
    writeFile(folder + kListNames[sceneSelector == 0 ? 0 : sceneSelector == 1 ? 1 : 2], list.str());

    if (sceneSelector == 0) {
        // Fixtures: the headstock on the swing axis (model y = 0.308643), straps, and two
        // supports from the floor (model y = -1) up past the axis, clear of the bell.
        writeFile(folder + "fixtures.mtl",
                  "newmtl wood\nKa 0.2 0.12 0.05\nKd 0.55 0.35 0.15\nKs 0.1 0.1 0.1\nNs 20\n"
                  "newmtl iron\nKa 0.1 0.1 0.1\nKd 0.3 0.3 0.32\nKs 0.6 0.6 0.6\nNs 200\n");
        writeFile(folder + "yoke-wood.obj",
                  boxesObj("fixtures.mtl", "wood", {{-0.42, 0.27, -0.06, 0.42, 0.35, 0.06}}));
        writeFile(folder + "yoke-metal.obj",
                  boxesObj("fixtures.mtl", "iron", {{-0.05, 0.18, -0.07, 0.05, 0.36, 0.07}}));
        writeFile(folder + "supports.obj", boxesObj("fixtures.mtl", "wood",
                                                    {{-0.52, -1.0, -0.08, -0.44, 0.40, 0.08},
                                                     {0.44, -1.0, -0.08, 0.52, 0.40, 0.08}}));
    }
}
