// Interpolated pressure samples (see pressure_probes.h).
#include "tools/bake/transfer/wave/pressure_probes.h"

#include <cmath>
#include <sstream>

#include "tools/bake/common/bake_error.h"

namespace {

// Cubic Lagrange weights of the nodes -1, 0, 1, 2 at s in [0, 1).
void cubicWeights(double s, double w[4]) {
    w[0] = -s * (s - 1) * (s - 2) / 6;
    w[1] = (s + 1) * (s - 1) * (s - 2) / 2;
    w[2] = -(s + 1) * s * (s - 2) / 2;
    w[3] = (s + 1) * s * (s - 1) / 6;
}

}  // namespace

PressureProbes::PressureProbes(const WaveGrid& grid, const std::vector<uint8_t>& solid,
                               const std::vector<Eigen::Vector3d>& points) {
    first_.push_back(0);
    const int lo = grid.interiorBegin();
    for (size_t q = 0; q < points.size(); ++q) {
        // Continuous cell index: centre i at g = i.
        const Eigen::Vector3d g =
            (points[q] - grid.origin) / grid.h - Eigen::Vector3d::Constant(0.5);
        int base[3];
        double s[3];
        bool inside = true;
        for (int axis = 0; axis < 3; ++axis) {
            base[axis] = int(std::floor(g[axis]));
            s[axis] = g[axis] - base[axis];
            inside = inside && base[axis] >= lo && base[axis] + 1 < grid.interiorEnd(axis);
        }
        if (!inside) {
            std::ostringstream message;
            message << "wave tier: sample point (" << points[q].transpose()
                    << ") lies outside the grid's interior";
            throw BakeError(message.str());
        }
        // Cubic when the 4 x 4 x 4 centres around it are all air (and inside the interior).
        bool cubic = true;
        for (int axis = 0; axis < 3; ++axis)
            cubic = cubic && base[axis] - 1 >= lo && base[axis] + 2 < grid.interiorEnd(axis);
        for (int c = 0; cubic && c < 64; ++c)
            cubic = !solid[size_t(
                grid.index(base[0] - 1 + c % 4, base[1] - 1 + (c / 4) % 4, base[2] - 1 + c / 16))];
        if (cubic) {
            double w[3][4];
            for (int axis = 0; axis < 3; ++axis) cubicWeights(s[axis], w[axis]);
            for (int c = 0; c < 64; ++c) {
                const int a = c % 4, b = (c / 4) % 4, d = c / 16;
                cells_.push_back(grid.index(base[0] - 1 + a, base[1] - 1 + b, base[2] - 1 + d));
                weights_.push_back(w[0][a] * w[1][b] * w[2][d]);
            }
        } else {
            ++linearPoints_;
            double total = 0;
            const size_t start = weights_.size();
            for (int c = 0; c < 8; ++c) {
                const int a = c & 1, b = (c >> 1) & 1, d = c >> 2;
                const int64_t cell = grid.index(base[0] + a, base[1] + b, base[2] + d);
                if (solid[size_t(cell)]) continue;
                const double weight =
                    (a ? s[0] : 1 - s[0]) * (b ? s[1] : 1 - s[1]) * (d ? s[2] : 1 - s[2]);
                cells_.push_back(cell);
                weights_.push_back(weight);
                total += weight;
            }
            if (total <= 1e-12) {
                std::ostringstream message;
                message << "wave tier: sample point (" << points[q].transpose()
                        << ") lies inside the voxelised object";
                throw BakeError(message.str());
            }
            for (size_t e = start; e < weights_.size(); ++e) weights_[e] /= total;
        }
        first_.push_back(int(cells_.size()));
    }
}

void PressureProbes::sample(const float* pressure, double* out) const {
    for (int q = 0; q + 1 < int(first_.size()); ++q) {
        double value = 0;
        for (int e = first_[size_t(q)]; e < first_[size_t(q) + 1]; ++e)
            value += weights_[size_t(e)] * pressure[size_t(cells_[size_t(e)])];
        out[q] = value;
    }
}
