// The pressure of the wave solver (wave_solver.h) at points between cell centres: where a run
// samples the field of its modes (mode_conflation.h). Linear interpolation loses (k h)^2 / 8 of
// the amplitude midway between centres (5 % at ten cells per wavelength), so a point whose 4 x 4
// x 4 surrounding centres are all air is interpolated by the tensor product of cubic Lagrange
// polynomials (error about 3 (k h)^4 / 128 midway, 0.4 % at ten cells per wavelength); a point
// nearer the object falls back to the trilinear weights of its 8 surrounding centres, with the
// solid ones left out and the rest rescaled to sum to one.
#pragma once

#include <Eigen/Core>
#include <cstdint>
#include <vector>

#include "tools/bake/transfer/wave/wave_grid.h"

class PressureProbes {
  public:
    // points: in the grid's interior (m); solid: voxelize's cells. Throws BakeError when a point
    // lies outside the interior or none of its 8 surrounding centres is air.
    PressureProbes(const WaveGrid& grid, const std::vector<uint8_t>& solid,
                   const std::vector<Eigen::Vector3d>& points);

    // The pressure at every point from the solver's cell values (WaveGrid::index); `out` holds
    // one value per point.
    void sample(const float* pressure, double* out) const;

    int pointCount() const { return int(first_.size()) - 1; }
    // Points that fell back to trilinear interpolation.
    int linearPointCount() const { return linearPoints_; }

  private:
    std::vector<int> first_;  // point -> its stencil entries [first_[q], first_[q + 1])
    std::vector<int64_t> cells_;
    std::vector<double> weights_;
    int linearPoints_ = 0;
};
