// OBJ, MTL and dense matrix writers (see scene_files.h).
#include "tools/bake/output/scene_files.h"

#include <cstdint>
#include <cstdio>
#include <memory>

#include "geometry/dense_matrix.h"
#include "tools/bake/common/bake_error.h"
#include "tools/bake/common/c_file.h"

namespace {

using File = CFile;

File openForWriting(const std::string& path, const char* mode) {
    File file(std::fopen(path.c_str(), mode));
    if (!file) throw BakeError(path + ": cannot open the file for writing");
    return file;
}

void finish(File& file, const std::string& path) {
    const bool failed = std::ferror(file.get()) != 0;
    if (std::fclose(file.release()) != 0 || failed)
        throw BakeError(path + ": writing the file failed (disk full?)");
}

}  // namespace

void writeObj(const std::string& path, const std::vector<ObjPart>& parts,
              const std::string& mtlName) {
    File file = openForWriting(path, "w");
    FILE* f = file.get();
    std::fprintf(f, "# Written by tonwell-bake. Units: metres.\n");
    if (!mtlName.empty()) std::fprintf(f, "mtllib %s\n", mtlName.c_str());
    int vertexOffset = 0, normalOffset = 0;
    for (const ObjPart& part : parts) {
        for (const auto& p : part.mesh.positions)
            std::fprintf(f, "v %.9g %.9g %.9g\n", p.x(), p.y(), p.z());
        for (const auto& n : part.mesh.normals)
            std::fprintf(f, "vn %.7g %.7g %.7g\n", n.x(), n.y(), n.z());
        std::fprintf(f, "g %s\n", part.group.c_str());
        if (!part.material.empty()) std::fprintf(f, "usemtl %s\n", part.material.c_str());
        const bool withNormals = !part.mesh.normalIndices.empty();
        for (size_t t = 0; t < part.mesh.triangles.size(); ++t) {
            const auto& v = part.mesh.triangles[t];
            if (withNormals) {
                const auto& n = part.mesh.normalIndices[t];
                std::fprintf(f, "f %d//%d %d//%d %d//%d\n", v[0] + 1 + vertexOffset,
                             n[0] + 1 + normalOffset, v[1] + 1 + vertexOffset,
                             n[1] + 1 + normalOffset, v[2] + 1 + vertexOffset,
                             n[2] + 1 + normalOffset);
            } else {
                std::fprintf(f, "f %d %d %d\n", v[0] + 1 + vertexOffset, v[1] + 1 + vertexOffset,
                             v[2] + 1 + vertexOffset);
            }
        }
        vertexOffset += static_cast<int>(part.mesh.positions.size());
        normalOffset += static_cast<int>(part.mesh.normals.size());
    }
    finish(file, path);
}

void writeMtl(const std::string& path, const std::vector<MtlMaterial>& materials) {
    File file = openForWriting(path, "w");
    FILE* f = file.get();
    std::fprintf(f, "# Written by tonwell-bake.\n");
    for (const MtlMaterial& m : materials) {
        std::fprintf(f, "newmtl %s\n", m.name.c_str());
        std::fprintf(f, "Ka %.4f %.4f %.4f\n", m.ambient.x(), m.ambient.y(), m.ambient.z());
        std::fprintf(f, "Kd %.4f %.4f %.4f\n", m.diffuse.x(), m.diffuse.y(), m.diffuse.z());
        std::fprintf(f, "Ks %.4f %.4f %.4f\n", m.specular.x(), m.specular.y(), m.specular.z());
        std::fprintf(f, "Ns %.1f\n", m.shininess);
    }
    finish(file, path);
}

void writeDenseMatrix(const std::string& path, const Eigen::MatrixXd& matrix) {
    // Eigen stores column-major, the file's order.
    const int status = saveDenseMatrix(path.c_str(), static_cast<int>(matrix.rows()),
                                       static_cast<int>(matrix.cols()), matrix.data());
    if (status == 1) throw BakeError(path + ": cannot open the file for writing");
    if (status != 0) throw BakeError(path + ": writing the file failed (disk full?)");
}
