// The instruction sets beyond the build's baseline that kernels are compiled for.
#pragma once

// AVX2 and AVX-512 kernels beside the baseline ones (GCC or Clang, x86-64), each compiled for
// its target alone and put into a routine table only where the processor has it. A build
// configured with QMJPEG_AVX512=OFF defines QMJPEG_NO_AVX512_ROUTINES and has no AVX-512 kernels.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QMJPEG_AVX2_ROUTINES 1
#if !defined(QMJPEG_NO_AVX512_ROUTINES)
#define QMJPEG_AVX512_ROUTINES 1
#endif
#endif
