// Whether this processor and system run the instruction sets beyond the build's baseline that
// kernels are compiled for (util/simdTargets.h). Not part of the encoder's processor class: the
// kernels of every instruction set give the same bytes.
#pragma once

#include "util/simdTargets.h"

// True on x86-64 processors (and systems) with AVX2, where the AVX2 kernels may run.
bool processorHasAvx2();

// True on x86-64 processors (and systems) with AVX-512 F and BW, where the AVX-512 kernels may
// run; always false in a build without them (QMJPEG_AVX512=OFF).
bool processorHasAvx512();

// True where processorHasAvx512() is and the processor also has AVX-512 VBMI (byte
// permutes across the whole register), which the shading-ratio kernel needs.
bool processorHasAvx512Vbmi();
