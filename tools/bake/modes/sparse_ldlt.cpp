// MUMPS behind SparseLdlt (see sparse_ldlt.h).
#include "tools/bake/modes/sparse_ldlt.h"

#include <dmumps_c.h>

#include <string>
#include <vector>

#include "tools/bake/common/bake_error.h"

namespace {

// MUMPS's job codes and its marker for "the whole (here: the only) process".
constexpr int kJobInitialise = -1, kJobEnd = -2, kJobAnalyseAndFactorise = 4, kJobSolve = 3;
constexpr int kUseCommWorld = -987654;

}  // namespace

struct SparseLdlt::State {
    DMUMPS_STRUC_C id{};
    std::vector<MUMPS_INT> rows, columns;  // 1-based coordinates of the lower triangle
    std::vector<double> values;
    int n = 0;
};

SparseLdlt::SparseLdlt(const Eigen::SparseMatrix<double>& a) : state_(new State) {
    State& s = *state_;
    s.n = static_cast<int>(a.rows());
    for (int column = 0; column < a.outerSize(); ++column)
        for (Eigen::SparseMatrix<double>::InnerIterator it(a, column); it; ++it)
            if (it.row() >= it.col()) {
                s.rows.push_back(static_cast<MUMPS_INT>(it.row() + 1));
                s.columns.push_back(static_cast<MUMPS_INT>(it.col() + 1));
                s.values.push_back(it.value());
            }
    s.id.comm_fortran = kUseCommWorld;
    s.id.par = 1;  // the host works too
    s.id.sym = 2;  // general symmetric: L D L^T with pivoting
    s.id.job = kJobInitialise;
    dmumps_c(&s.id);
    // Silence MUMPS (error, diagnostic and global output streams; no statistics).
    s.id.icntl[0] = -1;
    s.id.icntl[1] = -1;
    s.id.icntl[2] = -1;
    s.id.icntl[3] = 0;
    // ICNTL(7) = 0: the approximate minimum degree ordering. MUMPS would choose SCOTCH here,
    // whose ordering changes from run to run (its random generator and its threads), and with
    // it the rounding of every solve: two bakes of a recipe then differed in the last digits of
    // the frequencies and by 1e-9 in the shapes of close pairs. AMD is deterministic, and as
    // fast here (the full-band bell's eigen solve: 53.7 s with AMD, 55.0 s with SCOTCH).
    s.id.icntl[6] = 0;
    s.id.n = s.n;
    s.id.nnz = static_cast<MUMPS_INT8>(s.values.size());
    s.id.irn = s.rows.data();
    s.id.jcn = s.columns.data();
    s.id.a = s.values.data();
    // The working space estimate can fall short with pivoting: grow it and try again.
    for (int attempt = 0; attempt < 4; ++attempt) {
        s.id.icntl[13] = 30 + 50 * attempt;  // ICNTL(14): per cent of extra working space
        s.id.job = kJobAnalyseAndFactorise;
        dmumps_c(&s.id);
        if (s.id.infog[0] != -9 && s.id.infog[0] != -8) break;
    }
    if (s.id.infog[0] < 0) {
        const std::string message = "the sparse LDL^T factorisation failed (MUMPS error " +
                                    std::to_string(s.id.infog[0]) + ", " +
                                    std::to_string(s.id.infog[1]) + ")";
        s.id.job = kJobEnd;
        dmumps_c(&s.id);
        throw BakeError(message);
    }
}

SparseLdlt::~SparseLdlt() {
    state_->id.job = kJobEnd;
    dmumps_c(&state_->id);
}

int SparseLdlt::size() const { return state_->n; }

int SparseLdlt::negativeEigenvalueCount() const { return state_->id.infog[11]; }  // INFOG(12)

void SparseLdlt::solveInPlace(double* x, int columns) {
    State& s = *state_;
    s.id.rhs = x;
    s.id.nrhs = columns;
    s.id.lrhs = s.n;
    s.id.job = kJobSolve;
    dmumps_c(&s.id);
    if (s.id.infog[0] < 0)
        throw BakeError("the sparse LDL^T solve failed (MUMPS error " +
                        std::to_string(s.id.infog[0]) + ")");
}
