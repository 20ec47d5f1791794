// Test solids and the CalculiX runner (see bake_test_support.h).
#include "tests/bake/bake_test_support.h"

#include <sys/wait.h>

#include <Eigen/Geometry>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "tools/bake/surface/box_union.h"

SurfaceMesh makeIcosphere(int levels, double radius, const Eigen::Vector3d& center) {
    const double t = (1.0 + std::sqrt(5.0)) / 2.0;
    SurfaceMesh mesh;
    const double corners[12][3] = {{-1, t, 0}, {1, t, 0}, {-1, -t, 0}, {1, -t, 0},
                                   {0, -1, t}, {0, 1, t}, {0, -1, -t}, {0, 1, -t},
                                   {t, 0, -1}, {t, 0, 1}, {-t, 0, -1}, {-t, 0, 1}};
    for (const auto& c : corners)
        mesh.positions.push_back(Eigen::Vector3d(c[0], c[1], c[2]).normalized());
    mesh.triangles = {{0, 11, 5}, {0, 5, 1},  {0, 1, 7},   {0, 7, 10}, {0, 10, 11},
                      {1, 5, 9},  {5, 11, 4}, {11, 10, 2}, {10, 7, 6}, {7, 1, 8},
                      {3, 9, 4},  {3, 4, 2},  {3, 2, 6},   {3, 6, 8},  {3, 8, 9},
                      {4, 9, 5},  {2, 4, 11}, {6, 2, 10},  {8, 6, 7},  {9, 8, 1}};
    for (int level = 0; level < levels; ++level) {
        std::map<std::pair<int, int>, int> midpoints;
        auto midpoint = [&](int a, int b) {
            auto key = std::minmax(a, b);
            auto [it, added] = midpoints.try_emplace({key.first, key.second},
                                                     static_cast<int>(mesh.positions.size()));
            if (added)
                mesh.positions.push_back((mesh.positions[a] + mesh.positions[b]).normalized());
            return it->second;
        };
        std::vector<std::array<int, 3>> finer;
        for (const auto& tri : mesh.triangles) {
            const int ab = midpoint(tri[0], tri[1]), bc = midpoint(tri[1], tri[2]),
                      ca = midpoint(tri[2], tri[0]);
            finer.push_back({tri[0], ab, ca});
            finer.push_back({tri[1], bc, ab});
            finer.push_back({tri[2], ca, bc});
            finer.push_back({ab, bc, ca});
        }
        mesh.triangles = finer;
    }
    for (auto& p : mesh.positions) p = center + radius * p;
    if (enclosedVolume(mesh) < 0.0) flipOrientation(mesh);
    return mesh;
}

TetMesh sphereTets(int levels, double radius, double maxVolume) {
    return tetrahedralize(makeIcosphere(levels, radius), {maxVolume, 1.4}, "test sphere");
}

TetMesh boxTets(const Eigen::Vector3d& lower, const Eigen::Vector3d& upper, double spacing,
                double maxVolume) {
    return tetrahedralize(makeBoxUnionSurface({{lower, upper}}, {spacing, 1}, "test box"),
                          {maxVolume, 1.4}, "test box");
}

int runCommand(const std::string& command, std::string* output) {
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return -1;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        if (output) output->append(buffer, n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string calculixPath() {
    for (const char* path : {"/usr/bin/ccx", "/usr/local/bin/ccx"})
        if (std::ifstream(path).good()) return path;
    return "";
}

std::vector<double> calculixFrequencies(const TetMesh& mesh, const Material& material, int count,
                                        const std::string& folder) {
    {
        std::ofstream deck(folder + "/modes.inp");
        char line[256];
        deck << "*NODE, NSET=NALL\n";
        // CalculiX reads at most 20 characters per number.
        for (size_t i = 0; i < mesh.nodes.size(); ++i) {
            std::snprintf(line, sizeof line, "%zu, %.13g, %.13g, %.13g\n", i + 1, mesh.nodes[i].x(),
                          mesh.nodes[i].y(), mesh.nodes[i].z());
            deck << line;
        }
        // Both element types list the corners first; C3D10's edge nodes follow in the order of
        // TetMesh::edgeNodes.
        deck << "*ELEMENT, TYPE=" << (mesh.quadratic() ? "C3D10" : "C3D4") << ", ELSET=EALL\n";
        for (size_t t = 0; t < mesh.tets.size(); ++t) {
            deck << t + 1;
            for (int node : mesh.tets[t]) deck << ", " << node + 1;
            if (mesh.quadratic())
                for (int node : mesh.edgeNodes[t]) deck << ", " << node + 1;
            deck << "\n";
        }
        std::snprintf(line, sizeof line,
                      "*MATERIAL, NAME=SOLID\n*ELASTIC\n%.13g, %.13g\n*DENSITY\n%.13g\n",
                      material.youngsModulus, material.poissonRatio, material.density);
        deck << line << "*SOLID SECTION, ELSET=EALL, MATERIAL=SOLID\n*STEP\n*FREQUENCY\n"
             << count << "\n*END STEP\n";
    }
    std::string output;
    if (runCommand("cd '" + folder + "' && " + calculixPath() + " modes", &output) != 0) return {};
    std::ifstream dat(folder + "/modes.dat");
    std::vector<double> frequencies;
    std::string line;
    bool inTable = false;
    while (std::getline(dat, line)) {
        if (line.find("E I G E N V A L U E   O U T P U T") != std::string::npos) {
            inTable = true;
            continue;
        }
        if (!inTable) continue;
        std::istringstream words(line);
        int mode;
        double eigenvalue, radians, cycles;
        if (words >> mode >> eigenvalue >> radians >> cycles) {
            frequencies.push_back(cycles);
            if (static_cast<int>(frequencies.size()) == count) break;
        }
    }
    return frequencies;
}

double reportedForceUnit(const std::string& folder) {
    std::ifstream report(folder + "/report.txt");
    const std::string key = "force unit:";
    for (std::string line; std::getline(report, line);) {
        const size_t at = line.find(key);
        if (at != std::string::npos) return std::stod(line.substr(at + key.size()));
    }
    return std::nan("");
}

std::string reportedTiers(const std::string& folder) {
    std::ifstream report(folder + "/report.txt");
    std::string line, tiers;
    bool table = false;
    while (std::getline(report, line)) {
        if (line.find("  mode    frequency  fitted at tier") == 0) {
            table = true;
            continue;
        }
        if (!table) continue;
        std::istringstream fields(line);
        int mode;
        double frequency, fitted;
        std::string hz, tier;
        if (!(fields >> mode >> frequency >> hz >> fitted >> tier)) break;
        tiers += tier;
    }
    return tiers;
}

std::vector<std::complex<double>> sphericalHankels(int L, double x) {
    using Complex = std::complex<double>;
    std::vector<Complex> h(std::max(L, 1) + 1);
    const Complex outgoing = std::exp(Complex(0, -x)) / x;
    h[0] = Complex(0, 1) * outgoing;
    h[1] = (Complex(0, 1) / x - 1.0) * outgoing;
    for (int l = 1; l < L; ++l) h[l + 1] = (2.0 * l + 1) / x * h[l] - h[l - 1];
    return h;
}

std::complex<double> sphericalHankelDerivative(int l, double x) {
    const std::vector<std::complex<double>> h = sphericalHankels(l + 1, x);
    return l == 0 ? -h[1] : h[l - 1] - (l + 1.0) / x * h[l];
}

double harmonic(int l, int m, const Eigen::Vector3d& direction) {
    // P_l^m by the standard recurrences in l from P_m^m = (2m-1)!! sin^m theta.
    const Eigen::Vector3d u = direction.normalized();
    const double c = u.z(), s = std::sqrt(std::max(0.0, 1 - c * c));
    double previous = 1;
    for (int i = 1; i <= m; ++i) previous *= (2 * i - 1) * s;
    double current = c * (2 * m + 1) * previous;
    if (l == m) return previous * std::cos(m * std::atan2(u.y(), u.x()));
    for (int n = m + 2; n <= l; ++n) {
        const double next = (c * (2 * n - 1) * current - (n + m - 1) * previous) / (n - m);
        previous = current;
        current = next;
    }
    return current * std::cos(m * std::atan2(u.y(), u.x()));
}
