// Tiers A and B of the transfer stage: for a group of modes at one frequency, the pressure they
// radiate with unit modal velocity from an exterior Neumann boundary element solve (bem_solve.h,
// dense or compressed), sampled around the object and fitted by a few point sources
// (transfer/multipole/field_fit.h).
#pragma once

#include <Eigen/Core>
#include <vector>

#include "tools/bake/transfer/bem/bem_solve.h"
#include "tools/bake/transfer/bem/bem_surface.h"
#include "tools/bake/transfer/multipole/field_fit.h"

// Samples the radiated field of every solved field of `solution` (on `surface`) at the fit and
// held-out surfaces and fits sources to each: the second half of computeModeTransfers, shared by
// the dense and the compressed solvers.
std::vector<ModeTransfer> fitRadiatedFields(const BemSurface& surface, const BemSolution& solution,
                                            const TransferSettings& settings,
                                            const BemOptions& bem);

// Transfer of one mode. normalVelocity: one value per element of `surface`, the outward normal
// surface velocity (m/s) when the mode moves with unit modal velocity (u_i . n, e.g. from
// elementNormalVelocity with a column of the mode-shape matrix); omega: the mode's angular
// frequency (rad/s) > 0. Pressures are in pascals, so |sum of sources| is the transfer.
ModeTransfer computeModeTransfer(const BemSurface& surface, const Eigen::VectorXd& normalVelocity,
                                 double omega, const TransferSettings& settings,
                                 const BemOptions& bem);

// The same for several modes at one angular frequency (one boundary element matrix for all):
// normalVelocity is elements x modes; one result per column.
std::vector<ModeTransfer> computeModeTransfers(const BemSurface& surface,
                                               const Eigen::MatrixXd& normalVelocity, double omega,
                                               const TransferSettings& settings,
                                               const BemOptions& bem);
// The same with the surface's near field computed beforehand (makeNearField).
std::vector<ModeTransfer> computeModeTransfers(const BemSurface& surface,
                                               const BemNearField& nearField,
                                               const Eigen::MatrixXd& normalVelocity, double omega,
                                               const TransferSettings& settings,
                                               const BemOptions& bem);
