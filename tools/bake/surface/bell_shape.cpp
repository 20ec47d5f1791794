// The bell's profile and its revolution into a closed surface (see bell_shape.h).
#include "tools/bake/surface/bell_shape.h"

#include <algorithm>
#include <cmath>

#include "tools/bake/common/bake_error.h"
#include "tools/bake/common/physical_constants.h"

namespace {

// Control points of the profile in units of the lip diameter D: (r / D, height above the lip / D).
// Outer curve from the crown centre to the lip; inner curve from the lip to the crown centre.
// The wall is about D/13 thick at the sound bow, D/35 at the waist and D/30 at the crown: the
// proportions of a cast church bell.
const double kOuter[][2] = {{0.000, 0.833}, {0.090, 0.833}, {0.180, 0.830}, {0.240, 0.815},
                            {0.290, 0.775}, {0.318, 0.700}, {0.330, 0.620}, {0.340, 0.500},
                            {0.360, 0.380}, {0.390, 0.270}, {0.430, 0.170}, {0.468, 0.095},
                            {0.492, 0.045}, {0.500, 0.012}, {0.500, 0.000}};
const double kInner[][2] = {{0.428, 0.000}, {0.426, 0.040}, {0.412, 0.100}, {0.390, 0.170},
                            {0.358, 0.270}, {0.331, 0.380}, {0.312, 0.500}, {0.302, 0.620},
                            {0.290, 0.700}, {0.264, 0.755}, {0.212, 0.790}, {0.150, 0.800},
                            {0.075, 0.800}, {0.000, 0.800}};

// Catmull-Rom spline through the control points, sampled densely, then resampled at equal arc
// length with about `spacing` between points. Endpoints are kept exactly.
std::vector<Eigen::Vector2d> resampleCurve(const std::vector<Eigen::Vector2d>& control,
                                           double spacing) {
    std::vector<Eigen::Vector2d> dense;
    const int n = static_cast<int>(control.size());
    const int perSegment = 64;
    for (int i = 0; i + 1 < n; ++i) {
        const Eigen::Vector2d p0 = control[std::max(i - 1, 0)], p1 = control[i],
                              p2 = control[i + 1], p3 = control[std::min(i + 2, n - 1)];
        for (int s = 0; s < perSegment; ++s) {
            const double t = static_cast<double>(s) / perSegment, t2 = t * t, t3 = t2 * t;
            dense.push_back(0.5 * ((2.0 * p1) + (-p0 + p2) * t +
                                   (2.0 * p0 - 5.0 * p1 + 4.0 * p2 - p3) * t2 +
                                   (-p0 + 3.0 * p1 - 3.0 * p2 + p3) * t3));
        }
    }
    dense.push_back(control.back());
    std::vector<double> length(dense.size(), 0.0);
    for (size_t i = 1; i < dense.size(); ++i)
        length[i] = length[i - 1] + (dense[i] - dense[i - 1]).norm();
    const int pieces = std::max(1, static_cast<int>(std::ceil(length.back() / spacing)));
    std::vector<Eigen::Vector2d> out{dense.front()};
    size_t k = 1;
    for (int s = 1; s < pieces; ++s) {
        const double target = length.back() * s / pieces;
        while (length[k] < target) ++k;
        const double w = (target - length[k - 1]) / (length[k] - length[k - 1]);
        out.push_back((1.0 - w) * dense[k - 1] + w * dense[k]);
    }
    out.push_back(dense.back());
    return out;
}

std::vector<Eigen::Vector2d> straightLine(const Eigen::Vector2d& a, const Eigen::Vector2d& b,
                                          double spacing) {
    const int pieces = std::max(1, static_cast<int>(std::ceil((b - a).norm() / spacing)));
    std::vector<Eigen::Vector2d> out;
    for (int s = 0; s <= pieces; ++s)
        out.push_back(a + (b - a) * (static_cast<double>(s) / pieces));
    return out;
}

}  // namespace

std::vector<Eigen::Vector2d> bellProfile(const BellParameters& p) {
    if (!(p.lipDiameter > 0.0 && p.height > 0.0 && p.profileSpacing > 0.0 && p.ringSpacing > 0.0))
        throw BakeError("bell: diameter, height and spacings must be positive");
    // Control points scaled: r by D, heights so that the crown top lands at lipY + height.
    const double heightScale = p.height / kOuter[0][1];
    auto scaled = [&](const double(*points)[2], size_t count) {
        std::vector<Eigen::Vector2d> out;
        for (size_t i = 0; i < count; ++i)
            out.emplace_back(points[i][0] * p.lipDiameter, p.lipY + points[i][1] * heightScale);
        return out;
    };
    const auto outer = resampleCurve(scaled(kOuter, std::size(kOuter)), p.profileSpacing);
    const auto inner = resampleCurve(scaled(kInner, std::size(kInner)), p.profileSpacing);
    const auto lip = straightLine(outer.back(), inner.front(), p.profileSpacing);
    std::vector<Eigen::Vector2d> profile(outer.begin(), outer.end());
    profile.insert(profile.end(), lip.begin() + 1, lip.end() - 1);
    profile.insert(profile.end(), inner.begin(), inner.end());
    return profile;
}

SurfaceMesh makeBellSurface(const BellParameters& p) {
    const std::vector<Eigen::Vector2d> profile = bellProfile(p);
    const int count = static_cast<int>(profile.size());
    if (count < 4) throw BakeError("bell: the profile is too coarse");

    // Outward normals of the profile segments in the (r, y) plane. The polygon runs down the
    // outside and up the inside, so the outward side of the tangent (dr, dy) is (-dy, dr).
    std::vector<Eigen::Vector2d> segmentNormal(count - 1);
    for (int i = 0; i + 1 < count; ++i) {
        const Eigen::Vector2d t = profile[i + 1] - profile[i];
        segmentNormal[i] = Eigen::Vector2d(-t.y(), t.x()).normalized();
    }
    // Each profile point has a normal for the band below it (towards i - 1) and above it
    // (towards i + 1): the same averaged normal where the profile is smooth, the two segment
    // normals at a sharp corner (the lip's edges, where they differ by more than 30 degrees).
    const double creaseCos = std::cos(30.0 * kPi / 180.0);
    std::vector<Eigen::Vector2d> normalBefore(count), normalAfter(count);
    for (int i = 0; i < count; ++i) {
        const Eigen::Vector2d before = segmentNormal[std::max(i - 1, 0)];
        const Eigen::Vector2d after = segmentNormal[std::min(i, count - 2)];
        if (before.dot(after) >= creaseCos) {
            normalBefore[i] = normalAfter[i] = (before + after).normalized();
        } else {
            normalBefore[i] = before;
            normalAfter[i] = after;
        }
    }

    SurfaceMesh mesh;
    struct Ring {
        int firstVertex, vertexCount;
        int firstNormalBefore, firstNormalAfter;
    };
    std::vector<Ring> rings(count);
    for (int i = 0; i < count; ++i) {
        const double r = profile[i].x();
        const bool pole = r < 1e-12;
        Ring& ring = rings[i];
        ring.vertexCount =
            pole ? 1 : std::max(8, static_cast<int>(std::ceil(2.0 * kPi * r / p.ringSpacing)));
        ring.firstVertex = static_cast<int>(mesh.positions.size());
        for (int k = 0; k < ring.vertexCount; ++k) {
            const double phi = 2.0 * kPi * k / ring.vertexCount;
            mesh.positions.emplace_back(r * std::cos(phi), profile[i].y(), r * std::sin(phi));
        }
        auto addNormals = [&](const Eigen::Vector2d& n2) {
            const int first = static_cast<int>(mesh.normals.size());
            for (int k = 0; k < ring.vertexCount; ++k) {
                const double phi = 2.0 * kPi * k / ring.vertexCount;
                if (pole)
                    mesh.normals.emplace_back(0.0, n2.y() > 0.0 ? 1.0 : -1.0, 0.0);
                else
                    mesh.normals.emplace_back(n2.x() * std::cos(phi), n2.y(),
                                              n2.x() * std::sin(phi));
            }
            return first;
        };
        ring.firstNormalBefore = addNormals(normalBefore[i]);
        ring.firstNormalAfter =
            normalBefore[i] == normalAfter[i] ? ring.firstNormalBefore : addNormals(normalAfter[i]);
    }

    // Zip neighbouring rings A (profile point i) and B (i + 1) together: walk both rings in
    // increasing angle, always advancing the one whose next vertex comes first. Each step makes
    // one triangle of the quad (A_a, A_a+1, B_b+1, B_b), so all bands share one orientation.
    auto vertexOf = [&](const Ring& ring, int k) {
        return ring.firstVertex + k % ring.vertexCount;
    };
    for (int i = 0; i + 1 < count; ++i) {
        const Ring& A = rings[i];
        const Ring& B = rings[i + 1];
        auto normalA = [&](int k) { return A.firstNormalAfter + k % A.vertexCount; };
        auto normalB = [&](int k) { return B.firstNormalBefore + k % B.vertexCount; };
        const bool poleA = A.vertexCount == 1, poleB = B.vertexCount == 1;
        int a = 0, b = 0;
        const int stepsA = poleA ? 0 : A.vertexCount, stepsB = poleB ? 0 : B.vertexCount;
        while (a < stepsA || b < stepsB) {
            const double nextAngleA = static_cast<double>(a + 1) / A.vertexCount;
            const double nextAngleB = static_cast<double>(b + 1) / B.vertexCount;
            const bool advanceA = b >= stepsB || (a < stepsA && nextAngleA <= nextAngleB);
            if (advanceA) {
                mesh.triangles.push_back({vertexOf(A, a), vertexOf(A, a + 1), vertexOf(B, b)});
                mesh.normalIndices.push_back({normalA(a), normalA(a + 1), normalB(b)});
                ++a;
            } else {
                mesh.triangles.push_back({vertexOf(A, a), vertexOf(B, b + 1), vertexOf(B, b)});
                mesh.normalIndices.push_back({normalA(a), normalB(b + 1), normalB(b)});
                ++b;
            }
        }
    }
    if (enclosedVolume(mesh) < 0.0) flipOrientation(mesh);
    return mesh;
}
