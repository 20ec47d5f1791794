// Writes a scene's acoustic transfer in the files the program loads at start-up: the transfer
// object list (one file-name prefix per mode, in mode order) and, per mode, the ".sources"
// (11 x n) and ".k" (1 x 1) dense matrix files. Run by the baker after the transfer stage.
//
// Dense matrix file: int32 rows, int32 columns, then rows * columns little-endian doubles in
// column-major order (so a ".sources" file is n consecutive 11-double source records).
#pragma once

#include <string>
#include <vector>

#include "tools/bake/transfer/multipole/multipole_basis.h"

// The list file's name inside the scene folder: "<scene>-ZEPObjectsList-NN.txt" with NN the
// fit tolerance in percent, two digits ("bell-ZEPObjectsList-05.txt").
std::string transferListFileName(const std::string& scene, int tolerancePercent);

// Writes `sources` (11 x n) to `path` as a dense matrix file. Throws std::runtime_error naming
// the file when it cannot be written completely.
void writeSourcesFile(const std::string& path, const MultipoleSources& sources);

// Writes the 1 x 1 dense matrix file holding the wave number k (1/m). Throws as above.
void writeWaveNumberFile(const std::string& path, double waveNumber);

// Writes the list: each prefix on its own line, every line (the last included) ended by a line
// feed, nothing else. Throws std::runtime_error naming the file when a prefix is empty or holds a
// line break, or the file cannot be written.
void writeTransferList(const std::string& path, const std::vector<std::string>& prefixes);

struct TransferFileMode {
    MultipoleSources sources;
    double waveNumber = 0;
};

// Writes a whole scene's transfer under the folder the program runs in (`demoRoot`):
//   <demoRoot>/<scene>/<scene>-ZEPObjectsList-NN.txt naming the prefixes
//   "<scene>/<scene>-transfer-000", "...-001", ... (relative to the program's working directory),
//   and <demoRoot>/<scene>/<scene>-transfer-MMM.sources and .k for each mode, in mode order.
// The scene folder must exist. Returns the list file's path. Throws as above.
std::string writeSceneTransfer(const std::string& demoRoot, const std::string& scene,
                               int tolerancePercent, const std::vector<TransferFileMode>& modes);
