// The constants the Faust modal bank (bench/peer_modal_bank.dsp) reads when an instance is
// initialised: which 100 modes of how large a bank it plays, the Rayleigh damping, and an
// optional single mode to play alone. Set by bench/peer_bench.cpp before each init().
#pragma once

extern int peerBankFirst;                // first mode of the instance
extern int peerBankTotal;                // modes in the whole bank
extern int peerBankSolo;                 // -1: all modes; otherwise the one mode that sounds
extern double peerBankMassDamping;       // Rayleigh alpha, 1/s
extern double peerBankStiffnessDamping;  // Rayleigh beta, s
