// The generated Faust modal bank (peer_modal_bank.dsp compiled with -double) wrapped in
// PeerFaustBank. This file is compiled twice: as itself, and included by
// peer_faust_bank_avx2.cpp with TONWELL_FAUST_AVX2 defined; each copy keeps the generated class
// in a namespace of its own.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

#define FAUSTFLOAT double
#include <faust/dsp/dsp.h>
#include <faust/gui/UI.h>
#include <faust/gui/meta.h>

#include "peer_bank_constants.h"
#include "peer_faust_bank.h"

#ifdef TONWELL_FAUST_AVX2
#define TONWELL_FAUST_NAMESPACE faust_avx2
#define TONWELL_FAUST_FACTORY makeFaustBankAvx2
#else
#define TONWELL_FAUST_NAMESPACE faust_baseline
#define TONWELL_FAUST_FACTORY makeFaustBankBaseline
#endif

namespace TONWELL_FAUST_NAMESPACE {
// Generated code: its instanceConstants ignores its sample-rate argument (the bank's constants
// come from peer_bank_constants.h).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "peer_modal_bank_faust.h"
#pragma GCC diagnostic pop

class Bank : public PeerFaustBank {
  public:
    Bank() { faust_.init(44100); }
    void compute(int frames, double* input, double* output) override {
        double* inputs[1] = {input};
        double* outputs[1] = {output};
        faust_.compute(frames, inputs, outputs);
    }

  private:
    FaustModalBank faust_;
};
}  // namespace TONWELL_FAUST_NAMESPACE

std::unique_ptr<PeerFaustBank> TONWELL_FAUST_FACTORY() {
    return std::unique_ptr<PeerFaustBank>(new TONWELL_FAUST_NAMESPACE::Bank());
}
