// OBJ and PLY readers for meshes to be wrapped (see mesh_import.h). zlib's gz* functions read
// compressed and plain files alike.
#include "tools/bake/surface/mesh_import.h"

#include <zlib.h>

#include <Eigen/Geometry>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <vector>

#include "tools/bake/common/bake_error.h"

namespace {

// Bounds on what a mesh file may hold, checked as it is read (before anything is allocated for a
// count read from the file): ten times the largest scan the baker is meant for (the Stanford
// dragon at full resolution, 870k triangles), and far beyond what the wrap needs.
constexpr long kMaxVertices = 10000000;
constexpr long kMaxTriangles = 10000000;
constexpr long kMaxPolygonCorners = 65536;
constexpr size_t kMaxLineBytes = 1 << 20;

struct GzCloser {
    void operator()(gzFile_s* f) const { gzclose(f); }
};
using GzFile = std::unique_ptr<gzFile_s, GzCloser>;

GzFile openInput(const std::string& path) {
    GzFile file(gzopen(path.c_str(), "rb"));
    if (!file) throw BakeError(path + ": cannot open the mesh file");
    return file;
}

// Reads one line (its line feed kept) into `line`; false at the end of the file. A line longer
// than kMaxLineBytes (a compressed file can hold gigabytes without a line feed) is refused.
bool readLine(gzFile file, std::string& line, const std::string& path) {
    line.clear();
    char buffer[4096];
    while (gzgets(file, buffer, sizeof buffer)) {
        line += buffer;
        if (!line.empty() && line.back() == '\n') return true;
        if (line.size() > kMaxLineBytes)
            throw BakeError(path + ": a line is longer than " + std::to_string(kMaxLineBytes) +
                            " bytes");
    }
    return !line.empty();
}

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void addPolygon(SurfaceMesh& mesh, const std::vector<long>& corners, const std::string& where) {
    const long n = static_cast<long>(mesh.positions.size());
    for (long c : corners)
        if (c < 0 || c >= n) throw BakeError(where + ": face names a vertex that does not exist");
    if (static_cast<long>(mesh.triangles.size() + corners.size()) - 2 > kMaxTriangles)
        throw BakeError(where + ": the mesh has more than " + std::to_string(kMaxTriangles) +
                        " triangles, more than the baker takes");
    for (size_t k = 2; k < corners.size(); ++k)
        mesh.triangles.push_back({static_cast<int>(corners[0]), static_cast<int>(corners[k - 1]),
                                  static_cast<int>(corners[k])});
}

SurfaceMesh readObj(const std::string& path) {
    GzFile file = openInput(path);
    SurfaceMesh mesh;
    std::string line;
    for (int lineNumber = 1; readLine(file.get(), line, path); ++lineNumber) {
        std::istringstream words(line);
        std::string keyword;
        words >> keyword;
        const std::string where = path + ":" + std::to_string(lineNumber);
        if (keyword == "v") {
            Eigen::Vector3d p;
            if (!(words >> p.x() >> p.y() >> p.z())) throw BakeError(where + ": malformed vertex");
            if (static_cast<long>(mesh.positions.size()) >= kMaxVertices)
                throw BakeError(where + ": the mesh has more than " + std::to_string(kMaxVertices) +
                                " vertices, more than the baker takes");
            mesh.positions.push_back(p);
        } else if (keyword == "f") {
            std::vector<long> corners;
            std::string corner;
            while (words >> corner) {
                if (static_cast<long>(corners.size()) >= kMaxPolygonCorners)
                    throw BakeError(where + ": a face has more than " +
                                    std::to_string(kMaxPolygonCorners) + " corners");
                long index = std::strtol(corner.c_str(), nullptr, 10);
                if (index < 0) index += static_cast<long>(mesh.positions.size()) + 1;
                corners.push_back(index - 1);
            }
            if (corners.size() < 3) throw BakeError(where + ": a face needs three corners");
            addPolygon(mesh, corners, where);
        }
    }
    return mesh;
}

// What a PLY header declares: the format, the vertices' properties and the faces' index list.
struct PlyHeader {
    bool binary = false;
    long vertexCount = -1, faceCount = -1;
    std::vector<std::string> vertexTypes, vertexNames;
    std::string faceCountType, faceIndexType;
};

// Reads the header up to "end_header" and checks that it declares what the baker reads: vertices
// starting with x, y, z, within kMaxVertices, and faces as lists of integer indices, within
// kMaxTriangles, ASCII or binary little-endian.
PlyHeader readPlyHeader(gzFile file, const std::string& path) {
    std::string line;
    if (!readLine(file, line, path) || line.rfind("ply", 0) != 0)
        throw BakeError(path + ": not a PLY file (no \"ply\" line)");
    PlyHeader header;
    std::string element;
    for (;;) {
        if (!readLine(file, line, path)) throw BakeError(path + ": the PLY header has no end");
        std::istringstream words(line);
        std::string keyword;
        words >> keyword;
        if (keyword == "format") {
            std::string format;
            words >> format;
            if (format == "binary_little_endian")
                header.binary = true;
            else if (format != "ascii")
                throw BakeError(path + ": PLY format \"" + format + "\" is not supported");
        } else if (keyword == "element") {
            long count = -1;
            words >> element >> count;
            if (element == "vertex" && count > kMaxVertices)
                throw BakeError(path + ": the PLY header declares " + std::to_string(count) +
                                " vertices, more than the " + std::to_string(kMaxVertices) +
                                " the baker takes");
            if (element == "face" && count > kMaxTriangles)
                throw BakeError(path + ": the PLY header declares " + std::to_string(count) +
                                " faces, more than the " + std::to_string(kMaxTriangles) +
                                " the baker takes");
            if (element == "vertex")
                header.vertexCount = count;
            else if (element == "face")
                header.faceCount = count;
            else if (header.vertexCount < 0 || header.faceCount < 0)
                throw BakeError(path + ": PLY element \"" + element +
                                "\" before the faces is not supported");
        } else if (keyword == "property") {
            std::string type;
            words >> type;
            if (element == "vertex") {
                std::string name;
                words >> name;
                header.vertexTypes.push_back(type);
                header.vertexNames.push_back(name);
            } else if (element == "face" && type == "list") {
                std::string name;
                words >> header.faceCountType >> header.faceIndexType >> name;
            }
        } else if (keyword == "end_header") {
            break;
        }
    }
    const std::vector<std::string>& names = header.vertexNames;
    if (header.vertexCount <= 0 || header.faceCount <= 0 || names.size() < 3 || names[0] != "x" ||
        names[1] != "y" || names[2] != "z")
        throw BakeError(path + ": the PLY file needs vertices starting with x, y, z and faces");
    const auto integerType = [](const std::string& type) {
        return type != "float" && type != "float32" && type != "double" && type != "float64";
    };
    if (header.faceCountType.empty() || !integerType(header.faceCountType) ||
        !integerType(header.faceIndexType))
        throw BakeError(path + ": the PLY faces need a list of integer vertex indices");
    return header;
}

// Bytes of a PLY property type.
int plySizeOf(const std::string& type, const std::string& path) {
    if (type == "char" || type == "uchar" || type == "int8" || type == "uint8") return 1;
    if (type == "short" || type == "ushort" || type == "int16" || type == "uint16") return 2;
    if (type == "int" || type == "uint" || type == "float" || type == "int32" || type == "uint32" ||
        type == "float32")
        return 4;
    if (type == "double" || type == "float64") return 8;
    throw BakeError(path + ": PLY property type \"" + type + "\" is not supported");
}

// One little-endian binary value of a PLY property type.
double readPlyBinary(gzFile file, const std::string& type, const std::string& path) {
    unsigned char bytes[8];
    const int size = plySizeOf(type, path);
    if (gzread(file, bytes, size) != size) throw BakeError(path + ": the PLY data end early");
    if (type == "float" || type == "float32") {
        float f;
        std::memcpy(&f, bytes, 4);
        return f;
    }
    if (type == "double" || type == "float64") {
        double d;
        std::memcpy(&d, bytes, 8);
        return d;
    }
    if (size == 1) return type[0] == 'u' ? bytes[0] : static_cast<int8_t>(bytes[0]);
    if (size == 2) {
        int16_t s;
        std::memcpy(&s, bytes, 2);
        return type[0] == 'u' ? static_cast<uint16_t>(s) : s;
    }
    int32_t i;
    std::memcpy(&i, bytes, 4);
    return type[0] == 'u' ? static_cast<double>(static_cast<uint32_t>(i)) : i;
}

// The vertices after the header, their first three properties as the position.
void readPlyVertices(gzFile file, const PlyHeader& header, const std::string& path,
                     SurfaceMesh& mesh) {
    std::string line;
    for (long v = 0; v < header.vertexCount; ++v) {
        Eigen::Vector3d p;
        if (header.binary) {
            for (size_t k = 0; k < header.vertexTypes.size(); ++k) {
                const double value = readPlyBinary(file, header.vertexTypes[k], path);
                if (k < 3) p[k] = value;
            }
        } else {
            if (!readLine(file, line, path)) throw BakeError(path + ": the PLY vertices end early");
            std::istringstream words(line);
            if (!(words >> p.x() >> p.y() >> p.z()))
                throw BakeError(path + ": malformed PLY vertex " + std::to_string(v + 1));
        }
        mesh.positions.push_back(p);
    }
}

// The faces after the vertices, each polygon fanned into triangles (faces of fewer than three
// corners skipped).
void readPlyFaces(gzFile file, const PlyHeader& header, const std::string& path,
                  SurfaceMesh& mesh) {
    std::string line;
    for (long f = 0; f < header.faceCount; ++f) {
        std::vector<long> corners;
        const std::string where = path + ": PLY face " + std::to_string(f + 1);
        if (header.binary) {
            const long n = static_cast<long>(readPlyBinary(file, header.faceCountType, path));
            if (n > kMaxPolygonCorners) throw BakeError(where + " has too many corners");
            for (long c = 0; c < n; ++c)
                corners.push_back(
                    static_cast<long>(readPlyBinary(file, header.faceIndexType, path)));
        } else {
            if (!readLine(file, line, path)) throw BakeError(path + ": the PLY faces end early");
            std::istringstream words(line);
            long n = 0;
            words >> n;
            if (n > kMaxPolygonCorners) throw BakeError(where + " has too many corners");
            for (long c = 0, index = 0; c < n && words >> index; ++c) corners.push_back(index);
            if (static_cast<long>(corners.size()) != n) throw BakeError(where + " is malformed");
        }
        if (corners.size() < 3) continue;
        addPolygon(mesh, corners, where);
    }
}

SurfaceMesh readPly(const std::string& path) {
    GzFile file = openInput(path);
    const PlyHeader header = readPlyHeader(file.get(), path);
    SurfaceMesh mesh;
    mesh.positions.reserve(std::min(header.vertexCount, 1L << 16));  // grows with what is read
    readPlyVertices(file.get(), header, path, mesh);
    readPlyFaces(file.get(), header, path, mesh);
    return mesh;
}

}  // namespace

SurfaceMesh readTriangleSoup(const std::string& path) {
    std::string name = path;
    if (endsWith(name, ".gz")) name.resize(name.size() - 3);
    SurfaceMesh mesh;
    if (endsWith(name, ".obj") || endsWith(name, ".OBJ"))
        mesh = readObj(path);
    else if (endsWith(name, ".ply") || endsWith(name, ".PLY"))
        mesh = readPly(path);
    else
        throw BakeError(path + ": unknown mesh format (expected .obj or .ply, optionally .gz)");
    if (mesh.triangles.empty()) throw BakeError(path + ": the mesh has no faces");
    for (size_t v = 0; v < mesh.positions.size(); ++v)
        if (!mesh.positions[v].allFinite())
            throw BakeError(path + ": vertex " + std::to_string(v + 1) +
                            " has a coordinate that is not a finite number");
    // A soup whose triangles are all degenerate (every vertex on one point or one line) bounds no
    // solid, and wrapping it would make a sliver of the wrap's own offset.
    bool anyArea = false;
    for (const auto& t : mesh.triangles) {
        const Eigen::Vector3d& p0 = mesh.positions[t[0]];
        anyArea =
            anyArea || (mesh.positions[t[1]] - p0).cross(mesh.positions[t[2]] - p0).norm() > 0;
    }
    if (!anyArea) throw BakeError(path + ": every triangle of the mesh is degenerate (zero area)");
    return mesh;
}
