// The Faust modal bank compiled for AVX2 and FMA (see peer_faust_bank.cpp).
#define TONWELL_FAUST_AVX2
#include "peer_faust_bank.cpp"
