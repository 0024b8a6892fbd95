// The instruction sets beyond the build's baseline that kernels are compiled for.
#pragma once

// AVX-512 kernels beside the baseline ones (GCC or Clang, x86-64), each compiled for that
// target alone and put into a routine table only where the processor has it.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QMJPEG_AVX512_ROUTINES 1
#endif
