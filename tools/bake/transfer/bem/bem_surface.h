// The boundary of a vibrating object as the acoustic solver sees it: flat triangles with constant
// pressure and normal velocity on each, collocated at the centroid. Built once per object by the
// baker's transfer stage from the surface mesh it also writes as the scene's OBJ.
//
// Conventions: SI units (metres); triangles wind counter-clockwise seen from outside, so the
// normal n = (b - a) x (c - a) / |...| points out of the solid into the air.
#pragma once

#include <Eigen/Core>
#include <Eigen/Geometry>
#include <array>
#include <vector>

struct BemElement {
    std::array<Eigen::Vector3d, 3> corners;
    Eigen::Vector3d centroid;
    Eigen::Vector3d normal;  // unit, outward
    double area = 0;         // m^2
    double diameter = 0;     // longest edge, m
    // Mean curvature (k1 + k2) / 2 of the smooth surface the flat element stands for, 1/m,
    // positive where the surface is convex; 0 on flat parts and across sharp feature edges.
    double meanCurvature = 0;
};

constexpr double kFeatureEdgeAngle = 0.6;  // radians, about 34 degrees

struct BemSurface {
    std::vector<BemElement> elements;
    Eigen::Vector3d boxMin, boxMax;  // axis-aligned bounds of the vertices, m
};

// Builds the element list of a closed, outward-oriented triangle mesh. The mean curvature of each
// element comes from the dihedral angles theta_e of its edges (Steiner: the integral of the mean
// curvature over a polyhedral surface is sum_e |e| theta_e / 2, each edge shared by its two
// elements): H_i = sum over its edges of |e| theta_e / (4 A_i). Edges sharper than
// kFeatureEdgeAngle are true corners of the object (a box's edges), not a curved surface cut into
// facets, and count as flat.
// vertices: positions in metres; triangles: 0-based vertex indices, counter-clockwise from outside.
// Throws std::invalid_argument when an index is out of range or a triangle has zero area (the
// message names the triangle).
BemSurface makeBemSurface(const std::vector<Eigen::Vector3d>& vertices,
                          const std::vector<std::array<int, 3>>& triangles);

// Normal velocity of every element, m/s, for the surface velocity field given at the vertices:
// the mean of the three corner velocities dotted with the element's outward normal.
// vertexVelocity: 3 * vertexCount values, (x, y, z) of vertex v at 3v .. 3v + 2 (one column of a
// mode-shape matrix, which is the surface velocity for unit modal velocity).
Eigen::VectorXd elementNormalVelocity(const BemSurface& surface,
                                      const std::vector<std::array<int, 3>>& triangles,
                                      const double* vertexVelocity);

// A closed sphere of radius `radius` centred at `centre`: the icosahedron subdivided `levels`
// times, every vertex pushed onto the sphere (20 * 4^levels triangles). For tests and benches.
void makeIcosphere(int levels, double radius, const Eigen::Vector3d& centre,
                   std::vector<Eigen::Vector3d>* vertices,
                   std::vector<std::array<int, 3>>* triangles);
