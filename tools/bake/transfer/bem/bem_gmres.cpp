// Restarted GMRES with Givens rotations (Saad, Iterative Methods for Sparse Linear Systems, 6.5).
#include "tools/bake/transfer/bem/bem_gmres.h"

#include <cmath>
#include <complex>
#include <vector>

GmresResult solveGmres(
    const std::function<void(const Eigen::VectorXcd&, Eigen::VectorXcd&)>& multiply,
    const Eigen::VectorXcd& diagonal, const Eigen::VectorXcd& b, Eigen::VectorXcd& x,
    double tolerance, int maxIterations, int restart) {
    using Complex = std::complex<double>;
    GmresResult result;
    const Eigen::Index n = b.size();
    const double bNorm = b.norm();
    if (bNorm == 0) {
        x.setZero();
        result.converged = true;
        return result;
    }
    const Eigen::VectorXcd inverseDiagonal = diagonal.cwiseInverse();
    Eigen::VectorXcd r(n), w(n);
    multiply(x, w);
    r = b - w;
    double rNorm = r.norm();
    while (true) {
        result.relativeResidual = rNorm / bNorm;
        if (result.relativeResidual <= tolerance) {
            result.converged = true;
            return result;
        }
        if (result.iterations >= maxIterations) return result;
        const int m = restart;
        std::vector<Eigen::VectorXcd> basis;
        basis.push_back(r / rNorm);
        Eigen::MatrixXcd hessenberg = Eigen::MatrixXcd::Zero(m + 1, m);
        std::vector<double> cosines(m);
        std::vector<Complex> sines(m);
        Eigen::VectorXcd g = Eigen::VectorXcd::Zero(m + 1);
        g[0] = rNorm;
        int j = 0;
        for (; j < m && result.iterations < maxIterations; ++j) {
            multiply(inverseDiagonal.cwiseProduct(basis[j]), w);
            ++result.iterations;
            // Modified Gram-Schmidt, twice for safety in complex arithmetic.
            for (int pass = 0; pass < 2; ++pass)
                for (int i = 0; i <= j; ++i) {
                    const Complex h = basis[i].dot(w);  // conj(v_i) . w
                    hessenberg(i, j) += h;
                    w -= h * basis[i];
                }
            const double wNorm = w.norm();
            hessenberg(j + 1, j) = wNorm;
            for (int i = 0; i < j; ++i) {
                const Complex a = hessenberg(i, j), c = hessenberg(i + 1, j);
                hessenberg(i, j) = cosines[i] * a + sines[i] * c;
                hessenberg(i + 1, j) = -std::conj(sines[i]) * a + cosines[i] * c;
            }
            // Rotation that zeroes the real sub-diagonal entry wNorm below a.
            const Complex a = hessenberg(j, j);
            const double t = std::sqrt(std::norm(a) + wNorm * wNorm);
            if (std::abs(a) == 0) {
                cosines[j] = 0;
                sines[j] = 1;
                hessenberg(j, j) = wNorm;
            } else {
                const Complex phase = a / std::abs(a);
                cosines[j] = std::abs(a) / t;
                sines[j] = phase * wNorm / t;
                hessenberg(j, j) = phase * t;
            }
            hessenberg(j + 1, j) = 0;
            g[j + 1] = -std::conj(sines[j]) * g[j];
            g[j] = cosines[j] * g[j];
            if (wNorm == 0 || std::abs(g[j + 1]) <= tolerance * bNorm) {
                ++j;
                break;
            }
            basis.push_back(w / wNorm);
        }
        const Eigen::VectorXcd y =
            hessenberg.topLeftCorner(j, j).triangularView<Eigen::Upper>().solve(g.head(j));
        Eigen::VectorXcd update = Eigen::VectorXcd::Zero(n);
        for (int i = 0; i < j; ++i) update += y[i] * basis[i];
        x += inverseDiagonal.cwiseProduct(update);
        multiply(x, w);
        r = b - w;
        rNorm = r.norm();
    }
}
