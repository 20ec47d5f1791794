// Writers of the files a scene folder holds, in the formats the demo's readers accept: Wavefront
// OBJ (vertex, normal and face lines, one group, a material library) with its MTL file, and dense
// matrix files (int32 rows, int32 columns, then the doubles column by column, little-endian).
#pragma once

#include <Eigen/Core>
#include <string>
#include <vector>

#include "tools/bake/surface/surface_mesh.h"

// One named part of an OBJ file: its triangles and the material they use.
struct ObjPart {
    std::string group;     // group name (no blanks)
    std::string material;  // material name defined in the MTL file
    SurfaceMesh mesh;
};

// A material line set of an MTL file; colours in 0..1, shininess on the MTL scale 0..1000.
struct MtlMaterial {
    std::string name;
    Eigen::Vector3d ambient, diffuse, specular;
    double shininess = 0.0;
};

// Writes `parts` to `path` as one OBJ: "mtllib <mtlName>" (when not empty), then every part's
// vertices ("v x y z", %.9g, so the single-precision reader gets the nearest float), normals
// ("vn"), and faces ("f a b c" or "f a//n b//n c//n" when the part has normals) under
// "g <group>" and "usemtl <material>". Vertex i of the first part is OBJ vertex i + 1.
// Throws BakeError when the file cannot be written.
void writeObj(const std::string& path, const std::vector<ObjPart>& parts,
              const std::string& mtlName);

// Writes the materials as "newmtl", "Ka", "Kd", "Ks" and "Ns" lines. Throws BakeError on failure.
void writeMtl(const std::string& path, const std::vector<MtlMaterial>& materials);

// Writes `matrix` (m x n) as a dense matrix file. Throws BakeError on failure.
void writeDenseMatrix(const std::string& path, const Eigen::MatrixXd& matrix);
