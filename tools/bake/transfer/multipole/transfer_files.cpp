// Transfer list, ".sources" and ".k" writers (see transfer_files.h).
#include "tools/bake/transfer/multipole/transfer_files.h"

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "geometry/dense_matrix.h"
#include "tools/bake/common/c_file.h"

namespace {

// Dense matrix file of rows x columns column-major doubles, written by the program's own writer.
void writeDenseMatrixFile(const std::string& path, int rows, int columns, const double* elements) {
    const int status = saveDenseMatrix(path.c_str(), rows, columns, elements);
    if (status == 1) throw std::runtime_error(path + ": cannot open for writing");
    if (status != 0) throw std::runtime_error(path + ": write failed");
}

}  // namespace

std::string transferListFileName(const std::string& scene, int tolerancePercent) {
    char number[16];
    std::snprintf(number, sizeof number, "%02d", tolerancePercent);
    return scene + "-ZEPObjectsList-" + number + ".txt";
}

void writeSourcesFile(const std::string& path, const MultipoleSources& sources) {
    writeDenseMatrixFile(path, 11, static_cast<int>(sources.cols()), sources.data());
}

void writeWaveNumberFile(const std::string& path, double waveNumber) {
    writeDenseMatrixFile(path, 1, 1, &waveNumber);
}

void writeTransferList(const std::string& path, const std::vector<std::string>& prefixes) {
    std::string text;
    for (size_t i = 0; i < prefixes.size(); ++i) {
        const std::string& p = prefixes[i];
        if (p.empty() || p.find_first_of("\r\n") != std::string::npos)
            throw std::runtime_error(path + ": prefix " + std::to_string(i) +
                                     " is empty or holds a line break");
        text += p + "\n";
    }
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) throw std::runtime_error(path + ": cannot open for writing");
    bool ok = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
    ok = (std::fclose(file.release()) == 0) && ok;
    if (!ok) throw std::runtime_error(path + ": write failed");
}

std::string writeSceneTransfer(const std::string& demoRoot, const std::string& scene,
                               int tolerancePercent, const std::vector<TransferFileMode>& modes) {
    const std::string folder = demoRoot + "/" + scene;
    std::vector<std::string> prefixes;
    for (size_t i = 0; i < modes.size(); ++i) {
        char stem[64];
        std::snprintf(stem, sizeof stem, "-transfer-%03zu", i);
        const std::string prefix = scene + "/" + scene + stem;
        writeSourcesFile(demoRoot + "/" + prefix + ".sources", modes[i].sources);
        writeWaveNumberFile(demoRoot + "/" + prefix + ".k", modes[i].waveNumber);
        prefixes.push_back(prefix);
    }
    const std::string listPath = folder + "/" + transferListFileName(scene, tolerancePercent);
    writeTransferList(listPath, prefixes);
    return listPath;
}
