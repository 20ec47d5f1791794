// The roughness at which a moving contact sounds as loud as a strike on the same object. A fixed
// roughness cannot: a scrape is a steady force whose band (its profile read at the contact's
// speed) falls among the object's modes differently from object to object, and a lightly damped
// mode builds up under a steady force in proportion to its decay time, while a strike's level
// does not depend on it. So each object gets its own default, computed when it is loaded, from
// its resonators, its mode shapes and its transfer.
//
// The two levels, mode by mode (mode j: step factor E_j, input factor G_j of the resonator, its
// mixing gain g_j, and w_j = |G_j|^2 g_j^2 <|u_j|^2>, the mean over the vertices of its squared
// shape, where strike and contact both act):
//   - a strike, a force F held for D samples: the mode starts at |G_j| F |sum_{m<D} E_j^m| and
//     decays by |E_j| a sample; its mean square over the first 100 ms (what a listener takes as
//     the strike's loudness) is w_j F^2 |sum E^m|^2 (1 - |E|^{2N}) / (N (1 - |E|^2)) / 2;
//   - a scrape at the reference speed, the force F sigma g[n] with g of power spectral density
//     S(omega) per sample: a one-pole resonator's steady mean square is
//     w_j F^2 sigma^2 S(omega_j) / (1 - |E_j|^2) / 2.
// Summed over the modes (modes of different frequencies add in power over 100 ms), equal levels
// give sigma. S is measured from the generator itself (a Welch periodogram of 2^16 samples), so
// the profile's design is followed exactly. The mixing gains are the "ZEP" renderer's, omega_j
// times the transfer magnitude, in root mean square over 14 directions about the object (six
// axes and eight diagonals), so that the default belongs to the object and not to where the
// listener stands.
#pragma once

// The strike the default is matched to: the program's default impact duration, in samples.
constexpr int kDefaultImpactFrames = 10;

class ModalResonator;
class ModeShapeMatrix;
class TransferModel;

// sigma for the profile's default slope (kDefaultContactSlope) and a strike held for
// `impactFrames` samples, from resonators[0 .. modeCount-1], their mixing gains gains[0 ..
// modeCount-1] and the mean squared shapes shapePower[0 .. modeCount-1]. kDefaultContactRoughness
// when no mode sounds (every gain or shape zero).
// Loading code (control or GUI thread): allocates, about 20 ms.
double loudnessMatchedRoughness(const ModalResonator* const* resonators, const double* gains,
                                const double* shapePower, int modeCount, int impactFrames);

// shapePower[j] = the mean over the vertices of |u_j(v)|^2, j < shapes.modeCount.
void meanSquaredShapes(const ModeShapeMatrix& shapes, double* shapePower);

// gains[j] = omega[j] times the root mean square of |transfer j| at 14 points about the model's
// centre (the six axes and the eight diagonals) at three times its sources' largest distance from
// it (one model length unit when all sit at the centre), j < count; 0 for modes the model has no
// entry for. A model without sources: gains[j] = omega[j].
void omnidirectionalZepGains(const TransferModel& transfer, const double* omega, int count,
                             double* gains);
