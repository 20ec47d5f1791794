// The wave tier's driver (see wave_transfer.h).
#include "tools/bake/transfer/wave/wave_transfer.h"

#include <cassert>

WaveTransfer computeWaveTransfer(const SurfaceMesh& surface, const Eigen::MatrixXd& shapes,
                                 const Eigen::VectorXd& omegas,
                                 const std::vector<Eigen::Vector3d>& points,
                                 const WaveSettings& settings) {
    assert(shapes.rows() == 3 * Eigen::Index(surface.positions.size()));
    assert(shapes.cols() == omegas.size());
    const SampledRegion region = sampledRegion(surface, points);
    const std::vector<Chord> chords =
        planChords(frequenciesOf(std::vector<double>(omegas.data(), omegas.data() + omegas.size())),
                   region.boxMin, region.boxMax, region.objectSize, settings);

    WaveTransfer result;
    result.pressure = Eigen::MatrixXcd::Zero(Eigen::Index(points.size()), omegas.size());
    for (const Chord& chord : chords) {
        Eigen::MatrixXd chordShapes(shapes.rows(), Eigen::Index(chord.modes.size()));
        std::vector<double> chordOmegas;
        for (size_t j = 0; j < chord.modes.size(); ++j) {
            chordShapes.col(Eigen::Index(j)) = shapes.col(chord.modes[j]);
            chordOmegas.push_back(omegas[chord.modes[j]]);
        }
        ChordStatistics statistics;
        const Eigen::MatrixXcd pressure =
            runChord(surface, chordShapes, chordOmegas, points, settings, &statistics);
        for (size_t j = 0; j < chord.modes.size(); ++j)
            result.pressure.col(chord.modes[j]) = pressure.col(Eigen::Index(j));
        statistics.modes = chord.modes;
        result.chords.push_back(statistics);
    }
    return result;
}
