// The synthetic scene the audio block benchmarks share, in the program's process-wide synthesis
// state as scene loading leaves it: modes from 40 Hz to 18 kHz with the bell's light damping,
// each with random multipole sources within 0.1 m of the origin at k = omega / 343, the object at
// rest, the "ZEP" renderer and 10-sample impacts.
#pragma once

struct AudioBlockContext;
struct ListenerPoints;

// Sets the scene up for `modes` modes of `sources` sources each (the same random sources for the
// same counts), allocating `context` for them, and publishes `listener`. Nothing but the listener
// is redone when the counts are the last call's.
void setUpSyntheticScene(int modes, int sources, AudioBlockContext& context,
                         const ListenerPoints& listener);

// A strike on every mode (random forces from `seed`), small enough that the mix stays below full
// scale.
void strikeEveryMode(unsigned seed);
