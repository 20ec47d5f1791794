// The audio block written as the plain loop over the bank: the transfer evaluated source by source
// as the plain sum (TransferModel::evaluateTransferLiteral), every active resonator behind its
// pointer, advanced with ModalResonator::advance sample by sample and mode by mode, and mixed with
// the gain ((N - i) T_prev + i T) / N. It is what the fast path of sound/audio_block.h must equal
// (within rounding of the transfer and the mix), and the baseline the benchmarks measure that fast
// path against. Not part of the program: the benchmarks and the unit tests compile it from here.
//
// Same contract, state and side effects as synthesizeMonoBlock / synthesizeStereoBlock, except
// that it leaves out the solo and mute mask and the level publication of the context.
// Real-time: no allocation, no I/O; takes forceMutex inside the caller's synthesisMutex.
#pragma once

struct AudioBlockContext;

// The mono block, literally.
void literalMonoBlock(AudioBlockContext& context, float* out, unsigned long frameCount);
// The stereo block, literally.
void literalStereoBlock(AudioBlockContext& context, float* out, unsigned long frameCount);
