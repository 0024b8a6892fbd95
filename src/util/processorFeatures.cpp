// The instruction sets beyond the build's baseline that this processor and system run.
#include "util/processorFeatures.h"

// The compiler's checks cover the system's support for the register state too: AVX2 (CPUID
// leaf 7 EBX bit 5) counts only where XGETBV shows the YMM state enabled, AVX-512 only where
// it shows the ZMM state as well.
bool processorHasAvx2() {
#if defined(QMJPEG_AVX2_ROUTINES)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
#else
    return false;
#endif
}

bool processorHasAvx512() {
#if defined(QMJPEG_AVX512_ROUTINES)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0;
#else
    return false;
#endif
}
