// The two builds of the audio thread's lane loops (sound/vector_lanes.h) in one test: the build
// the processor runs (AVX2 where it has it) and the baseline build, which a processor with AVX2
// never runs by itself.
#pragma once

#include <gtest/gtest.h>

#include "sound/vector_lanes.h"

// Runs check(useAvx2Lanes) once with each build of the lane loops, the processor's first, under a
// trace naming the build.
template <typename Check>
void forEachLaneBuild(Check check) {
    for (bool avx2 : {processorHasAvx2(), false}) {
        SCOPED_TRACE(avx2 ? "AVX2 lane loops" : "baseline lane loops");
        check(avx2);
    }
}
