// Burton-Miller boundary elements with hierarchical matrices (see bem_hmatrix.h): hmat-oss builds
// the cluster tree of the element centroids and the block structure, asks this file for the
// entries of whole near-field blocks and of single rows and columns of the far-field blocks
// (ACA+), and multiplies; the entries, the preconditioner and GMRES are the dense solver's.
#include "tools/bake/transfer/bem/bem_hmatrix.h"

#include <hmat/hmat.h>

#include <chrono>
#include <complex>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/bake/common/stopwatch.h"
#include "tools/bake/transfer/bem/bem_gmres.h"
#include "tools/bake/transfer/bem/bem_matrix_entries.h"

namespace {

using Complex = std::complex<double>;

// hmat-oss's complex double interface. The library's state is process-wide: it is created by
// the first call in a process (or inherited by a forked child from a parent that made it) and
// kept until the process exits.
hmat_interface_t& library() {
    static hmat_interface_t hmat;
    static bool initialised = false;
    if (!initialised) {
        hmat_init_default_interface(&hmat, HMAT_DOUBLE_COMPLEX);
        if (hmat.init() != 0) throw std::runtime_error("hmat-oss: the library failed to start");
        initialised = true;
    }
    return hmat;
}

// The library's settings are process-wide too, so every call sets the one it changes: every
// admissible block is compressed by ACA+ (by default blocks under 100 rows and columns are
// computed in full and compressed by SVD; with element integrals this costly, that doubled the
// assembly time for no smaller storage).
void configureLibrary() {
    library();
    hmat_settings_t settings;
    hmat_get_parameters(&settings);
    settings.compressionMinLeafSize = 0;
    if (hmat_set_parameters(&settings) != 0)
        throw std::runtime_error("hmat-oss: the library refused its settings");
}

struct ClusterTreeDeleter {
    void operator()(hmat_cluster_tree_t* tree) const { hmat_delete_cluster_tree(tree); }
};
struct HMatrixDeleter {
    void operator()(hmat_matrix_t* matrix) const { library().destroy(matrix); }
};
using ClusterTreePtr = std::unique_ptr<hmat_cluster_tree_t, ClusterTreeDeleter>;
using HMatrixPtr = std::unique_ptr<hmat_matrix_t, HMatrixDeleter>;

// What the assembly callbacks need: which of the two matrices, and its physics.
struct AssemblyContext {
    const BemMatrixEntries* entries;
    Complex alpha;
    bool rightHandSide;  // B = -S + alpha (1/2 I + D') instead of A = 1/2 I - D + alpha H
};

// One block of the matrix: its rows and columns as element indices.
struct BlockData {
    const AssemblyContext* context;
    const int* rowElements;  // rowElements[r]: element of the block's row r
    const int* colElements;
};

void releaseBlock(void* data) { delete static_cast<BlockData*>(data); }

void prepareBlock(int rowStart, int /*rowCount*/, int colStart, int /*colCount*/,
                  int* rowHmatToClient, int* /*rowClientToHmat*/, int* colHmatToClient,
                  int* /*colClientToHmat*/, void* context, hmat_block_info_t* info) {
    info->user_data = new BlockData{static_cast<const AssemblyContext*>(context),
                                    rowHmatToClient + rowStart, colHmatToClient + colStart};
    info->release_user_data = releaseBlock;
}

// Fills `values` (column-major, rowCount x colCount, no padding) with the entries of the
// sub-block starting at (rowBegin, colBegin) of the prepared block: the whole block, one row or
// one column.
void computeBlock(void* data, int rowBegin, int rowCount, int colBegin, int colCount,
                  void* values) {
    const BlockData& block = *static_cast<const BlockData*>(data);
    const AssemblyContext& c = *block.context;
    Complex* out = static_cast<Complex*>(values);
    for (int col = 0; col < colCount; ++col) {
        const int j = block.colElements[colBegin + col];
        for (int row = 0; row < rowCount; ++row) {
            const int i = block.rowElements[rowBegin + row];
            const BurtonMillerEntry entry = c.entries->burtonMiller(i, j, c.alpha);
            *out++ = c.rightHandSide ? entry.rightHandSide : entry.system;
        }
    }
}

// Compresses the matrix described by `context` on the block structure of `tree` x `tree`.
HMatrixPtr assemble(const hmat_cluster_tree_t* tree, AssemblyContext& context,
                    const HMatrixOptions& hOptions) {
    hmat_interface_t& hmat = library();
    hmat_admissibility_param_t parameters;
    hmat_init_admissibility_param(&parameters);
    parameters.eta = hOptions.admissibility;
    hmat_admissibility_t* admissibility = hmat_create_admissibility(&parameters);
    HMatrixPtr matrix(hmat.create_empty_hmatrix_admissibility(tree, tree, 0, admissibility));
    hmat_delete_admissibility(admissibility);
    if (!matrix) throw std::runtime_error("hmat-oss: could not build the block structure");
    hmat.set_low_rank_epsilon(matrix.get(), hOptions.compressionTolerance);

    hmat_assemble_context_t assembly;
    hmat_assemble_context_init(&assembly);
    assembly.compression = hmat_create_compression_aca_plus(hOptions.compressionTolerance);
    assembly.user_context = &context;
    assembly.prepare = prepareBlock;
    assembly.block_compute = computeBlock;
    assembly.lower_symmetric = 0;
    assembly.progress = nullptr;  // no progress bar on standard output
    const int status = hmat.assemble_generic(matrix.get(), &assembly);
    hmat_delete_compression(assembly.compression);
    if (status != 0)
        throw std::runtime_error("hmat-oss: assembly failed with status " + std::to_string(status));
    return matrix;
}

// y = M x for columns x of `x`, both in the elements' order; `order[h]` is the element at
// position h of the library's numbering.
void multiply(hmat_matrix_t* matrix, const int* order, const Eigen::MatrixXcd& x,
              Eigen::MatrixXcd& y) {
    const Eigen::Index n = x.rows();
    Eigen::MatrixXcd xHmat(n, x.cols()), yHmat(n, x.cols());
    for (Eigen::Index h = 0; h < n; ++h) xHmat.row(h) = x.row(order[h]);
    const Complex one(1), zero(0);
    const int status = library().gemm_dense('N', 'N', 'L', &one, matrix, xHmat.data(), &zero,
                                            yHmat.data(), static_cast<int>(x.cols()));
    if (status != 0)
        throw std::runtime_error("hmat-oss: product failed with status " + std::to_string(status));
    y.resize(n, x.cols());
    for (Eigen::Index h = 0; h < n; ++h) y.row(order[h]) = yHmat.row(h);
}

}  // namespace

BemSolution solveExteriorNeumannHMatrix(const BemSurface& surface, double omega,
                                        const Eigen::MatrixXd& normalVelocity,
                                        const BemOptions& options, const HMatrixOptions& hOptions,
                                        HMatrixStatistics* statistics) {
    BemOptions oneThread = options;
    oneThread.threadCount = 1;
    const BemNearField nearField = makeNearField(surface, options.nearFieldDepth, 1);
    return solveExteriorNeumannHMatrix(surface, nearField, omega, normalVelocity, oneThread,
                                       hOptions, statistics);
}

BemSolution solveExteriorNeumannHMatrix(const BemSurface& surface, const BemNearField& nearField,
                                        double omega, const Eigen::MatrixXd& normalVelocity,
                                        const BemOptions& options, const HMatrixOptions& hOptions,
                                        HMatrixStatistics* statistics) {
    const int n = static_cast<int>(surface.elements.size());
    if (!(omega > 0)) throw std::invalid_argument("angular frequency must be positive");
    if (n == 0) throw std::invalid_argument("the surface has no elements");
    if (normalVelocity.rows() != n)
        throw std::invalid_argument("normal velocity rows " +
                                    std::to_string(normalVelocity.rows()) + " != elements " +
                                    std::to_string(n));
    if (!(hOptions.compressionTolerance > 0 && hOptions.compressionTolerance < 1))
        throw std::invalid_argument("compression tolerance " +
                                    std::to_string(hOptions.compressionTolerance) +
                                    " is not in (0, 1)");
    if (!(hOptions.admissibility > 0) || hOptions.leafSize < 1)
        throw std::invalid_argument("admissibility must be positive and leaf size at least 1");
    const int fields = static_cast<int>(normalVelocity.cols());
    BemSolution solution = startBemSolution(omega, normalVelocity);
    const double k = solution.waveNumber;
    const Eigen::MatrixXcd& q = solution.normalGradient;
    const BemMatrixEntries entries(surface, nearField, k);
    AssemblyContext context{&entries, burtonMillerCoupling(surface, k, options), true};

    configureLibrary();
    const auto assemblyStart = std::chrono::steady_clock::now();
    std::vector<double> centroids(3 * static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        for (int axis = 0; axis < 3; ++axis)
            centroids[3 * i + axis] = surface.elements[i].centroid[axis];
    hmat_clustering_algorithm_t* median = hmat_create_clustering_median();
    hmat_clustering_algorithm_t* clustering =
        hmat_create_clustering_max_dof(median, hOptions.leafSize);
    ClusterTreePtr tree(hmat_create_cluster_tree(centroids.data(), 3, n, clustering));
    hmat_delete_clustering(clustering);
    hmat_delete_clustering(median);
    if (!tree) throw std::runtime_error("hmat-oss: could not cluster the elements");
    const int* order = hmat_cluster_get_indices(tree.get());

    // b = B q = (-S + alpha (1/2 I + D')) q with B compressed, then freed: only one matrix is
    // held at a time.
    Eigen::MatrixXcd b(n, fields);
    if (fields > 0) multiply(assemble(tree.get(), context, hOptions).get(), order, q, b);
    context.rightHandSide = false;
    const HMatrixPtr a = assemble(tree.get(), context, hOptions);
    solution.assemblySeconds = secondsSince(assemblyStart);

    const auto solveStart = std::chrono::steady_clock::now();
    Eigen::VectorXcd diagonal(n);
    for (int i = 0; i < n; ++i) diagonal[i] = entries.burtonMiller(i, i, context.alpha).system;
    int products = 0;
    double productSeconds = 0;
    Eigen::MatrixXcd product;
    auto multiplyA = [&](const Eigen::VectorXcd& v, Eigen::VectorXcd& out) {
        const auto start = std::chrono::steady_clock::now();
        multiply(a.get(), order, v, product);
        out = product.col(0);
        productSeconds += secondsSince(start);
        ++products;
    };
    solution.pressure.resize(n, fields);
    for (int f = 0; f < fields; ++f) {
        Eigen::VectorXcd x = Eigen::VectorXcd::Zero(n);
        const GmresResult r = solveGmres(multiplyA, diagonal, b.col(f), x, options.gmresTolerance,
                                         options.maxIterations);
        solution.pressure.col(f) = x;
        solution.iterations.push_back(r.iterations);
        solution.converged = solution.converged && r.converged;
    }
    solution.solveSeconds = secondsSince(solveStart);

    if (statistics) {
        hmat_info_t info;
        library().get_info(a.get(), &info);
        statistics->storedBytes = sizeof(Complex) * static_cast<double>(info.compressed_size);
        statistics->denseBytes = sizeof(Complex) * static_cast<double>(n) * n;
        statistics->assemblySeconds = solution.assemblySeconds;
        statistics->secondsPerProduct = products > 0 ? productSeconds / products : 0;
    }
    return solution;
}
