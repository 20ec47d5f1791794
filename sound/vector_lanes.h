// Four doubles processed side by side, for the audio thread's hot loops (the resonator bank and the
// transfer evaluation): the vector type, the processor check that picks the AVX2 build of a loop,
// and sine and cosine of four arguments at once.
//
// The vector type is a GCC/Clang vector extension: one AVX register with AVX2, two SSE2
// registers otherwise. Loops that use it are compiled twice (baseline and AVX2) and the caller
// chooses the build with a flag (the audio block's from its context, sound/audio_block_context.h;
// processorHasAvx2() tells which build the processor can run); both builds give identical results,
// as neither contracts multiplications and additions.
#pragma once

#include <cstdint>

typedef double ModeLanes __attribute__((vector_size(32)));
typedef int64_t IndexLanes __attribute__((vector_size(32)));

// Whether the processor has AVX2, so that the AVX2 build of the lane loops may run on it. Asks the
// processor (an explicit check rather than an ifunc: ifunc resolvers run before the sanitizers'
// runtimes are ready); keeps nothing. Any thread; the audio thread takes the answer from its
// context instead of asking.
bool processorHasAvx2();

// sin(x) and cos(x) of each lane, to within about one unit in the last place for |x| <= 1e5:
// Cody-Waite reduction by pi/2 (the three-part constant of fdlibm, exact products for quadrant
// numbers below 2^20), then fdlibm's minimax polynomials on [-pi/4, pi/4] and the quadrant's
// swap and signs. Callers keep larger arguments away (their reduction would lose digits).
// Real-time: no allocation, no I/O, no lock; about thirty vector operations.
__attribute__((always_inline)) inline void sineCosineLanes(const ModeLanes& x, ModeLanes* sine,
                                                           ModeLanes* cosine) {
    const double twoOverPi = 6.36619772367581382433e-01;
    const double pio2_1 = 1.57079632673412561417e+00;   // first 33 bits of pi/2
    const double pio2_2 = 6.07710050630396597660e-11;   // next 33 bits
    const double pio2_2t = 2.02226624879595063154e-21;  // pi/2 - pio2_1 - pio2_2
    const double roundingShift = 6755399441055744.0;    // 1.5 * 2^52: adds and rounds to integer
    // x (2/pi) + 1.5 * 2^52 rounds to an integer q whose low bits are those of the double's bit
    // pattern (also for negative q), so the quadrant needs no conversion to integers.
    const ModeLanes shifted = x * twoOverPi + roundingShift;
    const ModeLanes q = shifted - roundingShift;
    const ModeLanes t = ((x - q * pio2_1) - q * pio2_2) - q * pio2_2t;
    const ModeLanes z = t * t;
    // sin t = t + t^3 (S1 + z (S2 + ... + z S6)), cos t = 1 - (z/2 - z^2 (C1 + ... + z C5 ...)).
    const ModeLanes sinPolynomial =
        8.33333333332248946124e-03 +
        z * (-1.98412698298579493134e-04 +
             z * (2.75573137070700676789e-06 +
                  z * (-2.50507602534068634195e-08 + z * 1.58969099521155010221e-10)));
    const ModeLanes sinT = t + (z * t) * (-1.66666666666666324348e-01 + z * sinPolynomial);
    const ModeLanes cosPolynomial =
        z * (4.16666666666666019037e-02 +
             z * (-1.38888888888741095749e-03 +
                  z * (2.48015872894767294178e-05 +
                       z * (-2.75573143513906633035e-07 +
                            z * (2.08757232129817482790e-09 + z * -1.13596475577881948265e-11)))));
    const ModeLanes cosT = 1.0 - (0.5 * z - z * cosPolynomial);
    // Quadrant n = q mod 4: sin x = (S, C, -S, -C)[n], cos x = (C, -S, -C, S)[n]. The swap is a
    // bit mask (-(n & 1): all ones or none) and the signs flip the sign bit; integer and bit
    // operations only.
    const IndexLanes n = (IndexLanes)shifted;  // a vector cast keeps the bits
    const IndexLanes swap = -(n & 1);
    const IndexLanes sineSign = (n & 2) << 62;
    const IndexLanes cosineSign = ((n + 1) & 2) << 62;
    const IndexLanes sinBits = (IndexLanes)sinT, cosBits = (IndexLanes)cosT;
    *sine = (ModeLanes)(((sinBits & ~swap) | (cosBits & swap)) ^ sineSign);
    *cosine = (ModeLanes)(((cosBits & ~swap) | (sinBits & swap)) ^ cosineSign);
}
