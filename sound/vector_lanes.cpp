// The processor check behind the choice of the lane loops' build.
#include "sound/vector_lanes.h"

bool processorHasAvx2() {
#if defined(__x86_64__) && defined(__GNUC__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}
