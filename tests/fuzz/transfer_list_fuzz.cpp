// libFuzzer target for the transfer model's loader: the transfer object list and the ".sources"
// and ".k" matrix files it names. An input is the list, then up to eight pairs of matrix files,
// each file after the separator "#FILE#": pair i is "m<i>.sources" and "m<i>.k" in the working
// directory, where the list's prefixes are resolved (a list naming "m0" reads the first pair).
// The loader is built with TONWELL_READERS_THROW: bad input ends in an InputExit exception with
// code 1 instead of exit(1). Beyond what the sanitizers find, a model the loader accepts must be
// one the audio thread can evaluate: every entry with an 11-row block, and a transfer that is
// finite and not negative at every listener, also on a source and on a source's axis.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/input_exit.h"
#include "sound/transfer_model.h"
#include "sound/vector_lanes.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr int kPairs = 8;

void checkTransfer(const TransferModel& model, const double position[3]) {
    std::vector<double> vectorised(model.frequencyCount + 1, -1.0);
    std::vector<double> literal(model.frequencyCount + 1, -1.0);
    model.evaluateTransfer(position, vectorised.data(), -1, processorHasAvx2());
    model.evaluateTransferLiteral(position, literal.data(), -1);
    for (int i = 0; i < model.frequencyCount; ++i) {
        fuzz::require(std::isfinite(vectorised[i]) && vectorised[i] >= 0.0,
                      "the transfer is finite and not negative");
        fuzz::require(std::isfinite(literal[i]) && literal[i] >= 0.0,
                      "the literal transfer is finite and not negative");
    }
    fuzz::require(vectorised[model.frequencyCount] == -1.0, "no value past the last entry");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::InScratchDirectory inScratch;
    const std::vector<std::string> parts = fuzz::splitFiles(data, size);
    fuzz::writeFile("list.txt", parts[0]);
    for (int i = 0; i < kPairs; ++i) {
        for (int k = 0; k < 2; ++k) {
            const std::string name = "m" + std::to_string(i) + (k == 0 ? ".sources" : ".k");
            const size_t part = 1 + 2 * i + k;
            if (part < parts.size())
                fuzz::writeFile(name, parts[part]);
            else
                unlink(name.c_str());
        }
    }

    try {
        TransferModel model = loadTransferModel("list.txt");
        fuzz::require(model.frequencyCount == static_cast<int>(model.sourceBlocks.size()) &&
                          model.sourceCounts.size() == model.sourceBlocks.size() &&
                          model.waveNumbers.size() == model.sourceBlocks.size(),
                      "one count, block and wave number per entry");
        for (int count : model.sourceCounts) fuzz::require(count >= 0, "source counts >= 0");
        // A plain listener, the first source's own position and a point on its vertical axis.
        const double listener[3] = {0.3, -0.2, 1.7};
        checkTransfer(model, listener);
        for (int i = 0; i < model.frequencyCount; ++i) {
            if (model.sourceCounts[i] == 0) continue;
            const double* source = model.sourceBlocks[i];
            checkTransfer(model, source);
            const double onAxis[3] = {source[0], source[1], source[2] + 0.5};
            checkTransfer(model, onAxis);
            break;
        }
        for (double* block : model.sourceBlocks) free(block);
    } catch (const InputExit& exit) {
        // Bad input, reported with its message: the program would have exited with code 1.
        if (exit.code != 1) abort();
    }
    return 0;
}
