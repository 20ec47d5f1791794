// The two builds of the audio thread's lane loops (sound/vector_lanes.h) in one test: the build
// the processor runs (AVX2 where it has it) and the baseline build, which a processor with AVX2
// never runs by itself.
#pragma once

#include <gtest/gtest.h>

#include "sound/vector_lanes.h"

// Runs `check` once with each build of the lane loops, under a trace naming the build, and puts
// useAvx2Lanes back afterwards. No audio block may run meanwhile.
template <typename Check>
void forEachLaneBuild(Check check) {
    const bool processorLanes = useAvx2Lanes;
    for (bool avx2 : {processorLanes, false}) {
        useAvx2Lanes = avx2;
        SCOPED_TRACE(avx2 ? "AVX2 lane loops" : "baseline lane loops");
        check();
    }
    useAvx2Lanes = processorLanes;
}
