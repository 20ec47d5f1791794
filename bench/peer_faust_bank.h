// The Faust modal bank of the peer benchmark behind a small interface, so that the generated
// class can be compiled twice in separate translation units: with the project's flags (the
// x86-64 baseline, like Debian's STK) and with -O3 -mavx2 -mfma (what Tonwell's block code uses
// through its run-time dispatch), without the two copies' inline code meeting at link time.
#pragma once

#include <memory>

class PeerFaustBank {
  public:
    virtual ~PeerFaustBank() = default;
    // Renders `frames` samples of the instance's 100 modes driven by `input` into `output`.
    virtual void compute(int frames, double* input, double* output) = 0;
};

// A new instance initialised at 44100 Hz from the constants of bench/peer_bank_constants.h
// as they are now.
std::unique_ptr<PeerFaustBank> makeFaustBankBaseline();
// The same, compiled for AVX2 and FMA; call only where the processor has both.
std::unique_ptr<PeerFaustBank> makeFaustBankAvx2();
