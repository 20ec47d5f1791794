// The processor check that sets useAvx2Lanes. (An explicit check rather than an ifunc: ifunc
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

bool useAvx2Lanes = detectAvx2();
