// Fits the stored source representation (multipole_basis.h) to a radiated pressure field sampled
// at points around the object: the second half of the baker's transfer stage, once per mode.
//
// Greedy selection over candidate positions: each step adds the candidate whose four basis fields
// reduce the least-squares residual most (orthogonal matching pursuit in blocks of four), until
// the tolerance or the cap; then sources that later picks made redundant are pruned while the
// fit stays within the tolerance, and the coefficients come from complex least squares.
#pragma once

#include <Eigen/Core>
#include <functional>
#include <vector>

#include "tools/bake/transfer/multipole/multipole_basis.h"

struct MultipoleFit {
    MultipoleSources sources;  // 11 x n
    double relativeError = 0;  // |p_fit - p| / |p| over the sample points
    bool reachedCap = false;   // stopped above the tolerance (at maxSources, or no candidate helps)
    // Stopped where the held-out error was least, with fewer sources than the greedy went on to
    // pick (fitMultipolesUntil with a held-out field): more sources fitted the samples better and
    // the field between them worse.
    bool stoppedAtHeldOut = false;
};

// The same field sampled farther out, kept out of the fit (both pointers set, or neither).
struct HeldOutField {
    const std::vector<Eigen::Vector3d>* points = nullptr;
    const Eigen::VectorXcd* pressure = nullptr;
};

// points: M sample positions (m), none at a candidate; pressure: M complex values (Pa);
// k: wave number (1/m) > 0; candidates: positions the sources may take (m), each used at most once;
// tolerance: target relative error; maxSources >= 1; blocksPerStep >= 1: the most sources one
// greedy step may add (each step reads every candidate's fields once; more per step is faster
// where thousands of samples meet thousands of candidates, and may pick a few more sources).
// A zero field gives no sources and error 0; a field with a non-finite sample (a failed solve)
// gives no sources, an infinite error and reachedCap, so that it is reported above the
// tolerance.
MultipoleFit fitMultipoles(const std::vector<Eigen::Vector3d>& points,
                           const Eigen::VectorXcd& pressure, double k,
                           const std::vector<Eigen::Vector3d>& candidates, double tolerance,
                           int maxSources, int blocksPerStep = 1);

// The same fit to each of `tolerances` in turn (tighter and tighter), the greedy selection going
// on from where the previous tolerance stopped: returns the first fit `accept` takes, or the
// last (`accept` sees every fit, the last too). A refit to a tighter target then costs only the
// sources it adds.
//
// With `heldOut`, the greedy selection also follows the error of its fit at the held-out points
// after every step (the span's directions are carried to those points with the same
// coefficients, so this costs a small share of a step). Where samples are too few for the field
// (k R of 60 and more with a few thousand samples), later sources fit the samples' aliases: the
// error on the samples keeps falling while the held-out error, having passed a least value,
// rises. Once it has risen above 1.25 times its least, with 1.25 times the sources it had there,
// the greedy stops; and if at its end the held-out error is above that least by the same factor,
// the fit keeps the sources picked up to the least (stoppedAtHeldOut, reachedCap) and is returned
// without further tolerances. Where the field is pinned down the held-out error falls with the
// samples' and nothing changes.
MultipoleFit fitMultipolesUntil(const std::vector<Eigen::Vector3d>& points,
                                const Eigen::VectorXcd& pressure, double k,
                                const std::vector<Eigen::Vector3d>& candidates,
                                const std::vector<double>& tolerances, int maxSources,
                                int blocksPerStep,
                                const std::function<bool(const MultipoleFit&)>& accept,
                                const HeldOutField& heldOut = HeldOutField());
