// The processor check behind kProcessorHasAvx2. (An explicit check rather than an ifunc: ifunc
// resolvers run before the sanitizers' runtimes are ready.)
#include "sound/vector_lanes.h"

namespace {

bool detectAvx2() {
#if defined(__x86_64__) && defined(__GNUC__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

}  // namespace

const bool kProcessorHasAvx2 = detectAvx2();
